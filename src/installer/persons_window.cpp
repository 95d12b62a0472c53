#include "installer/persons_window.h"

#include <tlhelp32.h>

#include "host/win32.h"
#include "installer/console.h"
#include "installer/guidance.h"

namespace {

// What this process can tell of the process that started it.
struct Parent {
  std::wstring name;   // its image file name, from the list of processes; empty where it has gone
  std::wstring image;  // its image's full path; empty where it cannot be asked
  std::optional<bool> in_another_session;
  std::optional<bool> started_later;  // than this process: its id is not the parent's any more
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

// The entry of the process `id` in the list `snapshot`; none where it is not listed.
std::optional<PROCESSENTRY32W> EntryOf(HANDLE snapshot, DWORD id) {
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == id) return entry;
  }
  return std::nullopt;
}

Parent ParentOf(DWORD own_session) {
  Parent parent;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  const std::optional<PROCESSENTRY32W> self = EntryOf(snapshot.get(), GetCurrentProcessId());
  const DWORD parent_id = self ? self->th32ParentProcessID : 0;
  const std::optional<PROCESSENTRY32W> listed =
      parent_id != 0 ? EntryOf(snapshot.get(), parent_id) : std::nullopt;
  if (!listed) return parent;
  parent.name = listed->szExeFile;
  // A parent another account runs (its elevation over the shoulder, say) cannot be asked with
  // this process's rights: what it is stays unknown.
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!process) return parent;
  std::wstring path(MAX_PATH, L'\0');
  DWORD size = MAX_PATH;
  if (QueryFullProcessImageNameW(process.get(), 0, path.data(), &size))
    parent.image = path.substr(0, size);
  DWORD session = 0;
  if (ProcessIdToSessionId(parent_id, &session)) parent.in_another_session = session != own_session;
  // A process id is reused once its process has gone: one started after this process cannot
  // have started it.
  const ULONGLONG started = StartOf(process.get());
  if (started != 0) parent.started_later = started > StartOf(GetCurrentProcess());
  return parent;
}

// Whether the console's window is there to be seen, as user32 says; asked only where every other
// cue says a person waits, since loading user32 changes what the console's handler hears (logging
// off and shutting down no longer reach it). Where user32 cannot be loaded from the system folder
// alone (Vista without KB2533623), the window counts as shown: the wait ends by itself.
void AskUser32(HWND window, StartCues& cues) {
  const UniqueModule user32(LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!user32) return;
  using Ask = BOOL(WINAPI*)(HWND);
  const auto is_window = ProcedureOf<Ask>(user32.get(), "IsWindow");
  const auto visible = ProcedureOf<Ask>(user32.get(), "IsWindowVisible");
  if (is_window != nullptr) cues.is_window = is_window(window) != FALSE;
  if (visible != nullptr) cues.visible = visible(window) != FALSE;
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

// Whether the process image `name` runs programs with nobody watching: the Task Scheduler's
// service host, the task engine that starts a task's actions up to Windows 8.1, and winget's COM
// server, which starts an installer as a double-click would, behind its PowerShell module and
// graphical front ends.
bool IsUnattendedHost(const std::wstring& name) {
  for (const wchar_t* host : {L"svchost.exe", L"taskeng.exe", L"WindowsPackageManagerServer.exe"}) {
    if (CompareStringOrdinal(name.c_str(), -1, host, -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

// Whether the console's window, as `cues` have it, is one a person sees.
bool ConsoleWindowShown(const StartCues& cues) {
  return cues.console_window && cues.is_window && (cues.visible || !cues.vista);
}

// The one window's closing, for the console's handler, which may still be called after the
// object has gone: it takes the lock that the object's end takes.
SRWLOCK handler_lock = SRWLOCK_INIT;
WindowClosing* closing_the_window = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  AcquireSRWLockShared(&handler_lock);
  const BOOL handled = closing_the_window != nullptr ? closing_the_window->OnEvent(event) : FALSE;
  ReleaseSRWLockShared(&handler_lock);
  return handled;
}

}  // namespace

bool APersonWaits(const StartCues& cues) {
  if (cues.arguments || !cues.console_input || !cues.console_output ||
      cues.console_processes != 1 || cues.session == 0 || cues.hidden || !ConsoleWindowShown(cues))
    return false;
  if (cues.parent_name.empty() || IsUnattendedHost(cues.parent_name)) return false;
  return cues.parent_subsystem.value_or(IMAGE_SUBSYSTEM_WINDOWS_GUI) ==
             IMAGE_SUBSYSTEM_WINDOWS_GUI &&
         !cues.parent_in_another_session.value_or(false) &&
         !cues.parent_started_later.value_or(false);
}

bool StartedByAPerson(bool arguments) {
  StartCues cues;
  cues.arguments = arguments;
  cues.console_input = IsConsole(STD_INPUT_HANDLE);
  cues.console_output = IsConsole(STD_OUTPUT_HANDLE);
  // Programs pass arguments and unattended runs redirect their output: they ask nothing more.
  if (arguments || !cues.console_input || !cues.console_output) return false;
  DWORD processes[2];
  cues.console_processes = GetConsoleProcessList(processes, 2);
  ProcessIdToSessionId(GetCurrentProcessId(), &cues.session);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  cues.hidden = (startup.dwFlags & STARTF_USESHOWWINDOW) && startup.wShowWindow == SW_HIDE;
  const HWND window = GetConsoleWindow();
  cues.console_window = window != nullptr;
  const DWORD version = GetVersion();
  cues.vista = LOBYTE(LOWORD(version)) == 6 && HIBYTE(LOWORD(version)) == 0;
  const Parent parent = ParentOf(cues.session);
  cues.parent_name = parent.name;
  if (!parent.image.empty()) {
    if (const WORD subsystem = SubsystemOf(parent.image)) cues.parent_subsystem = subsystem;
  }
  cues.parent_in_another_session = parent.in_another_session;
  cues.parent_started_later = parent.started_later;
  if (!APersonWaits(cues)) return false;
  AskUser32(window, cues);
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

std::optional<KEY_EVENT_RECORD> NextKey(ULONGLONG deadline) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
    if (WaitForSingleObject(input, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0) break;
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read != 1) break;
    if (record.EventType == KEY_EVENT) return record.Event.KeyEvent;
  }
  return std::nullopt;
}

WindowClosing::~WindowClosing() {
  if (!listening_) return;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  // Taking the handler out does not wait for one already running, which may still use this.
  AcquireSRWLockExclusive(&handler_lock);
  closing_the_window = nullptr;
  ReleaseSRWLockExclusive(&handler_lock);
}

void WindowClosing::Listen() {
  AcquireSRWLockExclusive(&handler_lock);
  closing_the_window = this;
  ReleaseSRWLockExclusive(&handler_lock);
  listening_ = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
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
  const bool closing = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  if (in_progress && closing) ReopenFirst();
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

// The window is closing during a run: Windows ends the program a few seconds after this event
// whatever it is doing, so what it closed for the run is reopened first. Closing programs may
// take longer than that (each one's hung-app timeout), so it is called off; and none is reopened
// onto a set half replaced: a replacement under way ends first, finished or undone, and none
// begins after. The run has what time is left; one cut off is undone by the next.
void WindowClosing::ReopenFirst() {
  if (reopens_ == nullptr) return;
  reopens_->CancelClose();
  replacing_.Shut();
  reopens_->Reopen();
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
