// Putting the folder back: what an earlier run left recorded in the lock file (the targets it
// was replacing when it was stopped, or those whose replacement it scheduled for the restart),
// and this run's own replacements where they fail. An undo goes on past what it cannot put
// back; the record is cleared only once everything is back, so that the next run finishes it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "installer/failure.h"
#include "installer/folder_lock.h"
#include "installer/plan.h"
#include "installer/workplace.h"

// Reads what an earlier run left recorded in the lock file into `earlier` and, where that run
// was stopped while replacing, undoes exactly the targets it names and clears the record.
// Returns what could not be read or put back, the first the cause; none where all is well. A
// read-only entry that could not be removed is `read_only_file`, for the next step to name.
[[nodiscard]] std::vector<Failure> UndoStoppedRun(Workplace& place, RunRecord& earlier,
                                                  std::wstring& read_only_file);

// Weighs the schedule for the restart an earlier run recorded against this run's `plan` (none
// where planning failed). While a target is still in use, and the staged files still hold this
// installer's payloads for exactly the targets the plan changes, the schedule stands: the run
// ends there, kScheduled, with the file in use the plan's held file. Otherwise the schedule is
// taken back, with all else scheduled for the folder's working names, so that the restart puts
// nothing in place and removes nothing, and the record is cleared. Empty where the run goes on.
[[nodiscard]] std::optional<Failure> KeepOrCancelSchedule(Workplace& place, const RunRecord& record,
                                                          Plan* plan);

// Undoes this run's replacements of `plan`'s targets, waiting for momentary holders afresh: the
// run's own waiting must not leave its undo half done. Returns what could not be put back.
[[nodiscard]] std::vector<Failure> UndoReplacements(Workplace& place, const Plan& plan);
