#include "installer/leftovers.h"

#include <utility>

namespace {

constexpr const wchar_t* kSuffixes[] = {kStagedSuffix, kBackupSuffix, kAbsentSuffix};

// Whether `name` is a working file of one of `table`'s targets, or with `with_lock` the lock
// file.
bool IsOwnName(const std::wstring& name, const PayloadTable& table, bool with_lock) {
  if (with_lock && SameName(name, kLockFileName)) return true;
  for (const PayloadEntry& entry : table) {
    for (const wchar_t* suffix : kSuffixes) {
      if (SameName(name, entry.file_name + suffix)) return true;
    }
  }
  return false;
}

// The run's own names (its working files, and the lock file with `with_lock`) that one look at
// the folder finds there, leaving out those already named; false when it cannot be listed.
bool OwnEntries(const ResourceFolder& folder, const PayloadTable& table, bool with_lock,
                const Leftovers& leftovers, std::vector<std::wstring>& present) {
  std::vector<std::wstring> listed;
  present.clear();
  if (!ListEntries(folder, with_lock ? L"*orvex-*" : L"*.orvex-*", listed)) return false;
  for (const std::wstring& name : listed) {
    if (IsOwnName(name, table, with_lock) && !leftovers.Named(name)) present.push_back(name);
  }
  return true;
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
  for (const std::wstring& named : names_) {
    if (SameName(named, name)) return true;
  }
  return false;
}

// One that cannot be removed is only a warning; it stops a later run only if that run needs
// its name, and then only that run, with the reason. Usually there are none, and one look at
// the folder says so; a folder that cannot be listed has each name tried.
void RemoveLeftovers(ResourceFolder& folder, const PayloadTable& table, Leftovers& leftovers) {
  std::vector<std::wstring> present;
  if (OwnEntries(folder, table, false, leftovers, present)) {
    for (const std::wstring& name : present) leftovers.Remove(folder, name);
    return;
  }
  for (const PayloadEntry& entry : table) {
    for (const wchar_t* suffix : kSuffixes) leftovers.Remove(folder, entry.file_name + suffix);
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
  std::vector<std::wstring> left;
  if (!OwnEntries(folder, table, true, leftovers, left) || left.empty()) return;
  FolderLock again;
  if (again.Acquire(folder, 0)) return;
  RemoveLeftovers(folder, table, leftovers);
  again.Release();
  OwnEntries(folder, table, true, leftovers, left);
  for (const std::wstring& name : left) {
    leftovers.Add(name, {folder.path + name + L" is still there after its removal", 0});
  }
}
