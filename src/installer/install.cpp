#include "installer/install.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "installer/entry_changes.h"
#include "installer/folder_entries.h"
#include "installer/leftovers.h"
#include "installer/plan.h"
#include "installer/recovery.h"
#include "installer/resource_folder.h"
#include "installer/restart_schedule.h"
#include "installer/working_names.h"
#include "installer/workplace.h"
#include "payload/digest.h"
#include "payload/writer.h"

namespace {

// Moves each opened target of `plan` aside (or marks that there was none), then puts the staged
// file in its place. The working names are free: leftovers were cleared before staging began.
std::optional<Failure> ReplaceAll(const ResourceFolder& folder, Patience& patience, Plan& plan) {
  for (Change& change : plan.changes) {
    if (change.target_exists) {
      if (auto failure =
              MoveOpened(folder, patience, change.opened, change.target, change.backup, 0))
        return failure;
    } else {
      UniqueHandle marker;
      if (auto failure = CreateEntry(folder, patience, change.absent, GENERIC_WRITE, marker))
        return failure;
    }
    if (auto failure = MoveEntry(folder, patience, change.staged, change.target, 0)) return failure;
  }
  return std::nullopt;
}

// One run on one folder, its steps in the order they happen (Go). A step that can end the run
// returns why, empty where the run goes on: a failure, whose outcome is the run's.
class Run {
 public:
  Run(const std::wstring& directory, const Catalogue& catalogue, HMODULE module,
      const InstallSettings& settings)
      : directory_(directory),
        module_(module),
        lock_wait_ms_(settings.lock_wait_ms),
        replacing_(settings.replacing),
        place_{{},
               {},
               catalogue,
               settings.restart_renames,
               settings.patience_ms,
               Patience(settings.patience_ms)} {}

  InstallReport Go();

 private:
  // The steps.
  [[nodiscard]] std::optional<Failure> Lock();
  [[nodiscard]] std::optional<Failure> Check(Plan& plan);
  [[nodiscard]] std::optional<Failure> Stage(const Plan& plan);
  [[nodiscard]] std::optional<Failure> OpenToReplace(Plan& plan);
  [[nodiscard]] std::optional<Failure> Replace(Plan& plan);
  void ClearAside(const Plan& plan);
  void LookAgain();

  // Within them.
  [[nodiscard]] std::optional<Failure> CheckWorkingNames(Plan& plan);
  bool HeldByAnotherProgram(const std::wstring& name, const std::optional<Failure>& failure,
                            const Entry& leftover) const;
  std::vector<std::wstring> NamesToCreate(const Plan& plan) const;
  void RemoveStaged(const Plan& plan, size_t count);
  void NotConfirmed(const Failure& reason);

  // Ending the run.
  InstallReport LeaveForRestart(Plan& plan);
  InstallReport Undo(Failure cause, const Plan& plan);
  InstallReport NotRestored(std::vector<Failure> problems, const std::wstring& read_only_file);
  InstallReport End(Failure cause, std::uint64_t bytes_needed = 0,
                    const std::wstring* held_file = nullptr,
                    const std::wstring* read_only_file = nullptr);
  InstallReport End(Outcome outcome, std::vector<Failure> problems, bool restored,
                    std::uint64_t bytes_needed);

  const std::wstring& directory_;
  const HMODULE module_;
  const DWORD lock_wait_ms_;
  ReplacingGate* const replacing_;  // where someone may wait for the replacing to end
  Workplace place_;
  Leftovers leftovers_;
};

// The run's table of contents. What an earlier run left recorded in the lock file is recovered
// around the plan: the targets it was replacing when it was stopped are put back before this run
// plans, and a schedule it left for the restart is weighed against this run's plan before the
// working files it kept could be cleared as leftovers. A plan that failed stops the run only
// after that, and after the leftovers are cleared, as any run's does.
InstallReport Run::Go() {
  if (auto failure = Lock()) return End(std::move(*failure));
  RunRecord earlier;
  std::wstring read_only_file;
  if (std::vector<Failure> problems = UndoStoppedRun(place_, earlier, read_only_file);
      !problems.empty())
    return NotRestored(std::move(problems), read_only_file);
  Plan plan;
  const std::optional<Failure> unplanned =
      PlanChanges(place_.folder, place_.patience, place_.catalogue, module_, plan);
  if (auto ending = KeepOrCancelSchedule(place_, earlier, unplanned ? nullptr : &plan))
    return End(std::move(*ending), 0, &plan.held_file);
  RemoveLeftovers(place_.folder, place_.patience, place_.catalogue, leftovers_);
  if (unplanned) return End(*unplanned, 0, nullptr, &plan.read_only_file);
  const std::uint64_t bytes_needed = plan.Bytes();
  // A repeat run over an installed pack has nothing to check, stage or replace. Of what may stop
  // it, only the check names a file another program holds (a staged file's name).
  if (!plan.changes.empty()) {
    if (auto failure = Check(plan)) return End(std::move(*failure), bytes_needed, &plan.held_file);
    std::optional<Failure> failure = Stage(plan);
    if (!failure) failure = OpenToReplace(plan);
    if (failure) return End(std::move(*failure), bytes_needed);
    if (plan.in_use) return LeaveForRestart(plan);
    {
      // Nobody waiting on the gate sees the set half replaced: it is replaced, or undone, first.
      const ReplacingGate::Replacing replacing(replacing_);
      failure = Replace(plan);
      if (failure) return Undo(std::move(*failure), plan);
    }
    ClearAside(plan);
  }
  LookAgain();
  return End(Outcome::kInstalled, {}, true, bytes_needed);
}

// Runs on the same folder take turns, through the lock file: the folder is only ever changed
// by the run that holds it.
std::optional<Failure> Run::Lock() {
  if (auto failure = OpenResourceFolder(directory_, place_.folder)) return failure;
  return place_.lock.Acquire(place_.folder, lock_wait_ms_);
}

// Nothing may stand in the way of the changes once the folder starts changing: a working name
// that is taken, a damaged payload, or a removal at the restart of a name about to be created.
std::optional<Failure> Run::Check(Plan& plan) {
  if (auto failure = CheckWorkingNames(plan)) return failure;
  // A damaged copy of the installer must not install damaged files: every payload about to be
  // written is checked before the folder changes at all.
  for (const Change& change : plan.changes) {
    if (PayloadDigest(change.payload.bytes, change.payload.size) != change.digest)
      return Finding(L"this copy of the installer is damaged: its " + change.target +
                         L" is not the file it was built with; get a new copy of the installer",
                     Outcome::kDamaged);
  }
  // The restart carries out its list by name, whatever file has the name by then: a removal an
  // earlier run scheduled must not meet a file this run stages, or an old one it moves aside.
  return TakeBack(place_.restart_renames, place_.folder.final_path, NamesToCreate(plan));
}

// A leftover that could not be cleared under a name a change needs stops the run now, and
// keeps a later undo from mistaking it for this run's own. One that another program holds (an
// old copy the host still has open or mapped) makes its target a file in use: then the set can
// still be replaced at the next restart, unless it is a staged file's name.
std::optional<Failure> Run::CheckWorkingNames(Plan& plan) {
  const ResourceFolder& folder = place_.folder;
  for (const Change& change : plan.changes) {
    for (const std::wstring* name : {&change.staged, &change.Aside()}) {
      const std::wstring path = folder.path + *name;
      Entry leftover;
      std::optional<Failure> failure = InspectEntry(folder, place_.patience, *name, 0, leftover);
      if (!failure && leftover.kind == EntryKind::kAbsent) {
        leftovers_.Gone(*name);  // held when the run began, maybe, but gone since
        continue;
      }
      if (!HeldByAnotherProgram(*name, failure, leftover)) {
        if (failure) return failure;
        return Finding(path + L" is in the way of replacing " + folder.path + change.target);
      }
      // With the system's own code where opening it now gave one; what an earlier removal of it
      // said is that removal's own warning.
      Failure held{L"could not replace " + folder.path + change.target + L": " + path +
                       L" is still held by another program",
                   failure ? failure->code : ERROR_SUCCESS, Outcome::kInUse};
      if (name == &change.staged) {
        plan.held_file = path;
        return held;
      }
      leftovers_.Hold(*name);
      if (!plan.in_use) {
        plan.in_use = std::move(held);
        plan.held_file = path;
      }
    }
  }
  return std::nullopt;
}

// Whether the leftover `name`, still there after the leftovers were cleared, is one another
// program holds: opening it was refused because it is held; or it is a file whose removal was
// accepted and that stayed (nothing was said of it), or that was found held.
bool Run::HeldByAnotherProgram(const std::wstring& name, const std::optional<Failure>& failure,
                               const Entry& leftover) const {
  if (failure) return failure->outcome == Outcome::kInUse;
  return leftover.kind == EntryKind::kFile && (!leftovers_.Warned(name) || leftovers_.IsHeld(name));
}

// Writes every staged file, flushed. A run that stops here removes what it staged, and so
// leaves the folder as it was; a later run clears whatever of it stays.
std::optional<Failure> Run::Stage(const Plan& plan) {
  size_t staged = 0;  // how many staged files exist, whole or not
  for (const Change& change : plan.changes) {
    UniqueHandle file;
    std::optional<Failure> failure =
        CreateEntry(place_.folder, place_.patience, change.staged, GENERIC_WRITE, file);
    if (!failure) {
      ++staged;
      failure = ExtractResourceToFile(change.payload, std::move(file),
                                      place_.folder.path + change.staged);
    }
    if (failure) {
      RemoveStaged(plan, staged);
      return failure;
    }
  }
  return std::nullopt;
}

// Every target is opened before any is moved. One that another program keeps open has the
// whole set replaced at the next restart instead; any other failure stops the run, the staged
// files removed.
std::optional<Failure> Run::OpenToReplace(Plan& plan) {
  if (plan.in_use) return std::nullopt;
  std::optional<Failure> failure = OpenTargets(place_.folder, place_.patience, plan);
  if (failure) RemoveStaged(plan, plan.changes.size());
  return failure;
}

// From the record on, a stopped run is undone by the next one; clearing it commits the set.
std::optional<Failure> Run::Replace(Plan& plan) {
  std::optional<Failure> failure = place_.lock.Record({plan.Targets()});
  if (!failure) failure = ReplaceAll(place_.folder, place_.patience, plan);
  if (!failure) failure = place_.lock.Record({});
  CloseTargets(plan);
  return failure;
}

// What the targets were moved aside to goes once the set is committed; what cannot go yet is
// named, and the last look tries again.
void Run::ClearAside(const Plan& plan) {
  for (const Change& change : plan.changes)
    leftovers_.Remove(place_.folder, place_.patience, change.Aside());
}

// A removal the system accepted can still fail to happen: Wine removes a file only when its
// last handle closes and ignores an error then, and Windows keeps a removed file's name while
// another program holds it. So a finished run looks at the folder once more, with the lock
// released, since its file is one of the things to look for. What is there it clears under the
// lock again. A working file that still stays is held by another program: its removal is
// scheduled for the next restart, with those refused as held, in one write; one held earlier
// that has gone since is neither scheduled nor named. Whatever stays is named. Another run that
// holds the folder by then clears up after itself. Where the look cannot be made, one warning
// says why.
void Run::LookAgain() {
  const ResourceFolder& folder = place_.folder;
  place_.lock.Release();
  std::vector<std::wstring> left;
  if (auto failure = OwnEntries(folder, place_.catalogue, true, left))
    return NotConfirmed(*failure);
  if (leftovers_.NotWarnedOf(left).empty() && leftovers_.HeldNames().empty()) return;
  FolderLock again;
  if (auto not_locked = again.Acquire(folder, 0)) {
    if (not_locked->outcome != Outcome::kBusy) NotConfirmed(*not_locked);
    return;
  }
  RemoveLeftovers(folder, place_.patience, place_.catalogue, leftovers_);
  if (auto failure = OwnEntries(folder, place_.catalogue, false, left))
    return NotConfirmed(*failure);
  const auto still_there = [&](const std::wstring& name) {
    return Finding(folder.path + name + L" is still there after its removal");
  };
  for (const std::wstring& name : leftovers_.NotWarnedOf(left))
    leftovers_.Add(name, still_there(name), true);
  for (const std::wstring& name : leftovers_.HeldNames()) {
    if (std::none_of(left.begin(), left.end(),
                     [&](const std::wstring& listed) { return SameName(listed, name); }))
      leftovers_.Gone(name);
  }
  const std::vector<std::wstring> held = leftovers_.HeldNames();
  if (!held.empty()) {
    // Where the removals could not be scheduled, the warnings their removal gave stand.
    const std::optional<Failure> not_scheduled =
        ScheduleRenames(place_.restart_renames, BootRenamesOf(folder.final_path, {}, held),
                        WorkingNames(place_.catalogue));
    if (!not_scheduled) {
      for (const std::wstring& name : held)
        leftovers_.Add(name, Finding(folder.path + name + L" will be removed at the next restart"));
    }
  }
  again.Release();
  if (auto failure = OwnEntries(folder, place_.catalogue, true, left))
    return NotConfirmed(*failure);
  for (const std::wstring& name : leftovers_.NotWarnedOf(left))
    leftovers_.Add(name, still_there(name));
}

// The names the run is about to create: staged files, and the names targets move aside to where
// no old copy holds them.
std::vector<std::wstring> Run::NamesToCreate(const Plan& plan) const {
  std::vector<std::wstring> names;
  for (const Change& change : plan.changes) {
    names.push_back(change.staged);
    if (!leftovers_.IsHeld(change.Aside())) names.push_back(change.Aside());
  }
  return names;
}

// Removes the first `count` staged files of `plan`, waiting for momentary holders afresh; what
// cannot be removed, a later run clears.
void Run::RemoveStaged(const Plan& plan, size_t count) {
  Patience patience(place_.patience_ms);
  for (size_t i = 0; i < count; ++i)
    (void)RemoveEntry(place_.folder, patience, plan.changes[i].staged);
}

// The last look at the folder could not be made, for `reason`.
void Run::NotConfirmed(const Failure& reason) {
  leftovers_.Warn(
      Finding(L"could not look again for working files left over: " + Describe(reason)));
}

// A target stays in use: the new set, staged and flushed, replaces the old at the next
// restart, all of it at once, before any program can open the files. Until then the folder
// holds the old set. Recorded first: a run stopped before the schedule is written leaves a
// record that the next run finds nothing scheduled for, and clears. Held working files go at
// the restart too, before the renames; nothing else of the folder's working names stays
// scheduled. The run ends with the file in use said first: a success, kScheduled; or, where
// the replacement could not be scheduled, with nothing changed.
InstallReport Run::LeaveForRestart(Plan& plan) {
  Failure in_use = std::move(*plan.in_use);
  std::optional<Failure> not_scheduled = place_.lock.Record({plan.Targets(), true});
  if (!not_scheduled) {
    not_scheduled = ScheduleRenames(
        place_.restart_renames,
        BootRenamesOf(place_.folder.final_path, plan.Targets(), leftovers_.HeldNames()),
        WorkingNames(place_.catalogue));
    // Where the system does not let this run schedule it (not an administrator, say), the file
    // in use stays the reason; where the schedule could not be written, that is the reason.
    if (not_scheduled && not_scheduled->outcome == Outcome::kRefused)
      not_scheduled->outcome = Outcome::kInUse;
  }
  if (!not_scheduled) {
    in_use.outcome = Outcome::kScheduled;
    return End(std::move(in_use), plan.Bytes(), &plan.held_file);
  }
  RemoveStaged(plan, plan.changes.size());
  const Outcome outcome = not_scheduled->outcome;
  std::vector<Failure> problems;
  problems.push_back(std::move(in_use));
  problems.push_back(std::move(*not_scheduled));
  if (auto failure = place_.lock.Record({})) problems.push_back(std::move(*failure));
  InstallReport report = End(outcome, std::move(problems), true, plan.Bytes());
  report.held_file = plan.held_file;
  return report;
}

// Undoes this run's replacements after `cause`; where they could not all be undone, the next
// run finishes the undo.
InstallReport Run::Undo(Failure cause, const Plan& plan) {
  std::vector<Failure> problems = UndoReplacements(place_, plan);
  const bool restored = problems.empty();
  const Outcome outcome = cause.outcome;
  problems.insert(problems.begin(), std::move(cause));
  return End(outcome, std::move(problems), restored, plan.Bytes());
}

// Ends the run where what an earlier run left could not be read or put back, for `problems`, the
// first the cause: the next run finishes the undo.
InstallReport Run::NotRestored(std::vector<Failure> problems, const std::wstring& read_only_file) {
  const Outcome outcome = problems.front().outcome;
  InstallReport report = End(outcome, std::move(problems), false, 0);
  report.read_only_file = read_only_file;
  return report;
}

// Ends the run for `cause`, with the outcome it gives, naming the file another program holds or
// the read-only target where that is why.
InstallReport Run::End(Failure cause, std::uint64_t bytes_needed, const std::wstring* held_file,
                       const std::wstring* read_only_file) {
  const Outcome outcome = cause.outcome;
  std::vector<Failure> problems;
  problems.push_back(std::move(cause));
  InstallReport report = End(outcome, std::move(problems), true, bytes_needed);
  if (held_file) report.held_file = *held_file;
  if (read_only_file) report.read_only_file = *read_only_file;
  return report;
}

// What the run came to, told in full. Leftovers that stay are told after the outcome's own
// problems: they may explain a failure.
InstallReport Run::End(Outcome outcome, std::vector<Failure> problems, bool restored,
                       std::uint64_t bytes_needed) {
  for (Failure& warning : leftovers_.warnings()) problems.push_back(std::move(warning));
  return {outcome, restored, std::move(problems), bytes_needed, {}, {}};
}

}  // namespace

InstallReport InstallPayloads(const std::wstring& directory, const Catalogue& catalogue,
                              HMODULE module, const InstallSettings& settings) {
  return Run(directory, catalogue, module, settings).Go();
}
