// The window a person opened by starting the program from a graphical program (Explorer, a
// browser's download list, an archive manager): who gets it, the keys read in it, and what
// closing it does. It closes the moment the program ends, so the program waits for a key
// before it ends; nothing unattended ever waits.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "installer/exit_status.h"
#include "installer/file_holders.h"
#include "installer/guidance.h"
#include "installer/replacing_gate.h"
#include "installer/report.h"

// What deciding whether a person waits at the window rests on, as found at start-up.
struct StartCues {
  bool arguments = false;       // started with any argument: by a program, not a double-click
  bool console_input = false;   // standard input is a console
  bool console_output = false;  // standard output is a console
  DWORD console_processes = 0;  // how many processes that console serves
  DWORD session = 0;            // the session the program runs in
  bool hidden = false;          // started with its window hidden (STARTUPINFO, SW_HIDE)
  // The console's window: GetConsoleWindow gave one, it is a window (IsWindow: on Windows 10
  // 1809 a console made with CREATE_NO_WINDOW gets a value that is not), and it is shown
  // (IsWindowVisible, which counts on Vista alone: a pseudo console's window is never shown).
  bool console_window = false;
  bool is_window = true;
  bool visible = true;
  bool vista = false;  // Windows Vista (6.0), where such a console gets a hidden window
  // The parent: its image file name ("msedge.exe"; empty where it has gone), and what could be
  // read of it; none of these where it cannot be asked (another account's process).
  std::wstring parent_name;
  std::optional<WORD> parent_subsystem;  // the subsystem of its image
  std::optional<bool> parent_in_another_session;
  std::optional<bool> parent_started_later;  // its id is another program's, started since
};

// Whether a person waits at the window: started with no argument, its input and output are a
// console that serves this process alone, in a user's session, in a window that is shown, and
// the program that started it is a graphical one, in the same session, and still the parent. A
// console parent (cmd, PowerShell, a script's start, a terminal's shell), a hidden start, a
// console without a window, session 0, a parent in another session or gone, and the hosts that
// run programs unattended (svchost.exe and taskeng.exe for scheduled tasks, winget's
// WindowsPackageManagerServer.exe) never wait. What cannot be read of the parent does not keep
// a person from the window: the wait ends by itself (kPromptWaitMinutes).
bool APersonWaits(const StartCues& cues);

// APersonWaits for this process, started with `arguments` or none. Ask at start-up, while the
// parent is surely still there and before anyone else could attach to the console.
bool StartedByAPerson(bool arguments);

// What a key in the window chooses.
enum class Choice {
  kNone,        // nothing: a modifier alone, an input method composing, or committing other text
  kTryAgain,    // R
  kCloseForMe,  // C
  kOther,       // any other key
};

// What `key` chooses. R and C count however they arrive: the key itself (whatever the
// keyboard's language), or the letter, half-width or full-width, in either case, as an input
// method commits it (with VK_PACKET, with no key at all, or on the release of Alt). Other text
// an input method commits, such as a candidate the person did not mean, chooses nothing: only a
// real key closes the window. A key pressed with Ctrl or Alt is another key.
Choice ChoiceOf(const KEY_EVENT_RECORD& key);

// Shows `prompt` in the window; a key pressed before it appeared does not count.
void ShowPrompt(const std::wstring& prompt);

// The next key pressed in the window before `deadline` (GetTickCount64); none where the time is
// up first, or the console cannot be read.
std::optional<KEY_EVENT_RECORD> NextKey(ULONGLONG deadline);

// What closing the window, Ctrl+C or Ctrl+Break does once the person has the window. Between
// runs it ends the program with the last run's status. During a run the person asked for, the
// run finishes and the program ends with its status; closing the window, where Windows ends
// the program a few seconds later whatever it is doing, first has Windows reopen the programs
// it closed for the run, once no replacing is under way, and lets none begin after.
class WindowClosing {
 public:
  using End = void(WINAPI*)(UINT status);
  // `end` ends the program; the program's own is ExitProcess.
  explicit WindowClosing(End end = ExitProcess) : end_(end) {}
  // Stops taking the console's events, once a handler under way has finished.
  ~WindowClosing();
  WindowClosing(const WindowClosing&) = delete;
  WindowClosing& operator=(const WindowClosing&) = delete;

  // Takes the console's events from now on (once, for the program's one window).
  void Listen();
  // Between runs, after one that came to `status`.
  void Between(int status);
  // Whether the person asked to close during the last run.
  bool Asked();
  // What the console's `event` does; runs on a thread of its own.
  BOOL OnEvent(DWORD event);

  // A run the person asked for, for as long as this lives.
  class RunInProgress {
   public:
    explicit RunInProgress(WindowClosing& closing);
    ~RunInProgress();
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;
    // The Restart Manager session on `file` through which Windows closes programs for the run:
    // closing the window reopens those it closed. It lasts as long as the run.
    HolderSession& SessionOn(const std::wstring& file);
    // What the run's replacing goes through: closing the window waits for it to end.
    ReplacingGate& Replacing() { return closing_.replacing_; }
    // The run came to `status`: the program ends with it where the person asked to close.
    void CameTo(int status);

   private:
    WindowClosing& closing_;
    std::optional<HolderSession> session_;
  };

 private:
  void ReopenFirst();

  End end_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  int status_ = 0;
  bool run_in_progress_ = false;
  bool asked_ = false;
  bool listening_ = false;
  HolderSession* reopens_ = nullptr;
  ReplacingGate replacing_;
  UniqueHandle run_ended_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// The person's window after the first run, `run`, until the person closes it or lets it close
// by itself: shows what `window` prompts for the last run (window.Prompt(run)), reads its keys
// until kPromptWaitMinutes after the prompt (window.Key(deadline), none where the time is up or
// the console cannot be read) and, where a file is in use, has `window` run again as chosen
// (window.RunAgain(choice, run, in_progress): R, or C where Windows can close every holder).
// Returns the exit status of the last run.
template <typename Window>
int KeepTheWindow(ReportedRun run, Window& window, WindowClosing& closing) {
  for (;;) {
    closing.Between(ExitCodeOf(run.outcome));
    window.Prompt(run);
    // Never for ever: where the cues mistook a deployment for a person, it loses minutes, not
    // the machine. Keys that choose nothing do not put the end off.
    const ULONGLONG deadline = GetTickCount64() + kPromptWaitMinutes * 60'000ull;
    Choice choice = Choice::kNone;
    while (choice == Choice::kNone) {
      const std::optional<KEY_EVENT_RECORD> key = window.Key(deadline);
      choice = key ? ChoiceOf(*key) : Choice::kOther;
    }
    const bool run_again = choice == Choice::kTryAgain ||
                           (choice == Choice::kCloseForMe && WindowsCanClose(run.holders));
    if (!FoundInUse(run.outcome) || !run_again) break;
    {
      WindowClosing::RunInProgress in_progress(closing);
      run = window.RunAgain(choice, run, in_progress);
      in_progress.CameTo(ExitCodeOf(run.outcome));
    }
    if (closing.Asked()) break;
  }
  return ExitCodeOf(run.outcome);
}
