#include "installer/leftovers.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

std::vector<std::wstring> WorkingNames(const PayloadTable& table) {
  std::vector<std::wstring> names;
  for (const PayloadEntry& entry : table) {
    for (const wchar_t* suffix : {kStagedSuffix, kBackupSuffix, kAbsentSuffix})
      names.push_back(entry.file_name + suffix);
  }
  return names;
}

// The run's own names (its working files, and the lock file with `with_lock`) that one look at
// the folder finds there, leaving out those already named; nullopt when it cannot be listed.
std::optional<std::vector<std::wstring>> OwnEntries(const ResourceFolder& folder,
                                                    const PayloadTable& table, bool with_lock,
                                                    const Leftovers& leftovers) {
  std::vector<std::wstring> listed;
  if (!ListEntries(folder, with_lock ? L"*orvex-*" : L"*.orvex-*", listed)) return std::nullopt;
  std::vector<std::wstring> candidates = WorkingNames(table);
  if (with_lock) candidates.push_back(kLockFileName);
  std::vector<std::wstring> present;
  for (const std::wstring& name : candidates) {
    const bool there = std::any_of(listed.begin(), listed.end(), [&](const std::wstring& entry) {
      return SameName(entry, name);
    });
    if (there && !leftovers.Named(name)) present.push_back(name);
  }
  return present;
}

}  // namespace

void Leftovers::Remove(ResourceFolder& folder, const std::wstring& name) {
  if (auto failure = RemoveEntry(folder, name)) Add(name, std::move(*failure));
}

void Leftovers::Add(const std::wstring& name, Failure warning) {
  names_.push_back(name);
  warnings_.push_back(std::move(warning));
}

bool Leftovers::Named(const std::wstring& name) const {
  return std::any_of(names_.begin(), names_.end(),
                     [&](const std::wstring& named) { return SameName(named, name); });
}

// One that cannot be removed is only a warning; it stops a later run only if that run needs
// its name, and then only that run, with the reason. Usually there are none, and one look at
// the folder says so; a folder that cannot be listed has each name tried.
void RemoveLeftovers(ResourceFolder& folder, const PayloadTable& table, Leftovers& leftovers) {
  const auto present = OwnEntries(folder, table, false, leftovers);
  for (const std::wstring& name : present ? *present : WorkingNames(table)) {
    if (!leftovers.Named(name)) leftovers.Remove(folder, name);
  }
}

// A removal the system accepted can still fail to happen: Wine removes a file only when its
// last handle closes and ignores an error then, and Windows keeps a removed file's name while
// another program holds it. So a finished run looks at the folder once more, with the lock
// released, since its file is one of the things to look for. What is there it clears under the
// lock again, and it names what still stays. Another run that holds the folder by then clears
// up after itself.
void ConfirmNothingLeft(ResourceFolder& folder, const PayloadTable& table, FolderLock& lock,
                        Leftovers& leftovers) {
  lock.Release();
  const auto left = OwnEntries(folder, table, true, leftovers);
  if (!left || left->empty()) return;
  FolderLock again;
  if (again.Acquire(folder, 0)) return;
  RemoveLeftovers(folder, table, leftovers);
  again.Release();
  const auto still = OwnEntries(folder, table, true, leftovers);
  for (const std::wstring& name : still.value_or(std::vector<std::wstring>{})) {
    leftovers.Add(
        name,
        {folder.path + name + L" is still there although the system accepted its removal", 0});
  }
}
