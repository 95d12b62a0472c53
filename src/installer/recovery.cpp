#include "installer/recovery.h"

#include <algorithm>
#include <utility>

#include "installer/entry_changes.h"
#include "installer/folder_entries.h"
#include "installer/restart_schedule.h"
#include "installer/working_names.h"
#include "payload/digest.h"

namespace {

// The catalogue's names among `names`, in the catalogue's order: nothing else is ever acted on,
// whatever a record says.
std::vector<std::wstring> CatalogueNamesAmong(const Catalogue& catalogue,
                                              const std::vector<std::wstring>& names) {
  std::vector<std::wstring> found;
  for (const PayloadEntry& entry : catalogue) {
    if (std::find(names.begin(), names.end(), entry.file_name) != names.end())
      found.push_back(entry.file_name);
  }
  return found;
}

// Puts back every target of `names` whose replacement had begun, then removes the staged files.
// A read-only entry it cannot remove is `read_only_file`, for the next step to name.
std::vector<Failure> RollBack(const ResourceFolder& folder, Patience& patience,
                              const std::vector<std::wstring>& names,
                              std::wstring& read_only_file) {
  std::vector<Failure> problems;
  const auto collect = [&](std::optional<Failure> failure) {
    if (failure) problems.push_back(std::move(*failure));
  };
  // RemoveEntry refuses, as its own finding, only a read-only entry.
  const auto remove = [&](const std::wstring& name) {
    std::optional<Failure> failure = RemoveEntry(folder, patience, name);
    if (failure && failure->outcome == Outcome::kRefused && failure->code == ERROR_SUCCESS &&
        read_only_file.empty())
      read_only_file = folder.path + name;
    return failure;
  };
  for (const std::wstring& name : names) {
    const Change files = ChangeFor(name);
    Entry backup;
    Entry marker;
    // Only a run's own working files are plain files: the names were free when it began.
    if (auto failure = InspectEntry(folder, patience, files.backup, 0, backup)) {
      collect(std::move(failure));
    } else if (backup.kind == EntryKind::kFile) {
      backup.handle.reset();
      collect(MoveEntry(folder, patience, files.backup, files.target, MOVEFILE_REPLACE_EXISTING));
    } else if (auto failure = InspectEntry(folder, patience, files.absent, 0, marker)) {
      collect(std::move(failure));
    } else if (marker.kind == EntryKind::kFile) {
      marker.handle.reset();
      std::optional<Failure> failure = remove(files.target);
      if (!failure) failure = remove(files.absent);
      collect(std::move(failure));
    }
  }
  // Staged files stay until every target is back: they are harmless, and removing them first
  // would not make the next run's undo any easier.
  if (problems.empty()) {
    for (const std::wstring& name : names) collect(remove(ChangeFor(name).staged));
  }
  return problems;
}

// RollBack of `names` and, once everything is back, the record cleared.
std::vector<Failure> Undo(Workplace& place, Patience& patience,
                          const std::vector<std::wstring>& names, std::wstring& read_only_file) {
  std::vector<Failure> problems = RollBack(place.folder, patience, names, read_only_file);
  if (problems.empty()) {
    if (auto failure = place.lock.Record({})) problems.push_back(std::move(*failure));
  }
  return problems;
}

// Whether the staged files of `plan` are there and hold their payloads.
bool StagedFilesHold(Workplace& place, const Plan& plan) {
  for (const Change& change : plan.changes) {
    Entry staged;
    bool same = false;
    if (InspectEntry(place.folder, place.patience, change.staged, GENERIC_READ, staged) ||
        staged.kind != EntryKind::kFile ||
        FileHasDigest(staged.handle.get(), place.folder.path + change.staged, change.payload.size,
                      change.digest, same) ||
        !same)
      return false;
  }
  return true;
}

}  // namespace

std::vector<Failure> UndoStoppedRun(Workplace& place, RunRecord& earlier,
                                    std::wstring& read_only_file) {
  std::vector<Failure> problems;
  if (auto failure = place.lock.ReadRecord(earlier)) {
    problems.push_back(std::move(*failure));
    return problems;
  }
  if (earlier.for_restart) return problems;
  const std::vector<std::wstring> names = CatalogueNamesAmong(place.catalogue, earlier.names);
  if (names.empty()) return problems;
  return Undo(place, place.patience, names, read_only_file);
}

// A plan that failed cannot say the schedule is still right, so it is cancelled too: a run that
// fails never leaves a schedule standing that would change the folder at the restart.
std::optional<Failure> KeepOrCancelSchedule(Workplace& place, const RunRecord& earlier,
                                            Plan* plan) {
  if (!earlier.for_restart) return std::nullopt;
  const std::vector<std::wstring> names = CatalogueNamesAmong(place.catalogue, earlier.names);
  size_t scheduled = 0;
  if (auto failure = CountScheduled(place.restart_renames,
                                    BootRenamesOf(place.folder.final_path, names), scheduled))
    return failure;
  if (scheduled > 0 && scheduled == names.size() && plan && plan->Targets() == names &&
      StagedFilesHold(place, *plan)) {
    // A target still in use keeps the schedule standing; one that cannot be opened for another
    // reason leaves it to be taken back.
    const std::optional<Failure> unopened = OpenTargets(place.folder, place.patience, *plan);
    CloseTargets(*plan);
    if (!unopened && plan->in_use) {
      Failure standing = std::move(*plan->in_use);
      standing.outcome = Outcome::kScheduled;
      return standing;
    }
  }
  if (scheduled > 0) {
    if (auto failure =
            TakeBack(place.restart_renames, place.folder.final_path, WorkingNames(place.catalogue)))
      return failure;
  }
  return place.lock.Record({});
}

std::vector<Failure> UndoReplacements(Workplace& place, const Plan& plan) {
  Patience patience(place.patience_ms);
  std::wstring read_only_file;  // the run's cause names what the next step needs
  return Undo(place, patience, plan.Targets(), read_only_file);
}
