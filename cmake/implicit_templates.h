// Force-included into the installer's own C++ sources.
//
// The C++ library ships prebuilt copies of std::string and std::wstring and normally tells the
// compiler to use them. Those copies hold every member, used or not, and are built with
// exceptions, so linking them pulls the whole exception runtime into the program. Compiled
// here instead, only the members the installer uses are kept, without exceptions.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
