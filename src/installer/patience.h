// The patience a run has for programs that open one of the folder's files for a moment.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "installer/failure.h"

// On a real machine the installer is never alone in the folder: on-access malware scanners,
// search indexers, backup and sync agents open a file right after it is written or renamed and
// keep it for tens to hundreds of milliseconds, often without delete sharing. Every step that
// opens, creates, renames or removes one of the folder's entries waits such a moment out,
// retrying after 10, 20, 40, 80 and then every 100 ms, until this much waiting in all is spent;
// a refusal that outlasts it is final, and is that of a file in use, whatever code the system
// gave (the code stays the system's own). A run spends it while it installs; an undo is given
// it afresh.
inline constexpr DWORD kPatienceMilliseconds = 3'000;

// What is left of a run's patience, spent by every step that waits.
class Patience {
 public:
  explicit Patience(DWORD milliseconds) : left_ms_(milliseconds) {}

  // Calls `attempt` (true on success, the error left for LastSystemError otherwise) until it
  // succeeds, fails in a way `outcome_of` does not put down to another program's hold (kInUse),
  // or the patience is spent. Returns how it failed, for the caller to say what failed: the
  // system's code and that outcome, so that a hold that outlasts the wait stays a file in use
  // (an access denial behind which the system says the file is being deleted or is mapped must
  // not read as a lack of rights). Nothing waits, and no call is added, when nobody holds
  // anything.
  template <typename Attempt, typename Judge>
  [[nodiscard]] std::optional<Failure> Retry(const Attempt& attempt, const Judge& outcome_of) {
    for (DWORD pause = kFirstPauseMilliseconds;;) {
      if (attempt()) return std::nullopt;
      const SystemError error = LastSystemError();
      const Outcome outcome = outcome_of(error);
      if (outcome != Outcome::kInUse || !Pause(pause)) return Failure(error.code, outcome);
    }
  }

  // Retry, with the outcome each error gives by itself (OutcomeOfError).
  template <typename Attempt>
  [[nodiscard]] std::optional<Failure> Retry(const Attempt& attempt) {
    return Retry(attempt, OutcomeOfError);
  }

 private:
  static constexpr DWORD kFirstPauseMilliseconds = 10;
  static constexpr DWORD kLongestPauseMilliseconds = 100;

  // Sleeps for `pause`, or what is left of the wait if that is less, and lengthens the next
  // pause; false, without sleeping, once the wait is spent.
  bool Pause(DWORD& pause);

  DWORD left_ms_;
};
