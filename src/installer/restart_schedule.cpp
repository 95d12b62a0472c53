#include "installer/restart_schedule.h"

namespace {

constexpr wchar_t kExtendedPrefix[] = L"\\\\?\\";
constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr wchar_t kReplaceMark[] = L"!";

// The value's strings, in pairs: a source, then what it becomes ("!" first: replacing what is
// there; empty: the source is deleted). The empty strings make it no REG_MULTI_SZ as the
// registry functions would read one, so it is split by hand; the list ends at an empty source.
using Entries = std::vector<std::wstring>;

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// "could not `what` the renames for the next restart (key\value)".
Failure ListFailure(const wchar_t* what, const RegistryValue& value, LONG status) {
  return {L"could not " + std::wstring(what) + L" the renames for the next restart (" + value.key +
              L"\\" + value.name + L")",
          static_cast<DWORD>(status)};
}

// "\??\C:\a", the form the system keeps; only local drives can be reached that early.
std::optional<Failure> NtPath(const std::wstring& path, std::wstring& nt) {
  const bool extended = path.compare(0, 4, kExtendedPrefix) == 0;
  const std::wstring local = extended ? path.substr(4) : path;
  if (local.size() < 3 || local[1] != L':' || local[2] != L'\\')
    return Failure{path + L" is not on a local drive, where renames at a restart happen", 0};
  nt = kNtPrefix + local;
  return std::nullopt;
}

std::optional<Failure> EntriesOf(const std::vector<BootRename>& renames, Entries& entries) {
  for (const BootRename& rename : renames) {
    std::wstring from;
    std::wstring to;
    if (auto failure = NtPath(rename.from, from)) return failure;
    if (auto failure = NtPath(rename.to, to)) return failure;
    entries.push_back(std::move(from));
    entries.push_back(kReplaceMark + to);
  }
  return std::nullopt;
}

// Opens the value's key with `access` and reads the list.
LONG ReadEntries(const RegistryValue& value, REGSAM access, UniqueHkey& key, Entries& entries) {
  entries.clear();
  LONG status = RegOpenKeyExW(value.root, value.key, 0, access | KEY_WOW64_64KEY, key.put());
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

  Entries strings;
  for (size_t at = 0; at < data.size();) {
    size_t end = data.find(L'\0', at);
    if (end == std::wstring::npos) end = data.size();
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2) {
    // A source with nothing after it is not a list this program can safely rewrite.
    if (i + 1 == strings.size()) return ERROR_INVALID_DATA;
    entries.push_back(strings[i]);
    entries.push_back(strings[i + 1]);
  }
  return ERROR_SUCCESS;
}

LONG WriteEntries(HKEY key, const wchar_t* name, const Entries& entries) {
  LONG status = ERROR_SUCCESS;
  if (entries.empty()) {
    status = RegDeleteValueW(key, name);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  } else {
    std::wstring data;
    for (const std::wstring& entry : entries) {
      data += entry;
      data += L'\0';
    }
    data += L'\0';
    status = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  }
  // Written to disk now: a restart soon after must find the schedule.
  if (status == ERROR_SUCCESS) status = RegFlushKey(key);
  return status;
}

// Whether the pair at `at` of `entries` is one of `ours`.
bool IsOurs(const Entries& entries, size_t at, const Entries& ours) {
  for (size_t i = 0; i < ours.size(); i += 2) {
    if (SameText(entries[at], ours[i]) && SameText(entries[at + 1], ours[i + 1])) return true;
  }
  return false;
}

// Writes the list back, in one write, without `renames` and, to schedule them, with them at its
// end; so scheduling twice never lists a rename twice. A list that does not change is left be.
std::optional<Failure> Rewrite(const RegistryValue& value, const std::vector<BootRename>& renames,
                               bool schedule) {
  Entries ours;
  if (auto failure = EntriesOf(renames, ours)) return failure;
  UniqueHkey key;
  Entries entries;
  LONG status = ReadEntries(value, KEY_QUERY_VALUE | KEY_SET_VALUE, key, entries);
  if (status == ERROR_FILE_NOT_FOUND && !schedule) return std::nullopt;
  Entries kept;
  for (size_t i = 0; i < entries.size(); i += 2) {
    if (IsOurs(entries, i, ours)) continue;
    kept.push_back(entries[i]);
    kept.push_back(entries[i + 1]);
  }
  if (schedule) kept.insert(kept.end(), ours.begin(), ours.end());
  if (status == ERROR_SUCCESS && kept != entries)
    status = WriteEntries(key.get(), value.name, kept);
  if (status != ERROR_SUCCESS)
    return ListFailure(schedule ? L"schedule" : L"cancel", value, status);
  return std::nullopt;
}

}  // namespace

RegistryValue PendingRenames() {
  return {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
          L"PendingFileRenameOperations"};
}

std::optional<Failure> ScheduleRenames(const RegistryValue& value,
                                       const std::vector<BootRename>& renames) {
  return Rewrite(value, renames, true);
}

std::optional<Failure> CountScheduled(const RegistryValue& value,
                                      const std::vector<BootRename>& renames, size_t& count) {
  count = 0;
  Entries ours;
  if (auto failure = EntriesOf(renames, ours)) return failure;
  UniqueHkey key;
  Entries entries;
  const LONG status = ReadEntries(value, KEY_QUERY_VALUE, key, entries);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return ListFailure(L"read", value, status);
  for (size_t i = 0; i < entries.size(); i += 2) count += IsOurs(entries, i, ours) ? 1 : 0;
  return std::nullopt;
}

std::optional<Failure> CancelRenames(const RegistryValue& value,
                                     const std::vector<BootRename>& renames) {
  return Rewrite(value, renames, false);
}
