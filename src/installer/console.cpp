#include "installer/console.h"

#include <tlhelp32.h>

#include "host/win32.h"

namespace {

int exit_status = 0;

BOOL WINAPI EndWithStatus(DWORD) { ExitProcess(static_cast<UINT>(exit_status)); }

// Whether the process that started this one is named explorer.exe.
bool ParentIsExplorer() {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  // The parent's entry may come before this process's: two passes.
  for (int pass = 0; pass < 2; ++pass) {
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
      if (pass == 0 && entry.th32ProcessID == GetCurrentProcessId())
        parent = entry.th32ParentProcessID;
      if (pass == 1 && parent != 0 && entry.th32ProcessID == parent)
        return CompareStringOrdinal(entry.szExeFile, -1, L"explorer.exe", -1, TRUE) == CSTR_EQUAL;
    }
  }
  return false;
}

bool IsModifier(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN ||
         key == VK_RWIN || key == VK_CAPITAL || key == VK_NUMLOCK || key == VK_SCROLL;
}

}  // namespace

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

void PrintLine(DWORD which, const std::wstring& line) {
  const std::wstring text = line + L"\r\n";
  const HANDLE stream = GetStdHandle(which);
  DWORD written = 0;
  if (IsConsole(which)) {
    WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = Utf8(text);
  WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

bool StartedFromExplorer() {
  DWORD processes[2];
  DWORD session = 0;
  return IsConsole(STD_INPUT_HANDLE) && IsConsole(STD_OUTPUT_HANDLE) &&
         GetConsoleProcessList(processes, 2) == 1 &&
         ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != 0 &&
         ParentIsExplorer();
}

WORD WaitForKey(const std::wstring& prompt, int status) {
  exit_status = status;
  SetConsoleCtrlHandler(EndWithStatus, TRUE);
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // A key pressed before the prompt appeared does not count.
  FlushConsoleInputBuffer(input);
  PrintLine(STD_OUTPUT_HANDLE, prompt);
  INPUT_RECORD record;
  DWORD read = 0;
  constexpr DWORD kCtrlOrAlt =
      LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    if (record.EventType == KEY_EVENT && key.bKeyDown && !IsModifier(key.wVirtualKeyCode))
      return key.dwControlKeyState & kCtrlOrAlt ? 0 : key.wVirtualKeyCode;
  }
  return 0;
}
