#include "installer/install.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "installer/entry_changes.h"
#include "installer/folder_entries.h"
#include "installer/leftovers.h"
#include "installer/resource_folder.h"
#include "installer/working_names.h"
#include "payload/digest.h"
#include "payload/writer.h"

namespace {

// A target that has to be written, and its working files (names within the folder).
struct Change {
  std::wstring target;
  std::wstring staged;  // the new file, written beside the target
  std::wstring backup;  // where the target moves aside to
  std::wstring absent;  // marks, where there was no target, that there was none
  Payload payload;
  std::uint64_t digest = 0;  // what the build recorded for the payload
  bool target_exists = false;
  Entry opened;  // the target, opened to be moved aside

  // The name the target makes way under: its backup, or the mark that there was none.
  const std::wstring& Aside() const { return target_exists ? backup : absent; }
};

// A failure about one file, and which file.
struct FileFailure {
  Failure failure;
  std::wstring file;
};

Change ChangeFor(const std::wstring& name);
std::vector<std::wstring> TargetsOf(const std::vector<Change>& changes);
std::vector<std::wstring> TableNamesAmong(const PayloadTable& table,
                                          const std::vector<std::wstring>& names);

// One run on one folder. Its steps, in the order they happen: lock the folder; finish or undo
// what an earlier run left; plan which targets change; check that nothing stands in the way;
// stage the new files; replace the targets, or have that done at the next restart; and, after
// an installation, look at the folder once more. A step that ends the run sets its outcome and
// returns false; what a step finds, the run keeps.
class Run {
 public:
  Run(const std::wstring& directory, const PayloadTable& table, HMODULE module,
      const InstallSettings& settings)
      : directory_(directory),
        table_(table),
        module_(module),
        settings_(settings),
        wait_(settings.holder_wait_ms) {}

  InstallReport Go();

 private:
  // The steps.
  bool Lock();
  bool FinishEarlierRun();
  bool Plan();
  bool Check();
  bool Stage();
  bool ReplaceOrSchedule();
  void LookAgain();

  // Within them.
  bool Planned();
  std::optional<FileFailure> PlanChanges();
  bool KeepOrCancelSchedule(const std::vector<std::wstring>& names);
  bool UndoStoppedRun(const std::vector<std::wstring>& names);
  bool CheckWorkingNames();
  bool HeldByAnotherProgram(const std::wstring& name, const std::optional<Failure>& failure,
                            const Entry& leftover) const;
  bool CheckPayloads();
  bool TakeBackRemovalsOfNewNames();
  bool StagedFilesHold();
  std::optional<FileFailure> OpenTargets();
  void CloseTargets();
  std::optional<Failure> ReplaceAll();
  bool ScheduleForRestart();
  bool NotScheduledFor(Outcome outcome, Failure why);
  std::vector<Failure> RollBack(HolderWait& wait, const std::vector<std::wstring>& names);
  bool Undo(Failure cause);
  void RemoveStaged(size_t count);
  BootRenames BootRenamesOf(std::vector<std::wstring> names,
                            std::vector<std::wstring> removals = {}) const;
  std::vector<std::wstring> NamesToCreate() const;
  void NotConfirmed(const Failure& reason);

  // Ending the run.
  bool Stop(Failure cause);
  bool StopForHeld(Outcome outcome, FileFailure held);
  bool LeaveForRestart(FileFailure in_use);
  bool End(Outcome outcome, Failure first);
  InstallReport Result();

  const std::wstring& directory_;
  const PayloadTable& table_;
  const HMODULE module_;
  const InstallSettings& settings_;
  ResourceFolder folder_;
  FolderLock lock_;
  HolderWait wait_;  // for momentary holders, spent while the run installs
  Leftovers leftovers_;
  std::vector<Change> changes_;
  bool planned_ = false;
  std::optional<FileFailure> unplanned_;  // why planning failed; the read-only target, if that
  size_t staged_ = 0;                     // how many staged files exist, whole or not
  std::optional<FileFailure> in_use_;     // a file another program keeps, where one was found
  InstallReport report_;
};

InstallReport Run::Go() {
  if (!Lock() || !FinishEarlierRun()) return Result();
  RemoveLeftovers(folder_, wait_, table_, leftovers_);
  if (!Plan()) return Result();
  for (const Change& change : changes_) report_.bytes_needed += change.payload.size;
  // A repeat run over an installed pack has nothing to check, stage or replace.
  const bool installed = changes_.empty() || (Check() && Stage() && ReplaceOrSchedule());
  if (installed) LookAgain();
  return Result();
}

// Runs on the same folder take turns, through the lock file: the folder is only ever changed
// by the run that holds it.
bool Run::Lock() {
  if (auto failure = OpenResourceFolder(directory_, folder_)) return Stop(std::move(*failure));
  if (auto not_locked = lock_.Acquire(folder_, settings_.lock_wait_ms))
    return Stop(std::move(not_locked->failure));
  return true;
}

// An earlier run left a record in the lock file: either the targets it was replacing when it
// was stopped, which are undone, or those whose replacement it scheduled for the next restart.
bool Run::FinishEarlierRun() {
  RunRecord record;
  if (auto failure = lock_.ReadRecord(record)) {
    report_.restored = false;
    return Stop(std::move(*failure));
  }
  const std::vector<std::wstring> recorded = TableNamesAmong(table_, record.names);
  if (record.for_restart) return KeepOrCancelSchedule(recorded);
  return UndoStoppedRun(recorded);
}

// While a target is still in use, and the staged files still hold this installer's payloads
// for exactly the targets that differ, the schedule stands and the run says so again, touching
// nothing. Otherwise the schedule is cancelled first, with all else scheduled for the folder's
// working names, so that the restart puts nothing in place and removes nothing, and the run
// goes on as any other: it installs now, schedules afresh, or fails. A plan that fails cannot
// say the schedule is still right, so it is cancelled too: a run that fails never leaves a
// schedule standing that would change the folder at the restart.
bool Run::KeepOrCancelSchedule(const std::vector<std::wstring>& names) {
  size_t scheduled = 0;
  if (auto failure = CountScheduled(settings_.restart_renames, BootRenamesOf(names), scheduled))
    return Stop(std::move(*failure));
  if (scheduled > 0 && scheduled == names.size() && Planned() && TargetsOf(changes_) == names &&
      StagedFilesHold()) {
    std::optional<FileFailure> unopened = OpenTargets();
    CloseTargets();
    if (unopened && unopened->failure.outcome == Outcome::kInUse)
      return LeaveForRestart(std::move(*unopened));
  }
  if (scheduled > 0) {
    if (auto failure =
            TakeBack(settings_.restart_renames, folder_.final_path, WorkingNames(table_)))
      return Stop(std::move(*failure));
  }
  if (auto failure = lock_.Record({})) return Stop(std::move(*failure));
  return true;
}

// A run stopped while replacing left its record: exactly the targets it names are undone.
bool Run::UndoStoppedRun(const std::vector<std::wstring>& names) {
  if (names.empty()) return true;
  std::vector<Failure> problems = RollBack(wait_, names);
  if (problems.empty()) {
    if (auto failure = lock_.Record({})) problems.push_back(std::move(*failure));
  }
  if (problems.empty()) return true;
  report_.restored = false;
  Stop(problems.front());
  report_.problems.insert(report_.problems.end(), problems.begin() + 1, problems.end());
  return false;
}

// Which targets need writing, planned once: a run that weighs an earlier run's schedule plans
// before it decides, and goes on with that plan. A plan that failed stops the run here, after
// the leftovers are cleared, as any run's does.
bool Run::Plan() {
  if (Planned()) return true;
  report_.read_only_file = unplanned_->file;
  return Stop(unplanned_->failure);
}

// Whether the changes could be planned; planned the first time it is asked.
bool Run::Planned() {
  if (!planned_) unplanned_ = PlanChanges();
  planned_ = true;
  return !unplanned_;
}

// A target that already holds its payload is left alone; one that is not a plain file, or is
// read-only, stops the run before anything changes. One that another program keeps from being
// read at all has to be written.
std::optional<FileFailure> Run::PlanChanges() {
  changes_.clear();
  for (const PayloadEntry& entry : table_) {
    Change change = ChangeFor(entry.file_name);
    change.digest = entry.digest;
    const std::wstring path = folder_.path + change.target;
    if (auto failure = LoadPayload(module_, entry.resource_id, path, change.payload))
      return FileFailure{std::move(*failure), {}};
    Entry target;
    if (auto failure = InspectEntry(folder_, wait_, change.target, GENERIC_READ, target)) {
      if (failure->outcome != Outcome::kInUse) return FileFailure{std::move(*failure), {}};
      target.kind = EntryKind::kFile;
    }
    if (target.kind != EntryKind::kAbsent && target.kind != EntryKind::kFile)
      return FileFailure{Finding(path + L" " + KindText(target.kind) + L"; it was left alone"), {}};
    change.target_exists = target.kind == EntryKind::kFile;
    if (target.handle) {
      if (auto failure = ReadThroughFilter(folder_, change.target, target))
        return FileFailure{std::move(*failure), {}};
      bool same = false;
      if (auto failure =
              FileHasDigest(target.handle.get(), path, change.payload.size, entry.digest, same))
        return FileFailure{std::move(*failure), {}};
      if (same) continue;
      if (target.read_only)
        return FileFailure{
            {path + L" is read-only, so it was not overwritten", 0, Outcome::kRefused}, path};
    }
    changes_.push_back(std::move(change));
  }
  return std::nullopt;
}

// Nothing may stand in the way of the changes once the folder starts changing.
bool Run::Check() { return CheckWorkingNames() && CheckPayloads() && TakeBackRemovalsOfNewNames(); }

// A leftover that could not be cleared under a name a change needs stops the run now, and
// keeps a later undo from mistaking it for this run's own. One that another program holds (an
// old copy the host still has open or mapped) makes its target a file in use: then the set can
// still be replaced at the next restart, unless it is a staged file's name.
bool Run::CheckWorkingNames() {
  for (const Change& change : changes_) {
    for (const std::wstring* name : {&change.staged, &change.Aside()}) {
      const std::wstring path = folder_.path + *name;
      Entry leftover;
      std::optional<Failure> failure = InspectEntry(folder_, wait_, *name, 0, leftover);
      if (!failure && leftover.kind == EntryKind::kAbsent) {
        leftovers_.Gone(*name);  // held when the run began, maybe, but gone since
        continue;
      }
      if (!HeldByAnotherProgram(*name, failure, leftover)) {
        if (failure) return Stop(std::move(*failure));
        return Stop({path + L" is in the way of replacing " + folder_.path + change.target, 0});
      }
      // With the system's own code where it gave one, opening it or removing it; a removal it
      // accepted says nothing.
      FileFailure held{{L"could not replace " + folder_.path + change.target + L": " + path +
                            L" is still held by another program",
                        failure ? failure->code : leftovers_.CodeOf(*name), Outcome::kInUse},
                       path};
      if (name == &change.staged) return StopForHeld(Outcome::kInUse, std::move(held));
      leftovers_.Hold(*name);
      if (!in_use_) in_use_ = std::move(held);
    }
  }
  return true;
}

// Whether the leftover `name`, still there after the leftovers were cleared, is one another
// program holds: opening it was refused because it is held; or it is a file whose removal was
// accepted and that stayed (nothing was said of it), or that was found held.
bool Run::HeldByAnotherProgram(const std::wstring& name, const std::optional<Failure>& failure,
                               const Entry& leftover) const {
  if (failure) return failure->outcome == Outcome::kInUse;
  return leftover.kind == EntryKind::kFile && (!leftovers_.Warned(name) || leftovers_.Held(name));
}

// A damaged copy of the installer must not install damaged files: every payload about to be
// written is checked before the folder changes at all.
bool Run::CheckPayloads() {
  for (const Change& change : changes_) {
    if (PayloadDigest(change.payload.bytes, change.payload.size) != change.digest)
      return Stop({L"this copy of the installer is damaged: its " + change.target +
                       L" is not the file it was built with; get a new copy of the installer",
                   0, Outcome::kDamaged});
  }
  return true;
}

// The restart carries out its list by name, whatever file has the name by then: a removal an
// earlier run scheduled must not meet a file this run stages, or an old one it moves aside.
bool Run::TakeBackRemovalsOfNewNames() {
  if (auto failure = TakeBack(settings_.restart_renames, folder_.final_path, NamesToCreate()))
    return Stop(std::move(*failure));
  return true;
}

// Writes every staged file, flushed. A run that stops here removes what it staged, and so
// leaves the folder as it was; a later run clears whatever of it stays.
bool Run::Stage() {
  for (const Change& change : changes_) {
    UniqueHandle file;
    std::optional<Failure> failure =
        CreateEntry(folder_, wait_, change.staged, GENERIC_WRITE, file);
    if (!failure) {
      ++staged_;
      failure =
          ExtractResourceToFile(change.payload, std::move(file), folder_.path + change.staged);
    }
    if (failure) {
      RemoveStaged(staged_);
      return Stop(std::move(*failure));
    }
  }
  return true;
}

// Moves each target aside and puts its staged file in its place; where a file is in use, has
// all of that done at the next restart instead. Only an installation goes on to the last look.
bool Run::ReplaceOrSchedule() {
  if (!in_use_) {
    if (std::optional<FileFailure> unopened = OpenTargets()) {
      CloseTargets();
      if (unopened->failure.outcome != Outcome::kInUse) {
        RemoveStaged(changes_.size());
        return Stop(std::move(unopened->failure));
      }
      in_use_ = std::move(unopened);
    }
  }
  if (in_use_) {
    CloseTargets();
    return ScheduleForRestart();
  }
  // From the record on, a stopped run is undone by the next one; clearing it commits the set.
  std::optional<Failure> failure = lock_.Record({TargetsOf(changes_)});
  if (!failure) failure = ReplaceAll();
  if (!failure) failure = lock_.Record({});
  CloseTargets();
  if (failure) return Undo(std::move(*failure));
  for (const Change& change : changes_) leftovers_.Remove(folder_, wait_, change.Aside());
  return true;
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
  lock_.Release();
  std::vector<std::wstring> left;
  if (auto failure = OwnEntries(folder_, table_, true, left)) return NotConfirmed(*failure);
  if (leftovers_.NotWarnedOf(left).empty() && leftovers_.held().empty()) return;
  FolderLock again;
  if (auto not_locked = again.Acquire(folder_, 0)) {
    if (not_locked->failure.outcome != Outcome::kBusy) NotConfirmed(not_locked->failure);
    return;
  }
  RemoveLeftovers(folder_, wait_, table_, leftovers_);
  if (auto failure = OwnEntries(folder_, table_, false, left)) return NotConfirmed(*failure);
  const auto still_there = [&](const std::wstring& name) {
    return Finding(folder_.path + name + L" is still there after its removal");
  };
  for (const std::wstring& name : leftovers_.NotWarnedOf(left))
    leftovers_.Add(name, still_there(name), true);
  for (const std::wstring& name : leftovers_.held()) {
    if (std::none_of(left.begin(), left.end(),
                     [&](const std::wstring& listed) { return SameName(listed, name); }))
      leftovers_.Gone(name);
  }
  const std::vector<std::wstring> held = leftovers_.held();
  if (!held.empty() &&
      !ScheduleRenames(settings_.restart_renames, BootRenamesOf({}, held), WorkingNames(table_))) {
    for (const std::wstring& name : held)
      leftovers_.Add(name, {folder_.path + name + L" will be removed at the next restart", 0});
  }
  again.Release();
  if (auto failure = OwnEntries(folder_, table_, true, left)) return NotConfirmed(*failure);
  for (const std::wstring& name : leftovers_.NotWarnedOf(left))
    leftovers_.Add(name, still_there(name));
}

// Whether the staged files of the changes are there and hold their payloads.
bool Run::StagedFilesHold() {
  for (const Change& change : changes_) {
    Entry staged;
    bool same = false;
    if (InspectEntry(folder_, wait_, change.staged, GENERIC_READ, staged) ||
        staged.kind != EntryKind::kFile ||
        FileHasDigest(staged.handle.get(), folder_.path + change.staged, change.payload.size,
                      change.digest, same) ||
        !same)
      return false;
  }
  return true;
}

// Opens every target that is to be moved aside, before any is moved: one that another program
// keeps open stops the run with nothing replaced. Returns the first that could not be opened.
std::optional<FileFailure> Run::OpenTargets() {
  for (Change& change : changes_) {
    if (!change.target_exists) continue;
    const std::wstring path = folder_.path + change.target;
    if (auto failure =
            OpenToMove(folder_, wait_, change.target, L"could not replace " + path, change.opened))
      return FileFailure{std::move(*failure), path};
  }
  return std::nullopt;
}

void Run::CloseTargets() {
  for (Change& change : changes_) change.opened.handle.reset();
}

// Moves each opened target aside (or marks that there was none), then puts the staged file in
// its place. The working names are free: leftovers were cleared before staging began.
std::optional<Failure> Run::ReplaceAll() {
  for (Change& change : changes_) {
    if (change.target_exists) {
      if (auto failure = MoveOpened(folder_, wait_, change.opened, change.target, change.backup, 0))
        return failure;
    } else {
      UniqueHandle marker;
      if (auto failure = CreateEntry(folder_, wait_, change.absent, GENERIC_WRITE, marker))
        return failure;
    }
    if (auto failure = MoveEntry(folder_, wait_, change.staged, change.target, 0)) return failure;
  }
  return std::nullopt;
}

// A target stays in use: the new set, staged and flushed, replaces the old at the next
// restart, all of it at once, before any program can open the files. Until then the folder
// holds the old set. Recorded first: a run stopped before the schedule is written leaves a
// record that the next run finds nothing scheduled for, and clears. Held working files go at
// the restart too, before the renames; nothing else of the folder's working names stays
// scheduled.
bool Run::ScheduleForRestart() {
  const std::vector<std::wstring> targets = TargetsOf(changes_);
  if (auto failure = lock_.Record({targets, true}))
    return NotScheduledFor(failure->outcome, std::move(*failure));
  std::optional<Failure> not_scheduled = ScheduleRenames(
      settings_.restart_renames, BootRenamesOf(targets, leftovers_.held()), WorkingNames(table_));
  if (!not_scheduled) return LeaveForRestart(std::move(*in_use_));
  // Where the system does not let this run schedule it (not an administrator, say), the file in
  // use stays the reason; where the schedule could not be written, that is the reason.
  const Outcome outcome =
      not_scheduled->outcome == Outcome::kRefused ? Outcome::kInUse : not_scheduled->outcome;
  return NotScheduledFor(outcome, std::move(*not_scheduled));
}

// The replacement at the restart could not be scheduled, for `why`: nothing changes, and the
// run ends with `outcome`.
bool Run::NotScheduledFor(Outcome outcome, Failure why) {
  RemoveStaged(changes_.size());
  StopForHeld(outcome, std::move(*in_use_));
  report_.problems.push_back(std::move(why));
  if (auto failure = lock_.Record({})) report_.problems.push_back(std::move(*failure));
  return false;
}

// Puts back every listed target whose replacement had begun, then removes the staged files.
std::vector<Failure> Run::RollBack(HolderWait& wait, const std::vector<std::wstring>& names) {
  std::vector<Failure> problems;
  const auto collect = [&](std::optional<Failure> failure) {
    if (failure) problems.push_back(std::move(*failure));
  };
  for (const std::wstring& name : names) {
    const Change files = ChangeFor(name);
    Entry backup;
    Entry marker;
    // Only a run's own working files are plain files: the names were free when it began.
    if (auto failure = InspectEntry(folder_, wait, files.backup, 0, backup)) {
      collect(std::move(failure));
    } else if (backup.kind == EntryKind::kFile) {
      backup.handle.reset();
      collect(MoveEntry(folder_, wait, files.backup, files.target, MOVEFILE_REPLACE_EXISTING));
    } else if (auto failure = InspectEntry(folder_, wait, files.absent, 0, marker)) {
      collect(std::move(failure));
    } else if (marker.kind == EntryKind::kFile) {
      marker.handle.reset();
      std::optional<Failure> failure = RemoveEntry(folder_, wait, files.target);
      if (!failure) failure = RemoveEntry(folder_, wait, files.absent);
      collect(std::move(failure));
    }
  }
  // Staged files stay until every target is back: they are harmless, and removing them first
  // would not make the next run's undo any easier.
  if (problems.empty()) {
    for (const std::wstring& name : names)
      collect(RemoveEntry(folder_, wait, ChangeFor(name).staged));
  }
  return problems;
}

// Undoes this run's replacements after `cause`; the record is cleared only once they are all
// undone, so that otherwise the next run finishes the undo. An undo waits for momentary holders
// afresh: the run's own waiting must not leave it half done.
bool Run::Undo(Failure cause) {
  HolderWait wait(settings_.holder_wait_ms);
  Stop(std::move(cause));
  std::vector<Failure> problems = RollBack(wait, TargetsOf(changes_));
  if (problems.empty()) {
    if (auto failure = lock_.Record({})) problems.push_back(std::move(*failure));
  }
  if (!problems.empty()) report_.restored = false;
  for (Failure& problem : problems) report_.problems.push_back(std::move(problem));
  return false;
}

// Removes the first `count` staged files, waiting for momentary holders afresh; what cannot be
// removed, a later run clears.
void Run::RemoveStaged(size_t count) {
  HolderWait wait(settings_.holder_wait_ms);
  for (size_t i = 0; i < count; ++i) RemoveEntry(folder_, wait, changes_[i].staged);
}

// The renames that put the staged files of `names` in place at the next restart, after the
// working files of `removals` are deleted; named by the folder's final path, which is how the
// system can reach it at boot.
BootRenames Run::BootRenamesOf(std::vector<std::wstring> names,
                               std::vector<std::wstring> removals) const {
  return {folder_.final_path, std::move(names), kStagedSuffix, std::move(removals)};
}

// The names the run is about to create: staged files, and the names targets move aside to where
// no old copy holds them.
std::vector<std::wstring> Run::NamesToCreate() const {
  std::vector<std::wstring> names;
  for (const Change& change : changes_) {
    names.push_back(change.staged);
    if (!leftovers_.Held(change.Aside())) names.push_back(change.Aside());
  }
  return names;
}

// The last look at the folder could not be made, for `reason`.
void Run::NotConfirmed(const Failure& reason) {
  leftovers_.Warn({L"could not look again for working files left over: " + Describe(reason), 0});
}

// Ends the run for `cause`, with the outcome it gives.
bool Run::Stop(Failure cause) {
  const Outcome outcome = cause.outcome;
  return End(outcome, std::move(cause));
}

// Ends the run with `outcome` because another program keeps the file `held` names.
bool Run::StopForHeld(Outcome outcome, FileFailure held) {
  report_.held_file = std::move(held.file);
  return End(outcome, std::move(held.failure));
}

// Ends the run with the new set waiting for the next restart, because another program keeps
// the file `in_use` names: a success, said with that file first.
bool Run::LeaveForRestart(FileFailure in_use) {
  report_.held_file = std::move(in_use.file);
  return End(Outcome::kScheduled, std::move(in_use.failure));
}

// Ends the run with `outcome`, `first` said first; false, for the step that ends it to return.
bool Run::End(Outcome outcome, Failure first) {
  report_.outcome = outcome;
  report_.problems.push_back(std::move(first));
  return false;
}

// What the run came to, told in full.
InstallReport Run::Result() {
  // Leftovers that stay are told after the outcome's own problems: they may explain a failure.
  for (Failure& warning : leftovers_.warnings()) report_.problems.push_back(std::move(warning));
  return std::move(report_);
}

Change ChangeFor(const std::wstring& name) {
  Change change;
  change.target = name;
  change.staged = name + kStagedSuffix;
  change.backup = name + kBackupSuffix;
  change.absent = name + kAbsentSuffix;
  return change;
}

std::vector<std::wstring> TargetsOf(const std::vector<Change>& changes) {
  std::vector<std::wstring> names;
  for (const Change& change : changes) names.push_back(change.target);
  return names;
}

// The table's names among `names`, in the table's order: nothing else is ever acted on,
// whatever a record says.
std::vector<std::wstring> TableNamesAmong(const PayloadTable& table,
                                          const std::vector<std::wstring>& names) {
  std::vector<std::wstring> found;
  for (const PayloadEntry& entry : table) {
    if (std::find(names.begin(), names.end(), entry.file_name) != names.end())
      found.push_back(entry.file_name);
  }
  return found;
}

}  // namespace

InstallReport InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module, const InstallSettings& settings) {
  return Run(directory, table, module, settings).Go();
}
