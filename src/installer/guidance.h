// What the program tells the person at the machine, beyond the lines scripts and logs read: the
// next step after a run, who holds a file in use, and the prompt before the window closes, in
// the language the caller chose. The lines scripts and logs read stay in English, word for word.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "installer/exit_status.h"
#include "installer/file_holders.h"
#include "installer/language.h"

// What the next step after a run refers to, beyond its outcome.
struct Circumstances {
  std::vector<Holder> holders;  // hold the file in use
  std::uint64_t bytes = 0;      // the free space the run needs...
  std::wstring place;           // ...on this drive; or the folder whose permissions refuse
  std::wstring read_only_file;  // a read-only target that refused the run
  bool elevated = false;        // the run had an administrator's full rights already
};

// The line that tells a person what to do after a run that came to `outcome`; empty where there
// is nothing a person can do.
std::wstring NextStep(Language language, Outcome outcome, const Circumstances& circumstances);

// "in use by Orvex Pro (process 1234)", for the line that names a file in use.
std::wstring InUseBy(Language language, const std::vector<Holder>& holders);

// The keys the prompt offers after a run that found a file in use, the same in every language:
// to try again once the person has closed the program that holds it, and to have Windows close
// it now and reopen it afterwards.
inline constexpr WORD kTryAgainKey = 'R';
inline constexpr WORD kCloseForMeKey = 'C';

// How long the window waits for a key after its last prompt before it closes by itself, as if
// one had been pressed: whoever started the program, the wait always ends.
inline constexpr DWORD kPromptWaitMinutes = 5;

// What is shown before the window that was opened for the program alone closes, after a run
// that came to `outcome`: where a file is in use, the keys to finish the installation now:
// kCloseForMeKey only where Windows can close every holder (WindowsCanClose), and otherwise a
// line for each holder it cannot close, saying why (one line for those the list's reason keeps);
// last, that the window closes by itself kPromptWaitMinutes later.
std::wstring ClosePrompt(Language language, Outcome outcome, const HolderList& holders);

// What a person is told where not every holder closed when asked: why Windows could not close
// them, or that they did not.
std::wstring DidNotClose(Language language, const Closing& closing);

// Says that Windows did not reopen `holders`, which it closed.
std::wstring NotReopened(Language language, const std::vector<Holder>& holders);
