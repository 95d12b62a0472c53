#include "installer/install.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "installer/resource_folder.h"
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
};

Change ChangeFor(const std::wstring& name) {
  return {name, name + kStagedSuffix, name + kBackupSuffix, name + kAbsentSuffix, {}, 0, false};
}

InstallResult Unchanged(Failure cause) { return {InstallState::kUnchanged, {std::move(cause)}}; }

void Collect(std::vector<Failure>& problems, std::optional<Failure> failure) {
  if (failure) problems.push_back(std::move(*failure));
}

// Moves the target aside (or marks that there was none), then puts the staged file in its
// place. The working names are free: leftovers were cleared before staging began.
std::optional<Failure> Replace(const ResourceFolder& folder, const Change& change) {
  if (change.target_exists) {
    if (auto failure = MoveEntry(folder, change.target, change.backup, 0)) return failure;
  } else {
    UniqueHandle marker(CreateFileW((folder.path + change.absent).c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker) return Failure{L"could not create " + folder.path + change.absent, GetLastError()};
  }
  return MoveEntry(folder, change.staged, change.target, 0);
}

// Puts back every listed target whose replacement had begun, then removes the staged files.
std::vector<Failure> RollBack(const ResourceFolder& folder,
                              const std::vector<std::wstring>& names) {
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

std::vector<std::wstring> TargetsOf(const std::vector<Change>& changes) {
  std::vector<std::wstring> names;
  for (const Change& change : changes) names.push_back(change.target);
  return names;
}

// Undoes this run's replacements; the record is cleared only once they are all undone, so
// that otherwise the next run finishes the undo.
InstallResult Undo(Failure cause, const ResourceFolder& folder, FolderLock& lock,
                   const std::vector<Change>& changes) {
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
std::optional<std::vector<Failure>> UndoStoppedRun(const ResourceFolder& folder, FolderLock& lock,
                                                   const PayloadTable& table) {
  std::vector<std::wstring> recorded;
  if (auto failure = lock.ReadRecord(recorded)) return std::vector<Failure>{*failure};
  if (recorded.empty()) return std::nullopt;
  // Only the table's own names are ever acted on, whatever the record says.
  std::vector<std::wstring> names;
  for (const PayloadEntry& entry : table) {
    if (std::find(recorded.begin(), recorded.end(), entry.file_name) != recorded.end())
      names.push_back(entry.file_name);
  }
  std::vector<Failure> problems = RollBack(folder, names);
  if (problems.empty()) Collect(problems, lock.Record({}));
  if (problems.empty()) return std::nullopt;
  return problems;
}

// Working files no run is using any more: of a finished run, or of one stopped before it
// began replacing. One that cannot be removed is only a warning; it stops a later run only if
// that run needs its name, and then only that run, with the reason.
std::vector<Failure> RemoveLeftovers(const ResourceFolder& folder, const PayloadTable& table) {
  std::vector<Failure> warnings;
  // Usually there are none, and one look at the folder says so.
  if (!AnyEntryMatches(folder, L"*.orvex-*")) return warnings;
  for (const PayloadEntry& entry : table) {
    const Change files = ChangeFor(entry.file_name);
    for (const std::wstring* name : {&files.staged, &files.backup, &files.absent})
      Collect(warnings, RemoveEntry(folder, *name));
  }
  return warnings;
}

// Which targets need writing. A target that already holds its payload is left alone; one
// that is not a plain file, or is read-only, stops the run before anything changes.
std::optional<Failure> PlanChanges(const ResourceFolder& folder, const PayloadTable& table,
                                   HMODULE module, std::vector<Change>& changes) {
  for (const PayloadEntry& entry : table) {
    Change change = ChangeFor(entry.file_name);
    change.digest = entry.digest;
    const std::wstring path = folder.path + change.target;
    if (auto failure = LoadPayload(module, entry.resource_id, path, change.payload)) return failure;
    Entry target;
    if (auto failure = InspectEntry(folder, change.target, GENERIC_READ, target)) return failure;
    if (target.kind != EntryKind::kAbsent && target.kind != EntryKind::kFile)
      return Failure{path + L" " + KindText(target.kind) + L"; it was left alone", 0};
    change.target_exists = target.kind == EntryKind::kFile;
    if (change.target_exists) {
      bool same = false;
      if (auto failure =
              FileHasDigest(target.handle.get(), path, change.payload.size, entry.digest, same))
        return failure;
      if (same) continue;
      if (target.read_only)
        return Failure{path + L" is read-only, so it was not overwritten", ERROR_ACCESS_DENIED};
    }
    // A leftover that could not be cleared under a name this change needs stops the run now,
    // and keeps a later undo from mistaking it for this run's own.
    const std::wstring& aside = change.target_exists ? change.backup : change.absent;
    for (const std::wstring* name : {&std::as_const(change.staged), &aside}) {
      Entry leftover;
      if (auto failure = InspectEntry(folder, *name, 0, leftover)) return failure;
      if (leftover.kind != EntryKind::kAbsent)
        return Failure{folder.path + *name + L" is in the way of replacing " + path, 0};
    }
    changes.push_back(std::move(change));
  }
  return std::nullopt;
}

// The run, once the folder is locked and the working names are clear.
InstallResult InstallChanges(const ResourceFolder& folder, FolderLock& lock,
                             const PayloadTable& table, HMODULE module) {
  std::vector<Change> changes;
  if (auto failure = PlanChanges(folder, table, module, changes))
    return Unchanged(std::move(*failure));
  if (changes.empty()) return {};

  // A damaged copy of the installer must not install damaged files: every payload about to be
  // written is checked before the folder changes at all.
  for (const Change& change : changes) {
    if (PayloadDigest(change.payload.bytes, change.payload.size) != change.digest) {
      return Unchanged({L"this copy of the installer is damaged: its " + change.target +
                            L" is not the file it was built with; get a new copy of the installer",
                        ERROR_CRC});
    }
  }
  for (size_t i = 0; i < changes.size(); ++i) {
    if (auto failure = ExtractResourceToFile(changes[i].payload, folder.path + changes[i].staged)) {
      // Nothing has been replaced: the staged files are the only trace, and a later run
      // clears whatever of them is left.
      for (size_t j = 0; j <= i; ++j) RemoveEntry(folder, changes[j].staged);
      return Unchanged(std::move(*failure));
    }
  }

  // From the record on, a stopped run is undone by the next one; clearing it commits the set.
  if (auto failure = lock.Record(TargetsOf(changes))) return Undo(*failure, folder, lock, changes);
  for (const Change& change : changes) {
    if (auto failure = Replace(folder, change)) return Undo(*failure, folder, lock, changes);
  }
  if (auto failure = lock.Record({})) return Undo(*failure, folder, lock, changes);

  InstallResult result;
  for (const Change& change : changes)
    Collect(result.problems,
            RemoveEntry(folder, change.target_exists ? change.backup : change.absent));
  return result;
}

}  // namespace

InstallResult InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module, DWORD lock_wait_ms) {
  ResourceFolder folder;
  if (auto failure = OpenResourceFolder(directory, folder)) return Unchanged(std::move(*failure));
  FolderLock lock;
  if (auto failure = lock.Acquire(folder, lock_wait_ms)) return Unchanged(std::move(*failure));

  if (auto problems = UndoStoppedRun(folder, lock, table))
    return {InstallState::kInconsistent, std::move(*problems)};
  std::vector<Failure> leftovers = RemoveLeftovers(folder, table);
  InstallResult result = InstallChanges(folder, lock, table, module);
  // Leftovers that stay are told after the outcome's own problems: they may explain a failure.
  for (Failure& leftover : leftovers) result.problems.push_back(std::move(leftover));
  return result;
}
