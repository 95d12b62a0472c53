#include "installer/installer.h"

// Arguments and environment are not read: the registry is the only input.
int wmain(int, wchar_t**, wchar_t**) { return RunInstaller(); }
