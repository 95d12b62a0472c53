// The window a person opened by starting the program from a graphical program (Explorer, a
// browser's download list, an archive manager): who gets it, the keys read in it, and what
// closing it does. It closes the moment the program ends, so the program waits for a key
// before it ends; nothing unattended ever waits.
#pragma once

#include <windows.h>

#include <string>

// What deciding whether a person waits at the window rests on, as found at start-up.
struct StartCues {
  bool console_input = false;   // standard input is a console
  bool console_output = false;  // standard output is a console
  DWORD console_processes = 0;  // how many processes that console serves
  DWORD session = 0;            // the session the program runs in
  bool hidden = false;          // started with its window hidden (STARTUPINFO, SW_HIDE)
  WORD parent_subsystem = 0;    // the subsystem of the parent's image; 0 where unknown
  std::wstring parent_name;     // the parent's image file name, e.g. "msedge.exe"
};

// Whether a person waits at the window: its input and output are a console that serves this
// process alone, in a user's session, shown, and the program that started it is a graphical
// one. A console parent (cmd, PowerShell, a script's start, a terminal's shell), a hidden start,
// session 0, and the service host that runs scheduled tasks (svchost.exe) never wait.
bool APersonWaits(const StartCues& cues);

// APersonWaits for this process. Ask at start-up, while the parent is surely still there and
// before anyone else could attach to the console.
bool StartedByAPerson();

// What a key in the window chooses.
enum class Choice {
  kNone,        // nothing yet: a modifier alone, or an input method composing
  kTryAgain,    // R
  kCloseForMe,  // C
  kOther,       // any other key
};

// What `key` chooses. R and C count however they arrive: the key itself (whatever the
// keyboard's language), or the letter, half-width or full-width, in either case, as an input
// method commits it (with VK_PACKET, with no key at all, or on the release of Alt). A key
// pressed with Ctrl or Alt is another key.
Choice ChoiceOf(const KEY_EVENT_RECORD& key);

// Shows `prompt` and returns once a key chooses something; kOther where the console cannot be
// read.
Choice WaitForChoice(const std::wstring& prompt);

// What Ctrl+C, Ctrl+Break and closing the window do once the person has the window: between
// runs, end the program with the last run's exit status `status`.
void EndOnCloseWith(int status);

// A run the person asked for begins: from now until RunEnded, closing the window lets it finish
// (and Windows reopen what it closed) rather than cut it off.
void RunBegins();

// The run came to `status`. Returns whether the person asked to close meanwhile; then the
// program is to end with it.
bool RunEnded(int status);
