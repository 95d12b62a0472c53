#include "installer/plan.h"

#include <utility>

#include "installer/entry_changes.h"
#include "installer/working_names.h"
#include "payload/digest.h"

Change ChangeFor(const std::wstring& name) {
  Change change;
  change.target = name;
  change.staged = name + kStagedSuffix;
  change.backup = name + kBackupSuffix;
  change.absent = name + kAbsentSuffix;
  return change;
}

std::vector<std::wstring> Plan::Targets() const {
  std::vector<std::wstring> names;
  for (const Change& change : changes) names.push_back(change.target);
  return names;
}

std::uint64_t Plan::Bytes() const {
  std::uint64_t bytes = 0;
  for (const Change& change : changes) bytes += change.payload.size;
  return bytes;
}

std::optional<Failure> PlanChanges(const ResourceFolder& folder, Patience& patience,
                                   const Catalogue& catalogue, HMODULE module, Plan& plan) {
  plan = Plan{};
  for (const PayloadEntry& entry : catalogue) {
    Change change = ChangeFor(entry.file_name);
    change.digest = entry.digest;
    const std::wstring path = folder.path + change.target;
    if (auto failure = LoadPayload(module, entry.resource_id, path, change.payload)) return failure;
    Entry target;
    if (auto failure = InspectEntry(folder, patience, change.target, GENERIC_READ, target)) {
      if (failure->outcome != Outcome::kInUse) return failure;
      target.kind = EntryKind::kFile;
    }
    if (target.kind != EntryKind::kAbsent && target.kind != EntryKind::kFile)
      return Finding(path + L" " + KindText(target.kind) + L"; it was left alone");
    change.target_exists = target.kind == EntryKind::kFile;
    if (target.handle) {
      if (auto failure = ReadThroughFilter(folder, change.target, target)) return failure;
      bool same = false;
      if (auto failure =
              FileHasDigest(target.handle.get(), path, change.payload.size, entry.digest, same))
        return failure;
      if (same) continue;
      if (target.read_only) {
        plan.read_only_file = path;
        return Finding(path + L" is read-only, so it was not overwritten", Outcome::kRefused);
      }
    }
    plan.changes.push_back(std::move(change));
  }
  return std::nullopt;
}

std::optional<Failure> OpenTargets(const ResourceFolder& folder, Patience& patience, Plan& plan) {
  for (Change& change : plan.changes) {
    if (!change.target_exists) continue;
    const std::wstring path = folder.path + change.target;
    if (auto failure = OpenToMove(folder, patience, change.target, L"could not replace " + path,
                                  change.opened)) {
      CloseTargets(plan);
      if (failure->outcome != Outcome::kInUse) return failure;
      plan.in_use = std::move(failure);
      plan.held_file = path;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void CloseTargets(Plan& plan) {
  for (Change& change : plan.changes) change.opened.handle.reset();
}
