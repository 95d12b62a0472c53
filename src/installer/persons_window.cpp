#include "installer/persons_window.h"

#include <tlhelp32.h>

#include "host/win32.h"
#include "installer/console.h"
#include "installer/guidance.h"

namespace {

// What this process can tell of the process that started it.
struct Parent {
  std::wstring image;  // its image's full path; empty where it cannot say
  bool in_another_session = false;
  bool started_later = false;  // than this process: its id is not the parent's any more
};

// The FILETIME `time` as a number, to compare.
ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When `process` was started; 0 where it cannot say.
ULONGLONG StartOf(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  return GetProcessTimes(process, &created, &exited, &kernel, &user) ? Ticks(created) : 0;
}

Parent ParentOf(DWORD own_session) {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent_id = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && parent_id == 0;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent_id = entry.th32ParentProcessID;
  }
  Parent parent;
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  std::wstring path(MAX_PATH, L'\0');
  DWORD size = MAX_PATH;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return parent;
  parent.image = path.substr(0, size);
  DWORD session = 0;
  parent.in_another_session = !ProcessIdToSessionId(parent_id, &session) || session != own_session;
  // A process id is reused once its process has gone: one started after this process cannot
  // have started it.
  const ULONGLONG started = StartOf(process.get());
  parent.started_later = started == 0 || started > StartOf(GetCurrentProcess());
  return parent;
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

// What the text `c` an input method committed chooses: R or C, or nothing.
Choice CommittedChoice(wchar_t c) {
  const Choice choice = LetterChoice(c);
  return choice == Choice::kOther ? Choice::kNone : choice;
}

// Whether the process image `name` is a host that runs scheduled tasks: the Task Scheduler's
// service host, and the task engine that starts a task's actions up to Windows 8.1.
bool IsTaskHost(const std::wstring& name) {
  for (const wchar_t* host : {L"svchost.exe", L"taskeng.exe"}) {
    if (CompareStringOrdinal(name.c_str(), -1, host, -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

// The one window's closing, for the console's handler.
WindowClosing* closing_the_window = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) { return closing_the_window->OnEvent(event); }

}  // namespace

bool APersonWaits(const StartCues& cues) {
  return cues.console_input && cues.console_output && cues.console_processes == 1 &&
         cues.session != 0 && !cues.hidden && !cues.windowless &&
         cues.parent_subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI && !IsTaskHost(cues.parent_name) &&
         !cues.parent_in_another_session && !cues.parent_started_later;
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
  // From Windows 7 on, a console made with CREATE_NO_WINDOW has none (a pseudo console's is
  // one kept for its messages only, never null).
  cues.windowless = GetConsoleWindow() == nullptr;
  const Parent parent = ParentOf(cues.session);
  cues.parent_name = parent.image.substr(parent.image.find_last_of(L'\\') + 1);
  cues.parent_subsystem = parent.image.empty() ? 0 : SubsystemOf(parent.image);
  cues.parent_in_another_session = parent.in_another_session;
  cues.parent_started_later = parent.started_later;
  return APersonWaits(cues);
}

Choice ChoiceOf(const KEY_EVENT_RECORD& key) {
  const wchar_t c = key.uChar.UnicodeChar;
  constexpr DWORD kCtrlOrAlt =
      LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED | LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED;
  // Text sent through a pseudo-console comes as Alt and the digits of its code on the numeric
  // keypad, the character on the release of Alt.
  if (!key.bKeyDown)
    return key.wVirtualKeyCode == VK_MENU && c != 0 ? CommittedChoice(c) : Choice::kNone;
  const WORD virtual_key = key.wVirtualKeyCode;
  if (virtual_key == VK_PROCESSKEY || IsModifier(virtual_key) || (virtual_key == 0 && c == 0))
    return Choice::kNone;
  if ((key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) &&
      virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD9)
    return Choice::kNone;
  if (virtual_key == VK_PACKET || virtual_key == 0) return CommittedChoice(c);
  if (key.dwControlKeyState & kCtrlOrAlt) return Choice::kOther;
  if (virtual_key == kTryAgainKey) return Choice::kTryAgain;
  if (virtual_key == kCloseForMeKey) return Choice::kCloseForMe;
  return c != 0 ? LetterChoice(c) : Choice::kOther;
}

void ShowPrompt(const std::wstring& prompt) {
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
  PrintLine(STD_OUTPUT_HANDLE, prompt);
}

std::optional<KEY_EVENT_RECORD> NextKey() {
  INPUT_RECORD record;
  DWORD read = 0;
  while (ReadConsoleInputW(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT) return record.Event.KeyEvent;
  }
  return std::nullopt;
}

void WindowClosing::Listen() {
  closing_the_window = this;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WindowClosing::Between(int status) {
  AcquireSRWLockExclusive(&lock_);
  status_ = status;
  ReleaseSRWLockExclusive(&lock_);
}

bool WindowClosing::Asked() {
  AcquireSRWLockExclusive(&lock_);
  const bool asked = asked_;
  ReleaseSRWLockExclusive(&lock_);
  return asked;
}

BOOL WindowClosing::OnEvent(DWORD event) {
  AcquireSRWLockExclusive(&lock_);
  const int between_runs = status_;
  const bool in_progress = run_in_progress_;
  asked_ = true;
  // The window is closing: Windows ends the program a few seconds after this event whatever it
  // is doing, so what it closed for the run is reopened first; the run has what time is left,
  // and a run cut off is undone by the next.
  const bool closing = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  if (in_progress && closing && reopens_ != nullptr) reopens_->Reopen();
  ReleaseSRWLockExclusive(&lock_);
  if (!in_progress) {
    end_(static_cast<UINT>(between_runs));
    return TRUE;
  }
  // Ctrl+C and Ctrl+Break: the run goes on, and the program ends after it.
  if (!closing) return TRUE;
  WaitForSingleObject(run_ended_.get(), INFINITE);
  AcquireSRWLockExclusive(&lock_);
  const int status = status_;
  ReleaseSRWLockExclusive(&lock_);
  end_(static_cast<UINT>(status));
  return TRUE;
}

WindowClosing::RunInProgress::RunInProgress(WindowClosing& closing) : closing_(closing) {
  ResetEvent(closing_.run_ended_.get());
  AcquireSRWLockExclusive(&closing_.lock_);
  closing_.run_in_progress_ = true;
  closing_.asked_ = false;
  ReleaseSRWLockExclusive(&closing_.lock_);
}

WindowClosing::RunInProgress::~RunInProgress() {
  AcquireSRWLockExclusive(&closing_.lock_);
  closing_.run_in_progress_ = false;
  closing_.reopens_ = nullptr;
  ReleaseSRWLockExclusive(&closing_.lock_);
  SetEvent(closing_.run_ended_.get());
}

HolderSession& WindowClosing::RunInProgress::SessionOn(const std::wstring& file) {
  session_.emplace(file);
  AcquireSRWLockExclusive(&closing_.lock_);
  closing_.reopens_ = &*session_;
  ReleaseSRWLockExclusive(&closing_.lock_);
  return *session_;
}

void WindowClosing::RunInProgress::CameTo(int status) { closing_.Between(status); }
