// What the installer program (not the tests) takes of the C and C++ runtimes: its own start,
// and the C++ runtime's last resorts.
//
// The program starts here rather than in MinGW's start-up code, which prepares what it never
// uses (command-line parsing, the C runtime's streams and exit handlers, thread-local storage,
// a crash handler, relocations of data imported from DLLs: the link refuses any) and carried
// about 9 KiB of code, tables and imports. Static constructors still run first.
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

// The C runtime's own: the arguments and environment in wide form, as its start-up code hands
// them to wmain, and the static constructors.
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int*, wchar_t***, wchar_t***, int, StartupInfo*);
extern "C" void __main();
int wmain(int, wchar_t**, wchar_t**);

// The entry point of the image (see CMakeLists.txt).
extern "C" void WINAPI OrvexStart() {
  int count = 0;
  wchar_t** arguments = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo startup{0};
  __wgetmainargs(&count, &arguments, &environment, 0, &startup);
  __main();
  ExitProcess(static_cast<UINT>(wmain(count, arguments, environment)));
}

// Static constructors register their destructors here; the program ends with ExitProcess and
// has nothing to clean up.
extern "C" int atexit(void (*)(void)) { return 0; }

// Where the standard library would throw.
namespace std {
void __throw_bad_alloc() { Abandon(); }
void __throw_bad_array_new_length() { Abandon(); }
void __throw_length_error(const char*) { Abandon(); }
void __throw_logic_error(const char*) { Abandon(); }
void __throw_out_of_range_fmt(const char*, ...) { Abandon(); }
}  // namespace std
