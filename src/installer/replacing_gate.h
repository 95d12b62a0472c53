// Replacing the targets is the one stretch of a run in which the folder holds a mixed set. Whoever
// must not let a program open the folder's files during it (the window's close handler, about to
// have Windows reopen the programs it closed for the run) waits for it to end, and keeps any from
// beginning after.
#pragma once

#include <windows.h>

class ReplacingGate {
 public:
  ReplacingGate() = default;
  ReplacingGate(const ReplacingGate&) = delete;
  ReplacingGate& operator=(const ReplacingGate&) = delete;

  // A run's replacing through `gate` (none: nobody waits for it), for as long as this lives.
  // Where the gate is shut it waits, for good: the program is about to be ended, and a run
  // stopped before it replaces anything leaves nothing to undo.
  class Replacing {
   public:
    explicit Replacing(ReplacingGate* gate) : gate_(gate) {
      if (gate_ != nullptr) AcquireSRWLockExclusive(&gate_->lock_);
    }
    ~Replacing() {
      if (gate_ != nullptr) ReleaseSRWLockExclusive(&gate_->lock_);
    }
    Replacing(const Replacing&) = delete;
    Replacing& operator=(const Replacing&) = delete;

   private:
    ReplacingGate* gate_;
  };

  // Waits for any replacing under way to end, finished or undone, and lets none begin after.
  // Called by one thread at a time; a second call does nothing.
  void Shut() {
    if (shut_) return;
    AcquireSRWLockExclusive(&lock_);
    shut_ = true;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool shut_ = false;
};
