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
// the folder finds there.
std::optional<Failure> OwnEntries(const ResourceFolder& folder, const PayloadTable& table,
                                  bool with_lock, std::vector<std::wstring>& present) {
  std::vector<std::wstring> listed;
  present.clear();
  if (auto failure = ListEntries(folder, with_lock ? L"*orvex-*" : L"*.orvex-*", listed))
    return failure;
  for (const std::wstring& name : listed) {
    if (IsOwnName(name, table, with_lock)) present.push_back(name);
  }
  return std::nullopt;
}

bool Among(const std::vector<std::wstring>& names, const std::wstring& name) {
  for (const std::wstring& listed : names) {
    if (SameName(listed, name)) return true;
  }
  return false;
}

// Those of `names` that nothing has been said of yet.
std::vector<std::wstring> Unnamed(const std::vector<std::wstring>& names,
                                  const Leftovers& leftovers) {
  std::vector<std::wstring> unnamed;
  for (const std::wstring& name : names) {
    if (!leftovers.Named(name)) unnamed.push_back(name);
  }
  return unnamed;
}

Failure StillThere(const ResourceFolder& folder, const std::wstring& name) {
  return {folder.path + name + L" is still there after its removal", 0};
}

// The last look at the folder could not be made, for `reason`.
void NotConfirmed(Leftovers& leftovers, const Failure& reason) {
  leftovers.Warn({L"could not look again for working files left over: " + Describe(reason), 0});
}

}  // namespace

void Leftovers::Remove(ResourceFolder& folder, const std::wstring& name) {
  if (auto failure = RemoveEntry(folder, name)) {
    const bool held = IsInUse(failure->code);
    Add(name, std::move(*failure), held);
  }
}

void Leftovers::Add(const std::wstring& name, Failure warning, bool held) {
  names_.push_back(name);
  warnings_.push_back(std::move(warning));
  if (held) Hold(name);
}

void Leftovers::Hold(const std::wstring& name) {
  if (!Held(name)) held_.push_back(name);
}

void Leftovers::Gone(const std::wstring& name) {
  for (auto held = held_.begin(); held != held_.end(); ++held) {
    if (SameName(*held, name)) {
      held_.erase(held);
      return;
    }
  }
}

void Leftovers::Warn(Failure warning) { Add(L"", std::move(warning)); }

bool Leftovers::Named(const std::wstring& name) const { return Among(names_, name); }

bool Leftovers::Held(const std::wstring& name) const { return Among(held_, name); }

std::vector<std::wstring> WorkingNames(const PayloadTable& table) {
  std::vector<std::wstring> names;
  for (const PayloadEntry& entry : table) {
    for (const wchar_t* suffix : kSuffixes) names.push_back(entry.file_name + suffix);
  }
  return names;
}

// One that cannot be removed is only a warning; it stops a later run only if that run needs
// its name, and then only that run, with the reason. Usually there are none, and one look at
// the folder says so; a folder that cannot be listed has each name tried.
void RemoveLeftovers(ResourceFolder& folder, const PayloadTable& table, Leftovers& leftovers) {
  std::vector<std::wstring> present;
  if (!OwnEntries(folder, table, false, present)) {
    for (const std::wstring& name : Unnamed(present, leftovers)) leftovers.Remove(folder, name);
    return;
  }
  for (const std::wstring& name : WorkingNames(table)) leftovers.Remove(folder, name);
}

BootRenames BootRenamesOf(const ResourceFolder& folder, std::vector<std::wstring> names,
                          std::vector<std::wstring> removals) {
  return {folder.final_path, std::move(names), kStagedSuffix, std::move(removals)};
}

// A removal the system accepted can still fail to happen: Wine removes a file only when its
// last handle closes and ignores an error then, and Windows keeps a removed file's name while
// another program holds it. So a finished run looks at the folder once more, with the lock
// released, since its file is one of the things to look for. What is there it clears under the
// lock again. A working file that still stays is held by another program: its removal is
// scheduled for the next restart, with those refused as held, in one write; one held earlier
// that has gone since is neither scheduled nor named. Whatever stays is named. Another run that
// holds the folder by then clears up after itself.
void ConfirmNothingLeft(ResourceFolder& folder, const PayloadTable& table, FolderLock& lock,
                        Leftovers& leftovers, const RegistryValue& restart_renames) {
  lock.Release();
  std::vector<std::wstring> left;
  if (auto failure = OwnEntries(folder, table, true, left))
    return NotConfirmed(leftovers, *failure);
  if (Unnamed(left, leftovers).empty() && leftovers.held().empty()) return;
  FolderLock again;
  if (auto failure = again.Acquire(folder, 0)) {
    if (failure->code != kLockBusyCode) NotConfirmed(leftovers, *failure);
    return;
  }
  RemoveLeftovers(folder, table, leftovers);
  if (auto failure = OwnEntries(folder, table, false, left))
    return NotConfirmed(leftovers, *failure);
  for (const std::wstring& name : Unnamed(left, leftovers))
    leftovers.Add(name, StillThere(folder, name), true);
  for (const std::wstring& name : std::vector<std::wstring>(leftovers.held())) {
    if (!Among(left, name)) leftovers.Gone(name);
  }
  if (!leftovers.held().empty() &&
      !ScheduleRenames(restart_renames, BootRenamesOf(folder, {}, leftovers.held()),
                       WorkingNames(table))) {
    for (const std::wstring& name : leftovers.held())
      leftovers.Add(name, {folder.path + name + L" will be removed at the next restart", 0});
  }
  again.Release();
  if (auto failure = OwnEntries(folder, table, true, left))
    return NotConfirmed(leftovers, *failure);
  for (const std::wstring& name : Unnamed(left, leftovers))
    leftovers.Add(name, StillThere(folder, name));
}
