#include "installer/restart_schedule.h"

#include <tuple>
#include <utility>

#include "installer/long_paths.h"
#include "installer/resource_folder.h"
#include "installer/working_names.h"

namespace {

constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr wchar_t kScheduleFailure[] = L"could not schedule the renames for the next restart";
constexpr wchar_t kListFailure[] = L"could not read or change the renames for the next restart";

// One entry of the list: a file, and what it becomes at the restart: "!" and a path, replacing
// whatever has that name then; empty, the file is deleted.
struct BootRename {
  std::wstring from;
  std::wstring to;
};
using RenameList = std::vector<BootRename>;

bool operator==(const BootRename& a, const BootRename& b) {
  return std::tie(a.from, a.to) == std::tie(b.from, b.to);
}

// The value holds strings each ended by a NUL, a source and what it becomes in turn, the last
// followed by one more NUL. The empty strings make it no REG_MULTI_SZ as the registry functions
// read one, so it is split here. False where a source has nothing after it: not a list this
// program can safely rewrite.
bool Parse(const std::wstring& data, RenameList& list) {
  list.clear();
  for (size_t at = 0; at < data.size() && data[at] != L'\0';) {
    const size_t from_end = data.find(L'\0', at);
    const size_t to_end =
        from_end == std::wstring::npos ? from_end : data.find(L'\0', from_end + 1);
    if (to_end == std::wstring::npos) return false;
    list.push_back(
        {data.substr(at, from_end - at), data.substr(from_end + 1, to_end - from_end - 1)});
    at = to_end + 1;
  }
  return true;
}

// `attempt` failed for a list that cannot be split: the installer's own finding.
Failure Unreadable(const wchar_t* attempt) {
  return Finding(attempt + std::wstring(L": a file in the list has nothing after it"));
}

// The list as the value holds it, but for the NUL after the last string.
std::wstring Joined(const RenameList& list) {
  std::wstring data;
  for (const BootRename& rename : list)
    (data.append(rename.from) += L'\0').append(rename.to) += L'\0';
  return data;
}

// The folder as the list names it: "\??\C:\a\". Only local drives can be reached that early in
// a restart.
std::optional<Failure> NtFolder(const std::wstring& folder, std::wstring& nt_folder) {
  const size_t skip = folder.compare(0, 4, kExtendedPrefix) == 0 ? 4 : 0;
  if (folder.size() < skip + 3 || folder[skip + 1] != L':' || folder[skip + 2] != L'\\')
    return Finding(DisplayPath(folder) + L" is not on a local drive");
  nt_folder = kNtPrefix + folder.substr(skip);
  return std::nullopt;
}

// The entries for `renames`: the removals, then the renames.
RenameList EntriesOf(const std::wstring& nt_folder, const BootRenames& renames) {
  RenameList entries;
  for (const std::wstring& name : renames.removals) entries.push_back({nt_folder + name, L""});
  for (const std::wstring& name : renames.names)
    entries.push_back({nt_folder + name + renames.suffix, L"!" + nt_folder + name});
  return entries;
}

// Opens the value's key to read and reads the list; none where the value is not there. Returns
// the system's status; `split` is false where the list cannot be split.
LONG ReadList(const RegistryValue& value, UniqueHkey& key, RenameList& list, bool& split) {
  list.clear();
  split = true;
  LONG status =
      RegOpenKeyExW(value.root, value.key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
  if (status != ERROR_SUCCESS) return status;
  std::wstring data(512, L'\0');
  DWORD bytes = 0;
  do {
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key.get(), value.name, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status == ERROR_MORE_DATA) data.resize(bytes / sizeof(wchar_t) + 1);
  } while (status == ERROR_MORE_DATA);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  data.resize(bytes / sizeof(wchar_t));
  split = Parse(data, list);
  return ERROR_SUCCESS;
}

LONG WriteList(HKEY key, const wchar_t* name, const RenameList& list) {
  LONG status = ERROR_SUCCESS;
  if (list.empty()) {
    status = RegDeleteValueW(key, name);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  } else {
    const std::wstring data = Joined(list);
    status = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  }
  // Written to disk now: a restart soon after must find the schedule.
  if (status == ERROR_SUCCESS) status = RegFlushKey(key);
  return status;
}

// Whether the source of `entry` is one of `names` in the folder `nt_folder`.
bool SourceIsOneOf(const BootRename& entry, const std::wstring& nt_folder,
                   const std::vector<std::wstring>& names) {
  for (const std::wstring& name : names) {
    if (SameName(entry.from, nt_folder + name)) return true;
  }
  return false;
}

}  // namespace

RegistryValue PendingRenames() {
  return {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
          L"PendingFileRenameOperations"};
}

BootRenames BootRenamesOf(const std::wstring& folder, std::vector<std::wstring> names,
                          std::vector<std::wstring> removals) {
  return {folder, std::move(names), kStagedSuffix, std::move(removals)};
}

std::optional<Failure> ScheduleRenames(const RegistryValue& value, const BootRenames& renames,
                                       const std::vector<std::wstring>& own) {
  std::wstring nt_folder;
  // A folder that cannot be reached at boot can have nothing scheduled, and nothing to take out.
  if (auto failure = NtFolder(renames.folder, nt_folder)) {
    if (renames.names.empty() && renames.removals.empty()) return std::nullopt;
    failure->outcome = Outcome::kRefused;
    return failure;
  }
  const RenameList ours = EntriesOf(nt_folder, renames);
  UniqueHkey key;
  RenameList list;
  bool split = true;
  LONG status = ReadList(value, key, list, split);
  // Without the key there is nothing to take out, and nowhere to schedule.
  if (status == ERROR_FILE_NOT_FOUND && ours.empty()) return std::nullopt;
  if (!split) return Unreadable(ours.empty() ? kListFailure : kScheduleFailure);
  RenameList kept;
  for (const BootRename& entry : list) {
    if (!SourceIsOneOf(entry, nt_folder, own)) kept.push_back(entry);
  }
  kept.insert(kept.end(), ours.begin(), ours.end());
  // Opened to be changed only where it changes.
  if (status == ERROR_SUCCESS && kept != list) {
    status = RegOpenKeyExW(value.root, value.key, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put());
    if (status == ERROR_SUCCESS) status = WriteList(key.get(), value.name, kept);
  }
  if (status == ERROR_SUCCESS) return std::nullopt;
  if (ours.empty()) return SystemFailure(kListFailure, static_cast<DWORD>(status));
  // No Session Manager key: this system keeps no list that a run may schedule in.
  if (status == ERROR_FILE_NOT_FOUND)
    return Failure{kScheduleFailure, static_cast<DWORD>(status), Outcome::kRefused};
  return SystemFailure(kScheduleFailure, static_cast<DWORD>(status));
}

std::optional<Failure> TakeBack(const RegistryValue& value, const std::wstring& folder,
                                const std::vector<std::wstring>& own) {
  return ScheduleRenames(value, {folder, {}, L""}, own);
}

std::optional<Failure> CountScheduled(const RegistryValue& value, const BootRenames& renames,
                                      size_t& count) {
  count = 0;
  std::wstring nt_folder;
  if (auto failure = NtFolder(renames.folder, nt_folder)) return failure;
  const RenameList ours = EntriesOf(nt_folder, renames);
  UniqueHkey key;
  RenameList list;
  bool split = true;
  const LONG status = ReadList(value, key, list, split);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return SystemFailure(kListFailure, static_cast<DWORD>(status));
  if (!split) return Unreadable(kListFailure);
  for (const BootRename& entry : list) {
    for (const BootRename& mine : ours) {
      if (SameName(entry.from, mine.from) && SameName(entry.to, mine.to)) {
        ++count;
        break;
      }
    }
  }
  return std::nullopt;
}
