// The C++ runtime's last resorts, for the installer program (not the tests).
//
// The installer catches no exception. The only ones its standard library could raise say that
// memory ran out or that a string would exceed its largest possible size; either way the run
// cannot go on. Ending the run right here, with exit status 2 and a line on standard error,
// means the program carries no exception machinery at all: no unwinder, no exception classes
// with their strings, no terminate handler with its name demangler, and no thread runtime for
// them. Together with compiling the standard string code into the program
// (cmake/implicit_templates.h), that is about 250 KB of what would otherwise be a 320 KB image.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "installer/installer.h"

namespace {

[[noreturn]] void Abandon() {
  static const char kMessage[] =
      "installation failed: the installer ran out of memory; run it again to finish or undo "
      "this run\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
  ExitProcess(kExitFailed);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  Abandon();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

// Where the standard library would throw.
namespace std {
void __throw_bad_alloc() { Abandon(); }
void __throw_bad_array_new_length() { Abandon(); }
void __throw_length_error(const char*) { Abandon(); }
void __throw_logic_error(const char*) { Abandon(); }
void __throw_out_of_range_fmt(const char*, ...) { Abandon(); }
}  // namespace std
