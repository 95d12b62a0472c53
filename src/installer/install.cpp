#include "installer/install.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "installer/leftovers.h"
#include "payload/digest.h"
#include "payload/writer.h"

namespace {

// A target that has to be written, and its working files (names within the folder).
struct Change {
  std::wstring target;
  std::wstring staged;
  std::wstring backup;
  std::wstring absent;
  Payload payload;
  std::uint64_t digest = 0;  // what the build recorded for the payload
  bool target_exists = false;
  Entry opened;  // the target, opened to be moved aside
};

Change ChangeFor(const std::wstring& name) {
  return {name, name + kStagedSuffix, name + kBackupSuffix, name + kAbsentSuffix, {}, 0, false, {}};
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

// A result with `cause` as its first problem.
InstallResult Ended(InstallState state, Failure cause) {
  InstallResult result;
  result.state = state;
  result.problems.push_back(std::move(cause));
  return result;
}

InstallResult Unchanged(Failure cause) { return Ended(InstallState::kUnchanged, std::move(cause)); }

// A run that stopped while planning, for `cause`, and, where it names one, for the read-only
// target `read_only_file`: nothing changed.
InstallResult NotPlanned(Failure cause, std::wstring read_only_file) {
  InstallResult result = Unchanged(std::move(cause));
  result.read_only_file = std::move(read_only_file);
  return result;
}

void Collect(std::vector<Failure>& problems, std::optional<Failure> failure) {
  if (failure) problems.push_back(std::move(*failure));
}

// Puts back every listed target whose replacement had begun, then removes the staged files.
std::vector<Failure> RollBack(ResourceFolder& folder, const std::vector<std::wstring>& names) {
  std::vector<Failure> problems;
  for (const std::wstring& name : names) {
    const Change files = ChangeFor(name);
    Entry backup;
    Entry marker;
    // Only a run's own working files are plain files: the names were free when it began.
    if (auto failure = InspectEntry(folder, files.backup, 0, backup)) {
      problems.push_back(std::move(*failure));
    } else if (backup.kind == EntryKind::kFile) {
      backup.handle.reset();
      Collect(problems, MoveEntry(folder, files.backup, files.target, MOVEFILE_REPLACE_EXISTING));
    } else if (auto failure = InspectEntry(folder, files.absent, 0, marker)) {
      problems.push_back(std::move(*failure));
    } else if (marker.kind == EntryKind::kFile) {
      marker.handle.reset();
      std::optional<Failure> failure = RemoveEntry(folder, files.target);
      if (!failure) failure = RemoveEntry(folder, files.absent);
      Collect(problems, std::move(failure));
    }
  }
  // Staged files stay until every target is back: they are harmless, and removing them first
  // would not make the next run's undo any easier.
  if (problems.empty()) {
    for (const std::wstring& name : names)
      Collect(problems, RemoveEntry(folder, ChangeFor(name).staged));
  }
  return problems;
}

// Undoes this run's replacements; the record is cleared only once they are all undone, so
// that otherwise the next run finishes the undo. An undo waits for momentary holders afresh:
// the run's own waiting must not leave it half done.
InstallResult Undo(Failure cause, ResourceFolder& folder, FolderLock& lock,
                   const std::vector<Change>& changes, const InstallSettings& settings) {
  folder.holder_wait_ms = settings.holder_wait_ms;
  InstallResult result = Unchanged(std::move(cause));
  std::vector<Failure> problems = RollBack(folder, TargetsOf(changes));
  if (problems.empty()) Collect(problems, lock.Record({}));
  for (Failure& problem : problems) {
    result.state = InstallState::kInconsistent;
    result.problems.push_back(std::move(problem));
  }
  return result;
}

// A run stopped while replacing left its record: undo exactly the targets it names.
std::optional<std::vector<Failure>> UndoStoppedRun(ResourceFolder& folder, FolderLock& lock,
                                                   const std::vector<std::wstring>& names) {
  if (names.empty()) return std::nullopt;
  std::vector<Failure> problems = RollBack(folder, names);
  if (problems.empty()) Collect(problems, lock.Record({}));
  if (problems.empty()) return std::nullopt;
  return problems;
}

// A run that stops before replacing anything removes the first `staged` staged files, and so
// leaves the folder as it was; a later run clears whatever of them stays.
InstallResult Unstage(Failure cause, ResourceFolder& folder, const std::vector<Change>& changes,
                      size_t staged, const InstallSettings& settings) {
  folder.holder_wait_ms = settings.holder_wait_ms;
  for (size_t i = 0; i < staged; ++i) RemoveEntry(folder, changes[i].staged);
  return Unchanged(std::move(cause));
}

// Which targets need writing. A target that already holds its payload is left alone; one
// that is not a plain file, or is read-only, stops the run before anything changes, and
// `read_only_file` names a read-only one. One that another program keeps from being read at
// all has to be written.
std::optional<Failure> PlanChanges(ResourceFolder& folder, const PayloadTable& table,
                                   HMODULE module, std::vector<Change>& changes,
                                   std::wstring& read_only_file) {
  changes.clear();
  for (const PayloadEntry& entry : table) {
    Change change = ChangeFor(entry.file_name);
    change.digest = entry.digest;
    const std::wstring path = folder.path + change.target;
    if (auto failure = LoadPayload(module, entry.resource_id, path, change.payload)) return failure;
    Entry target;
    if (auto failure = InspectEntry(folder, change.target, GENERIC_READ, target)) {
      if (!IsInUse(failure->code)) return failure;
      target.kind = EntryKind::kFile;
    }
    if (target.kind != EntryKind::kAbsent && target.kind != EntryKind::kFile)
      return Failure{path + L" " + KindText(target.kind) + L"; it was left alone", 0};
    change.target_exists = target.kind == EntryKind::kFile;
    if (target.handle) {
      if (auto failure = ReadThroughFilter(folder, change.target, target)) return failure;
      bool same = false;
      if (auto failure =
              FileHasDigest(target.handle.get(), path, change.payload.size, entry.digest, same))
        return failure;
      if (same) continue;
      if (target.read_only) {
        read_only_file = path;
        return Failure{path + L" is read-only, so it was not overwritten", ERROR_ACCESS_DENIED};
      }
    }
    changes.push_back(std::move(change));
  }
  return std::nullopt;
}

// A leftover that could not be cleared under a name a change needs stops the run now, and
// keeps a later undo from mistaking it for this run's own. One that another program holds (an
// old copy the host still has open or mapped) makes its target a file in use: then `held` says
// so, and the set can still be replaced at the next restart, unless it is a staged file's name.
// `held_file` names the file held.
std::optional<Failure> CheckWorkingNames(ResourceFolder& folder, const std::vector<Change>& changes,
                                         Leftovers& leftovers, std::optional<Failure>& held,
                                         std::wstring& held_file) {
  for (const Change& change : changes) {
    const std::wstring& aside = change.target_exists ? change.backup : change.absent;
    for (const std::wstring* name : {&change.staged, &aside}) {
      const std::wstring path = folder.path + *name;
      Entry leftover;
      std::optional<Failure> failure = InspectEntry(folder, *name, 0, leftover);
      if (!failure && leftover.kind == EntryKind::kAbsent) {
        leftovers.Gone(*name);  // held when the run began, maybe, but gone since
        continue;
      }
      // Its removal was accepted and it stayed, or was refused because it is held.
      const bool is_held = failure ? IsInUse(failure->code)
                                   : leftover.kind == EntryKind::kFile &&
                                         (!leftovers.Named(*name) || leftovers.Held(*name));
      if (!is_held) {
        if (failure) return failure;
        return Failure{path + L" is in the way of replacing " + folder.path + change.target, 0};
      }
      failure = Failure{L"could not replace " + folder.path + change.target + L": " + path +
                            L" is still held by another program",
                        failure ? failure->code : DWORD{ERROR_SHARING_VIOLATION}};
      if (held_file.empty()) held_file = path;
      if (name == &change.staged) return failure;
      leftovers.Hold(*name);
      if (!held) held = std::move(failure);
    }
  }
  return std::nullopt;
}

// The names the run is about to create: staged files, and the names targets move aside to where
// no old copy holds them.
std::vector<std::wstring> NamesToCreate(const std::vector<Change>& changes,
                                        const Leftovers& leftovers) {
  std::vector<std::wstring> names;
  for (const Change& change : changes) {
    names.push_back(change.staged);
    const std::wstring& aside = change.target_exists ? change.backup : change.absent;
    if (!leftovers.Held(aside)) names.push_back(aside);
  }
  return names;
}

// A damaged copy of the installer must not install damaged files: every payload about to be
// written is checked before the folder changes at all.
std::optional<Failure> CheckPayloads(const std::vector<Change>& changes) {
  for (const Change& change : changes) {
    if (PayloadDigest(change.payload.bytes, change.payload.size) != change.digest) {
      return Failure{L"this copy of the installer is damaged: its " + change.target +
                         L" is not the file it was built with; get a new copy of the installer",
                     ERROR_CRC};
    }
  }
  return std::nullopt;
}

// Writes every staged file, flushed; `staged` counts those that exist, whole or not.
std::optional<Failure> Stage(ResourceFolder& folder, const std::vector<Change>& changes,
                             size_t& staged) {
  staged = 0;
  for (const Change& change : changes) {
    UniqueHandle file;
    if (auto failure = CreateEntry(folder, change.staged, GENERIC_WRITE, file)) return failure;
    ++staged;
    if (auto failure =
            ExtractResourceToFile(change.payload, std::move(file), folder.path + change.staged))
      return failure;
  }
  return std::nullopt;
}

// Whether the staged files of `changes` are there and hold their payloads.
bool StagedFilesHold(ResourceFolder& folder, const std::vector<Change>& changes) {
  for (const Change& change : changes) {
    Entry staged;
    bool same = false;
    if (InspectEntry(folder, change.staged, GENERIC_READ, staged) ||
        staged.kind != EntryKind::kFile ||
        FileHasDigest(staged.handle.get(), folder.path + change.staged, change.payload.size,
                      change.digest, same) ||
        !same)
      return false;
  }
  return true;
}

// Opens every target that is to be moved aside, before any is moved: one that another program
// keeps open stops the run here, with nothing replaced, and `held_file` names it.
std::optional<Failure> OpenTargets(ResourceFolder& folder, std::vector<Change>& changes,
                                   std::wstring& held_file) {
  for (Change& change : changes) {
    if (!change.target_exists) continue;
    if (auto failure = OpenToMove(folder, change.target, change.opened)) {
      held_file = folder.path + change.target;
      if (failure->code != ERROR_SUCCESS) failure->what = L"could not replace " + held_file;
      return failure;
    }
  }
  return std::nullopt;
}

void CloseTargets(std::vector<Change>& changes) {
  for (Change& change : changes) change.opened.handle.reset();
}

// Moves each opened target aside (or marks that there was none), then puts the staged file in
// its place. The working names are free: leftovers were cleared before staging began.
std::optional<Failure> ReplaceAll(ResourceFolder& folder, std::vector<Change>& changes) {
  for (Change& change : changes) {
    if (change.target_exists) {
      if (auto failure = MoveOpened(folder, change.opened, change.target, change.backup, 0))
        return failure;
    } else {
      UniqueHandle marker;
      if (auto failure = CreateEntry(folder, change.absent, GENERIC_WRITE, marker)) return failure;
    }
    if (auto failure = MoveEntry(folder, change.staged, change.target, 0)) return failure;
  }
  return std::nullopt;
}

// A target stays in use: the new set, staged and flushed, replaces the old at the next
// restart, all of it at once, before any program can open the files. Until then the folder
// holds the old set. Where the system does not let this run schedule that, nothing changes,
// and the file in use stays the reason; where the record of the schedule could not be written
// (a full disk, an I/O error), that is the reason.
InstallResult ScheduleForRestart(Failure in_use, ResourceFolder& folder, FolderLock& lock,
                                 const PayloadTable& table, const std::vector<Change>& changes,
                                 const InstallSettings& settings, const Leftovers& leftovers) {
  // Recorded first: a run stopped before the schedule is written leaves a record that the
  // next run finds nothing scheduled for, and clears. Held working files go at the restart
  // too, before the renames; nothing else of the folder's working names stays scheduled.
  const std::vector<std::wstring> targets = TargetsOf(changes);
  std::optional<Failure> failure = lock.Record({targets, true});
  const bool recorded = !failure;
  if (!failure)
    failure =
        ScheduleRenames(settings.restart_renames, BootRenamesOf(folder, targets, leftovers.held()),
                        WorkingNames(table));
  if (!failure) return Ended(InstallState::kScheduled, std::move(in_use));
  InstallResult result = Unstage(std::move(in_use), folder, changes, changes.size(), settings);
  if (!recorded || !IsRefusal(failure->code)) result.status_code = failure->code;
  result.problems.push_back(std::move(*failure));
  Collect(result.problems, lock.Record({}));
  return result;
}

// A run before the restart that an earlier run scheduled the new set for. While a target is
// still in use, and the staged files still hold this installer's payloads for exactly the
// targets that differ, the schedule stands and the run says so again, touching nothing.
// Otherwise the schedule is cancelled first, with all else scheduled for the folder's working
// names, so that the restart puts nothing in place and removes nothing, and the run goes on as
// any other: it installs now, or schedules afresh.
std::optional<InstallResult> KeepPendingRestart(ResourceFolder& folder, FolderLock& lock,
                                                const PayloadTable& table, HMODULE module,
                                                const std::vector<std::wstring>& names,
                                                const InstallSettings& settings) {
  const BootRenames renames = BootRenamesOf(folder, names);
  size_t scheduled = 0;
  if (auto failure = CountScheduled(settings.restart_renames, renames, scheduled))
    return Unchanged(std::move(*failure));
  if (scheduled > 0 && scheduled == names.size()) {
    std::vector<Change> changes;
    std::wstring read_only_file;
    if (auto failure = PlanChanges(folder, table, module, changes, read_only_file))
      return NotPlanned(std::move(*failure), std::move(read_only_file));
    std::wstring held_file;
    if (TargetsOf(changes) == names && StagedFilesHold(folder, changes)) {
      std::optional<Failure> failure = OpenTargets(folder, changes, held_file);
      if (failure && IsInUse(failure->code)) {
        InstallResult result = Ended(InstallState::kScheduled, std::move(*failure));
        result.held_file = std::move(held_file);
        return result;
      }
    }
  }
  if (scheduled > 0) {
    if (auto failure = TakeBack(settings.restart_renames, folder.final_path, WorkingNames(table)))
      return Unchanged(std::move(*failure));
  }
  if (auto failure = lock.Record({})) return Unchanged(std::move(*failure));
  return std::nullopt;
}

// Stages the changes, then replaces their targets, or has that done at the next restart.
// `held_file` names a file another program holds, where one was found.
InstallResult Install(ResourceFolder& folder, FolderLock& lock, const PayloadTable& table,
                      std::vector<Change>& changes, const InstallSettings& settings,
                      Leftovers& leftovers, std::wstring& held_file) {
  if (changes.empty()) return {};
  std::optional<Failure> in_use;
  if (auto failure = CheckWorkingNames(folder, changes, leftovers, in_use, held_file))
    return Unchanged(std::move(*failure));
  if (auto failure = CheckPayloads(changes)) return Unchanged(std::move(*failure));
  // The restart carries out its list by name, whatever file has the name by then: a removal an
  // earlier run scheduled must not meet a file this run stages, or an old one it moves aside.
  if (auto failure =
          TakeBack(settings.restart_renames, folder.final_path, NamesToCreate(changes, leftovers)))
    return Unchanged(std::move(*failure));

  size_t staged = 0;
  if (auto failure = Stage(folder, changes, staged))
    return Unstage(std::move(*failure), folder, changes, staged, settings);
  std::optional<Failure> failure = std::move(in_use);
  if (!failure) failure = OpenTargets(folder, changes, held_file);
  if (failure) {
    CloseTargets(changes);
    if (IsInUse(failure->code))
      return ScheduleForRestart(std::move(*failure), folder, lock, table, changes, settings,
                                leftovers);
    return Unstage(std::move(*failure), folder, changes, changes.size(), settings);
  }

  // From the record on, a stopped run is undone by the next one; clearing it commits the set.
  failure = lock.Record({TargetsOf(changes)});
  if (!failure) failure = ReplaceAll(folder, changes);
  if (!failure) failure = lock.Record({});
  CloseTargets(changes);
  if (failure) return Undo(std::move(*failure), folder, lock, changes, settings);

  for (const Change& change : changes)
    leftovers.Remove(folder, change.target_exists ? change.backup : change.absent);
  return {};
}

// The run, once the folder is locked and the working names are clear.
InstallResult InstallChanges(ResourceFolder& folder, FolderLock& lock, const PayloadTable& table,
                             HMODULE module, const InstallSettings& settings,
                             Leftovers& leftovers) {
  std::vector<Change> changes;
  std::wstring read_only_file;
  if (auto failure = PlanChanges(folder, table, module, changes, read_only_file))
    return NotPlanned(std::move(*failure), std::move(read_only_file));
  std::wstring held_file;
  InstallResult result = Install(folder, lock, table, changes, settings, leftovers, held_file);
  result.held_file = std::move(held_file);
  for (const Change& change : changes) result.bytes_needed += change.payload.size;
  return result;
}

}  // namespace

InstallResult InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module, const InstallSettings& settings) {
  ResourceFolder folder;
  if (auto failure = OpenResourceFolder(directory, folder)) return Unchanged(std::move(*failure));
  folder.holder_wait_ms = settings.holder_wait_ms;
  FolderLock lock;
  if (auto failure = lock.Acquire(folder, settings.lock_wait_ms))
    return Unchanged(std::move(*failure));

  RunRecord record;
  if (auto failure = lock.ReadRecord(record))
    return Ended(InstallState::kInconsistent, std::move(*failure));
  const std::vector<std::wstring> recorded = TableNamesAmong(table, record.names);
  if (record.for_restart) {
    if (auto pending = KeepPendingRestart(folder, lock, table, module, recorded, settings))
      return std::move(*pending);
  } else if (auto problems = UndoStoppedRun(folder, lock, recorded)) {
    InstallResult result;
    result.state = InstallState::kInconsistent;
    result.problems = std::move(*problems);
    return result;
  }

  Leftovers leftovers;
  RemoveLeftovers(folder, table, leftovers);
  InstallResult result = InstallChanges(folder, lock, table, module, settings, leftovers);
  if (result.state == InstallState::kInstalled)
    ConfirmNothingLeft(folder, table, lock, leftovers, settings.restart_renames);
  // Leftovers that stay are told after the outcome's own problems: they may explain a failure.
  for (Failure& warning : leftovers.warnings()) result.problems.push_back(std::move(warning));
  return result;
}
