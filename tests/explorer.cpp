// A stand-in for Explorer, a browser or an archive manager, and for the person at the machine:
// it starts the installer as a double-click does, with a console of its own, reads what the
// window shows and presses keys. Built as a graphical program (explorer.exe, copied under any
// name) and as a console one (console_parent.exe), it plays a parent of either kind.
//   explorer.exe MODE INSTALLER SIGN PROMPT TRANSCRIPT [KEYS]
// MODE: person      a console of its own; once SIGN exists (the run is under way, so the
//                   installer has decided whether it will wait), for each of KEYS (Enter where
//                   none are given): waits for the window to show PROMPT once more, writes what
//                   it shows to TRANSCRIPT (UTF-8, after a line "[N columns]" with the window's
//                   width), makes sure the installer is waiting, and presses the key. Before a
//                   key, "!" closes the program ORVEX_TEST_HOLDER names ("NAME|PROCESS-ID"), as
//                   the person closes Orvex Pro. "Ｒ" is typed through an input method (a
//                   composition key, a candidate not meant committed as VK_PACKET, then the
//                   same for the full-width letter). "^"
//                   presses Ctrl+C half a second after the key before it, then waits for the
//                   installer to end and writes what the window shows then.
//       alone       a console of its own; nobody presses anything
//       argument    the same, the installer started with an argument (/S), as a program may
//       hidden      a console of its own, its window hidden; nobody presses anything
//       nowindow    a console of its own without a window (CREATE_NO_WINDOW)
//       redirected  a console of its own, but standard handles on files
//       shared      the console this process opens for itself
// Its exit status is the installer's, or kept waiting (1000) when nobody pressed a key and the
// installer did not end, or did not wait (1001) when it ended before the key.
//   explorer.exe hold FILE EVENT
// Stands in for Orvex Pro keeping FILE open as it reads it; signals EVENT once it does, and
// holds it until ended.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <initializer_list>
#include <string>

namespace {

constexpr DWORD kKeptWaiting = 1000;
constexpr DWORD kDidNotWait = 1001;
constexpr DWORD kPatienceMs = 30'000;

// What the console window shows, a line per row, trailing blanks left out.
std::wstring ScreenText() {
  const HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::wstring text;
  if (GetConsoleScreenBufferInfo(screen, &info)) {
    text = L"[" + std::to_wstring(info.srWindow.Right - info.srWindow.Left + 1) + L" columns]\n";
    std::wstring row(info.dwSize.X, L' ');
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
      DWORD read = 0;
      ReadConsoleOutputCharacterW(screen, row.data(), info.dwSize.X, {0, y}, &read);
      text += row.substr(0, row.find_last_not_of(L' ') + 1) + L"\n";
    }
  }
  CloseHandle(screen);
  return text.substr(0, text.find_last_not_of(L'\n') + 1);
}

// Writes key records into the window's input, each pressed and released.
void Type(std::initializer_list<KEY_EVENT_RECORD> keys) {
  const HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  for (KEY_EVENT_RECORD key : keys) {
    INPUT_RECORD records[2] = {};
    for (int i = 0; i < 2; ++i) {
      records[i].EventType = KEY_EVENT;
      records[i].Event.KeyEvent = key;
      records[i].Event.KeyEvent.bKeyDown = i == 0;
      records[i].Event.KeyEvent.wRepeatCount = 1;
    }
    DWORD written = 0;
    WriteConsoleInputW(input, records, 2, &written);
  }
  CloseHandle(input);
}

KEY_EVENT_RECORD Key(WORD virtual_key, wchar_t c) {
  KEY_EVENT_RECORD key{};
  key.wVirtualKeyCode = virtual_key;
  key.uChar.UnicodeChar = c;
  return key;
}

// Presses Enter, or the letter `key` (given in upper case, typed in lower case), or types the
// full-width R through an input method, after a candidate the person did not mean.
void PressKey(wchar_t key) {
  if (key == L'\r') return Type({Key(VK_RETURN, L'\r')});
  if (key == L'Ｒ')
    return Type(
        {Key(VK_PROCESSKEY, 0), Key(VK_PACKET, L'人'), Key(VK_PROCESSKEY, 0), Key(VK_PACKET, key)});
  Type({Key(key, static_cast<wchar_t>(key - L'A' + L'a'))});
}

// How many times `text` holds `part`.
size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

void WriteTranscript(const wchar_t* transcript, const std::wstring& shown) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, shown.data(), static_cast<int>(shown.size()), utf8.data(), size,
                      nullptr, nullptr);
  const HANDLE file = CreateFileW(transcript, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(file);
}

// The installer's exit status, or kKeptWaiting where it did not end.
int Status(const PROCESS_INFORMATION& process) {
  if (WaitForSingleObject(process.hProcess, kPatienceMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, kKeptWaiting);
    return kKeptWaiting;
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}

// Presses Ctrl+C in the window of `process` (this process ignoring it), and once the installer
// has ended, writes what the window shows then; the installer's exit status. Staying attached
// keeps the window there.
int PressCtrlC(const PROCESS_INFORMATION& process, const wchar_t* transcript) {
  Sleep(500);
  if (!AttachConsole(process.dwProcessId)) return kDidNotWait;
  SetConsoleCtrlHandler(nullptr, TRUE);
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  const int status = Status(process);
  WriteTranscript(transcript, ScreenText());
  FreeConsole();
  return status;
}

// Ends the program ORVEX_TEST_HOLDER names, and waits until it has.
void CloseTheHolder() {
  wchar_t holder[300] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder, 300);
  const wchar_t* separator = wcschr(holder, L'|');
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                     separator ? wcstoul(separator + 1, nullptr, 10) : 0);
  TerminateProcess(process, 0);
  WaitForSingleObject(process, kPatienceMs);
  CloseHandle(process);
}

// Reads the window of `process` as a person would, and presses `key` once it asks a time more
// than `asked` (closing the holder first where `close_first` says).
DWORD ActAsThePerson(const PROCESS_INFORMATION& process, const wchar_t* sign,
                     const std::wstring& prompt, const wchar_t* transcript, size_t asked,
                     wchar_t key, bool close_first) {
  FreeConsole();  // any its own starter gave it: only one console can be attached
  const ULONGLONG start = GetTickCount64();
  while (GetFileAttributesW(sign) == INVALID_FILE_ATTRIBUTES &&
         GetTickCount64() - start < kPatienceMs)
    Sleep(10);
  std::wstring shown;
  while (GetTickCount64() - start < kPatienceMs) {
    if (AttachConsole(process.dwProcessId)) {
      shown = ScreenText();
      if (Count(shown, prompt) > asked) break;
      FreeConsole();
    }
    Sleep(50);
  }
  WriteTranscript(transcript, shown);
  // Still there a moment after the prompt: it waits for the key.
  if (WaitForSingleObject(process.hProcess, 500) == WAIT_OBJECT_0) return kDidNotWait;
  if (close_first) CloseTheHolder();
  PressKey(key);
  FreeConsole();
  return 0;
}

int Act() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv != nullptr && count == 4 && std::wstring(argv[1]) == L"hold") {
    const HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    Sleep(INFINITE);
  }
  if (argv == nullptr || count < 6) return 2;
  const std::wstring mode = argv[1];
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
  if (mode == L"argument") command += L" /S";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  DWORD flags = CREATE_NEW_CONSOLE;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (mode == L"redirected") {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    // Shared: the console host Wine starts for the new console inherits it and may linger.
    startup.hStdOutput = startup.hStdError =
        CreateFileW(argv[5], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, 0, nullptr);
  } else if (mode == L"shared") {
    AllocConsole();
    flags = 0;
  } else if (mode == L"hidden") {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  } else if (mode == L"nowindow") {
    flags = CREATE_NO_WINDOW;
  }
  PROCESS_INFORMATION process{};
  const bool inherit_handles = (startup.dwFlags & STARTF_USESTDHANDLES) != 0;
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, inherit_handles, flags, nullptr,
                      nullptr, &startup, &process))
    return 3;
  if (mode == L"person") {
    const std::wstring keys = count > 6 ? argv[6] : L"\r";
    for (size_t at = 0, asked = 0; at < keys.size(); ++at, ++asked) {
      if (keys[at] == L'^') return PressCtrlC(process, argv[5]);
      const bool close_first = keys[at] == L'!' && ++at < keys.size();
      if (const DWORD failed =
              ActAsThePerson(process, argv[3], argv[4], argv[5], asked, keys[at], close_first))
        return failed;
    }
  }
  return Status(process);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Act(); }
int wmain(int, wchar_t**) { return Act(); }
