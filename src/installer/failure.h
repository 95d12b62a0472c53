// How a failure is described, and what it makes of the run: the one vocabulary of every room
// that finds one (the folder's entries, the lock, the schedule for the restart, the payloads).
//
// Everything that can fail says so the same way: it returns [[nodiscard]]
// std::optional<Failure>, empty when it went well; an undo, which goes on past what it cannot
// put back, returns every Failure it met, none when it put everything back.
#pragma once

#include <windows.h>

#include <string>

#include "installer/exit_status.h"

// What an access denial hides: these two come from another program, not from a lack of rights.
inline constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
inline constexpr LONG kStatusCannotDelete = static_cast<LONG>(0xC0000121);

// One step that went wrong: what was attempted, naming the file; the system's error code, only
// where the system gave one for that very call; and the outcome it gives the run that it ends.
// The room that finds it says the outcome, where it knows more than a code: a holder that
// outlasted the wait, a short write, a lock another run kept, a payload that is not what was
// built, a read-only target. The code is never rewritten or made up: it only explains.
struct Failure {
  Failure() = default;
  Failure(std::wstring what, DWORD code, Outcome outcome);
  // How a call failed, for the caller to say what it was.
  Failure(DWORD code, Outcome outcome);
  // A failure passes through every room on its way up: these are defined once, in failure.cpp,
  // rather than copied into each of them.
  Failure(Failure&& other) noexcept;
  Failure(const Failure& other);
  Failure& operator=(Failure&& other) noexcept;
  Failure& operator=(const Failure& other);
  ~Failure();

  std::wstring what;           // e.g. L"could not replace C:\\Orvex\\IRIS_OCR\\resources\\eng.ilex"
  DWORD code = ERROR_SUCCESS;  // none: the installer's own finding, with no system message
  Outcome outcome = Outcome::kFailed;
};

// The installer's own finding `what`, with no code.
Failure Finding(std::wstring what, Outcome outcome = Outcome::kFailed);

// A failed call's error code and, for an access denial, the system's status behind it, which
// tells a file still being deleted or mapped from a lack of rights.
struct SystemError {
  DWORD code = ERROR_SUCCESS;
  LONG status = 0;
};

// The error the last failed call left, read right after it.
SystemError LastSystemError();

// What a system error makes of the run: the one reading of a code. Another program's hold (a
// sharing or lock violation, a mapped file, a pending deletion, or an access denial whose status
// is either of those): in use, which a run waits out for a moment; any other access denial:
// refused; a full disk; anything else: failed.
Outcome OutcomeOfError(const SystemError& error);

// `what` failed with the system's `code`, of the outcome the code gives (OutcomeOfError).
Failure SystemFailure(std::wstring what, DWORD code);

// "what: system message" (just "what" without a code), as shown to the user.
std::wstring Describe(const Failure& failure);
