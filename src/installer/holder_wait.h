// The patience a run has for programs that hold one of the folder's files for a moment.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"

// On a real machine the installer is never alone in the folder: on-access malware scanners,
// search indexers, backup and sync agents open a file right after it is written or renamed and
// keep it for tens to hundreds of milliseconds, often without delete sharing. Every step that
// opens, creates, renames or removes one of the folder's entries waits such holders out,
// retrying after 10, 20, 40, 80 and then every 100 ms, until this much waiting in all is spent;
// a refusal that outlasts it is final, and is that of a file in use, whatever code the system
// gave (the code stays the system's own). A run spends it while it installs; an undo is given
// it afresh.
inline constexpr DWORD kHolderWaitMilliseconds = 3'000;

// What an access denial hides: these two come from another program, not from the folder's
// permissions.
inline constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
inline constexpr LONG kStatusCannotDelete = static_cast<LONG>(0xC0000121);

// A failed call's error code, and for an access denial the system's own status behind it,
// which tells a file still being deleted from a lack of rights.
struct SystemError {
  DWORD code = ERROR_SUCCESS;
  LONG status = 0;
  bool outlasted_wait = false;  // a holder kept the entry past the wait: a file in use
};
SystemError LastSystemError();

// `what` failed with `error`: a file in use where a holder outlasted the wait, otherwise what
// the code means.
Failure FailureOf(std::wstring what, const SystemError& error);

// Whether another program holding the entry for now explains the error: a sharing or lock
// violation, or an access denial because the file is being deleted or is mapped. An access
// denial for want of rights is not.
bool HeldForNow(const SystemError& error);

// What is left of a run's wait for holders, spent by every step that waits.
class HolderWait {
 public:
  explicit HolderWait(DWORD milliseconds) : left_ms_(milliseconds) {}

  // Calls `attempt` (true on success, the error left for LastSystemError otherwise) until it
  // succeeds, fails for a reason `held_for_now` does not put down to a holder, or the wait is
  // spent; returns the last error, if any. A holder that outlasts the wait makes it a file in
  // use (`outlasted_wait`): an access denial behind which the system says the file is being
  // deleted or is mapped must not read as a lack of rights. Nothing waits, and no call is
  // added, when nobody holds anything.
  template <typename Attempt, typename Judge>
  std::optional<SystemError> Retry(const Attempt& attempt, const Judge& held_for_now) {
    for (DWORD pause = kFirstPauseMilliseconds;;) {
      if (attempt()) return std::nullopt;
      const SystemError error = LastSystemError();
      if (!held_for_now(error)) return error;
      if (!Pause(pause)) return Outlasted(error);
    }
  }

  template <typename Attempt>
  std::optional<SystemError> Retry(const Attempt& attempt) {
    return Retry(attempt, [](const SystemError& error) { return HeldForNow(error); });
  }

 private:
  static constexpr DWORD kFirstPauseMilliseconds = 10;
  static constexpr DWORD kLongestPauseMilliseconds = 100;

  // Sleeps for `pause`, or what is left of the wait if that is less, and lengthens the next
  // pause; false, without sleeping, once the wait is spent.
  bool Pause(DWORD& pause);
  // `error`, which outlasted the wait, marked so.
  static SystemError Outlasted(SystemError error);

  DWORD left_ms_;
};
