// What the installer program (not the tests) takes of the C and C++ runtimes: its own start,
// and the C++ runtime's last resorts.
//
// The program starts here rather than in MinGW's start-up code, which prepares what it never
// uses (command-line parsing, the C runtime's streams and exit handlers, thread-local storage,
// a crash handler, relocations of data imported from DLLs: the link refuses any) and carried
// about 9 KiB of code, tables and imports. Static constructors still run first.
//
// People download the installer into a folder anyone's web page can drop a file into, and run
// it from there with administrator rights: no DLL may ever be taken from the program's own
// folder. The image asks Windows (10 1607 and later) to resolve even the loader's own loads
// from the system folder, and the program's first act narrows the search for every later load.
//
// The installer catches no exception. Its standard library would raise one where memory ran
// out or a string would exceed its largest possible size, and where the program itself is at
// fault (a position past the end of a string, a null pointer made a string); either way the
// run cannot go on. Ending the run right here, with exit status 2 and a line on standard error
// that says which it was, means the program carries no exception machinery at all: no unwinder, no
// exception classes with their strings, no terminate handler with its name demangler, and no thread
// runtime for them. Together with compiling the standard string code into the program
// (cmake/implicit_templates.h), that is about 250 KB of what would otherwise be a 320 KB image.
#include <windows.h>

#include <cstdlib>
#include <initializer_list>
#include <new>

#include "installer/exit_status.h"

// The image's load configuration (found through the symbol's name: the build writes its place
// into the image's header, as the linker does not). Its dependent load flags, the WORD at 0x36
// of the 32-bit structure, which these headers still call Reserved1, restrict the loader's own
// loads of the DLLs the image imports. No exception handler is declared safe: the image
// registers none, and is linked as using none (--no-seh).
constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfiguration() {
  IMAGE_LOAD_CONFIG_DIRECTORY configuration{};
  configuration.Size = sizeof configuration;
  configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags
  return configuration;
}
extern "C" __attribute__((used)) const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used =
    LoadConfiguration();

namespace {

// Only the system folder is searched for DLLs from here on. Looked up, not imported: Vista, and
// 7 without update KB2533623, lack it, and an import would keep the program from starting there.
// Where it is missing, the current folder at least leaves the search.
void SearchSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default == nullptr || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

// Ends the run where it cannot go on, for `reason`; a later run finishes or undoes it.
[[noreturn]] void Abandon(const char* reason) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  for (const char* part : {"installation failed: the installer ", reason,
                           "; run it again to finish or undo this run\r\n"}) {
    DWORD written = 0;
    WriteFile(error, part, static_cast<DWORD>(lstrlenA(part)), &written, nullptr);
  }
  ExitProcess(ExitCodeOf(Outcome::kFailed));
}

[[noreturn]] void OutOfMemory() { Abandon("ran out of memory"); }
[[noreturn]] void InternalFault() { Abandon("met a fault of its own"); }

}  // namespace

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  OutOfMemory();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The C runtime's own: the arguments and environment in wide form, as its start-up code hands
// them to wmain.
struct StartupInfo {
  int new_mode;
};
extern "C" int __wgetmainargs(int*, wchar_t***, wchar_t***, int, StartupInfo*);
int wmain(int, wchar_t**, wchar_t**);

// The static constructors, run as MinGW's __main runs them (without the unwind tables its
// library carries): the linker lists them after a first entry of -1 and ends the list with a
// null, and they run from the last to the first.
using Constructor = void (*)();
extern "C" Constructor __CTOR_LIST__[];
void RunStaticConstructors() {
  size_t count = 1;
  while (__CTOR_LIST__[count] != nullptr) ++count;
  while (--count > 0) __CTOR_LIST__[count]();
}

// The entry point of the image (see CMakeLists.txt).
extern "C" void WINAPI OrvexStart() {
  SearchSystemFolderOnly();
  int count = 0;
  wchar_t** arguments = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo startup{0};
  __wgetmainargs(&count, &arguments, &environment, 0, &startup);
  RunStaticConstructors();
  ExitProcess(static_cast<UINT>(wmain(count, arguments, environment)));
}

// Static constructors register their destructors here; the program ends with ExitProcess and
// has nothing to clean up.
extern "C" int atexit(void (*)(void)) { return 0; }

// Where the standard library would throw.
namespace std {
void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char*) { OutOfMemory(); }
void __throw_logic_error(const char*) { InternalFault(); }
void __throw_out_of_range_fmt(const char*, ...) { InternalFault(); }
}  // namespace std
