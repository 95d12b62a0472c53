#include "installer/persons_window.h"

#include <tlhelp32.h>

#include "host/win32.h"
#include "installer/console.h"
#include "installer/guidance.h"

namespace {

// The full path of the image of the process that started this one; empty where it cannot say.
std::wstring ParentImage() {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && parent == 0;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent));
  std::wstring path(MAX_PATH, L'\0');
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return {};
  path.resize(size);
  return path;
}

// The subsystem an image's header declares (IMAGE_SUBSYSTEM_WINDOWS_GUI, _CUI, ...); 0 where
// it cannot be read. A 32-bit process asking of a 64-bit parent in the system folder would be
// led to the 32-bit one: the header is read from where the path says.
WORD SubsystemOf(const std::wstring& image) {
  void* redirection = nullptr;
  const BOOL redirected = Wow64DisableWow64FsRedirection(&redirection);
  const UniqueHandle file(CreateFileW(image.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  if (redirected) Wow64RevertWow64FsRedirection(redirection);
  char header[1024] = {};
  DWORD read = 0;
  if (!file || !ReadFile(file.get(), header, sizeof header, &read, nullptr)) return 0;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(header);
  const LONG nt = read >= sizeof *dos && dos->e_magic == IMAGE_DOS_SIGNATURE ? dos->e_lfanew : 0;
  // The subsystem sits at the same place in 32-bit and 64-bit optional headers.
  const size_t at = static_cast<size_t>(nt) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                    offsetof(IMAGE_OPTIONAL_HEADER32, Subsystem);
  if (nt <= 0 || at + sizeof(WORD) > read ||
      *reinterpret_cast<const DWORD*>(header + nt) != IMAGE_NT_SIGNATURE)
    return 0;
  return *reinterpret_cast<const WORD*>(header + at);
}

bool IsModifier(WORD key) {
  return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_LWIN ||
         key == VK_RWIN || key == VK_CAPITAL || key == VK_NUMLOCK || key == VK_SCROLL;
}

// What the letter `c` chooses, in either case and width.
Choice LetterChoice(wchar_t c) {
  if (c >= 0xFF21 && c <= 0xFF5A) c = static_cast<wchar_t>(c - 0xFF21 + L'A');  // full-width
  if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (c == kTryAgainKey) return Choice::kTryAgain;
  if (c == kCloseForMeKey) return Choice::kCloseForMe;
  return Choice::kOther;
}

// The person's wish to close, and the run it waits for. The handler runs on a thread of its
// own, while the main thread may be in a run.
SRWLOCK state_lock = SRWLOCK_INIT;
int end_status = 0;
bool run_in_progress = false;
bool close_asked = false;
HANDLE run_ended = nullptr;  // set once a run the person asked for has ended

BOOL WINAPI OnClose(DWORD event) {
  AcquireSRWLockExclusive(&state_lock);
  if (!run_in_progress) ExitProcess(static_cast<UINT>(end_status));
  close_asked = true;
  ReleaseSRWLockExclusive(&state_lock);
  // Ctrl+C and Ctrl+Break: the run goes on and the program ends after it. Closing the window,
  // logging off or shutting down: the system ends the program once this returns, or after a
  // few seconds; the run uses them, and what is ended then is a killed run, which the next run
  // undoes.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  WaitForSingleObject(run_ended, INFINITE);
  AcquireSRWLockExclusive(&state_lock);
  ExitProcess(static_cast<UINT>(end_status));
}

}  // namespace

bool APersonWaits(const StartCues& cues) {
  return cues.console_input && cues.console_output && cues.console_processes == 1 &&
         cues.session != 0 && !cues.hidden &&
         cues.parent_subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI &&
         CompareStringOrdinal(cues.parent_name.c_str(), -1, L"svchost.exe", -1, TRUE) != CSTR_EQUAL;
}

bool StartedByAPerson() {
  StartCues cues;
  cues.console_input = IsConsole(STD_INPUT_HANDLE);
  cues.console_output = IsConsole(STD_OUTPUT_HANDLE);
  // Unattended runs redirect their output: they ask nothing more.
  if (!cues.console_input || !cues.console_output) return false;
  DWORD processes[2];
  cues.console_processes = GetConsoleProcessList(processes, 2);
  ProcessIdToSessionId(GetCurrentProcessId(), &cues.session);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  cues.hidden = (startup.dwFlags & STARTF_USESHOWWINDOW) && startup.wShowWindow == SW_HIDE;
  const std::wstring parent = ParentImage();
  cues.parent_name = parent.substr(parent.find_last_of(L'\\') + 1);
  cues.parent_subsystem = parent.empty() ? 0 : SubsystemOf(parent);
  return APersonWaits(cues);
}

Choice ChoiceOf(const KEY_EVENT_RECORD& key) {
  const wchar_t c = key.uChar.UnicodeChar;
  constexpr DWORD kCtrlOrAlt =
      LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
  // Text sent through a pseudo-console comes as Alt and the digits of its code on the numeric
  // keypad, the character on the release of Alt.
  if (!key.bKeyDown)
    return key.wVirtualKeyCode == VK_MENU && c != 0 ? LetterChoice(c) : Choice::kNone;
  const WORD virtual_key = key.wVirtualKeyCode;
  if (virtual_key == VK_PROCESSKEY || IsModifier(virtual_key) || (virtual_key == 0 && c == 0))
    return Choice::kNone;
  if ((key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) &&
      virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD9)
    return Choice::kNone;
  if (key.dwControlKeyState & kCtrlOrAlt) return Choice::kOther;
  if (virtual_key == kTryAgainKey) return Choice::kTryAgain;
  if (virtual_key == kCloseForMeKey) return Choice::kCloseForMe;
  return c != 0 ? LetterChoice(c) : Choice::kOther;
}

Choice WaitForChoice(const std::wstring& prompt) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // A key pressed before the prompt appeared does not count.
  FlushConsoleInputBuffer(input);
  PrintLine(STD_OUTPUT_HANDLE, prompt);
  INPUT_RECORD record;
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    if (record.EventType != KEY_EVENT) continue;
    const Choice choice = ChoiceOf(record.Event.KeyEvent);
    if (choice != Choice::kNone) return choice;
  }
  return Choice::kOther;
}

void EndOnCloseWith(int status) {
  AcquireSRWLockExclusive(&state_lock);
  end_status = status;
  ReleaseSRWLockExclusive(&state_lock);
  if (run_ended == nullptr) {
    run_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnClose, TRUE);
  }
}

void RunBegins() {
  ResetEvent(run_ended);
  AcquireSRWLockExclusive(&state_lock);
  run_in_progress = true;
  ReleaseSRWLockExclusive(&state_lock);
}

bool RunEnded(int status) {
  AcquireSRWLockExclusive(&state_lock);
  end_status = status;
  run_in_progress = false;
  const bool asked = close_asked;
  ReleaseSRWLockExclusive(&state_lock);
  SetEvent(run_ended);
  return asked;
}
