#include "installer/restart_schedule.h"

#include "installer/long_paths.h"

namespace {

constexpr wchar_t kExtendedPrefix[] = L"\\\\?\\";
constexpr wchar_t kNtPrefix[] = L"\\??\\";
constexpr wchar_t kScheduleFailure[] = L"could not schedule the renames for the next restart";
constexpr wchar_t kListFailure[] = L"could not read or change the renames for the next restart";

// The list is kept as the value holds it: strings each ended by a NUL, in pairs of a source
// and what it becomes ("!" first: replacing what is there; empty: the source is deleted), the
// last pair followed by one more NUL. The empty strings make it no REG_MULTI_SZ as the
// registry functions read one, so it is walked by hand, one pair at a time.

// Where the pair that starts at `at` ends, just past its second NUL; npos if it is cut short.
size_t PairEnd(const std::wstring& list, size_t at) {
  at = list.find(L'\0', at);
  if (at == std::wstring::npos) return at;
  at = list.find(L'\0', at + 1);
  return at == std::wstring::npos ? at : at + 1;
}

// Whether the pair of `length` characters at `pair` is one of the pairs of `ours`.
bool IsOurs(const std::wstring& ours, const wchar_t* pair, size_t length) {
  for (size_t at = 0; at < ours.size(); at = PairEnd(ours, at)) {
    if (CompareStringOrdinal(ours.data() + at, static_cast<int>(PairEnd(ours, at) - at), pair,
                             static_cast<int>(length), TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

// `list` without `ours`; `removed` counts the pairs taken out.
std::wstring Without(const std::wstring& list, const std::wstring& ours, size_t& removed) {
  std::wstring kept;
  removed = 0;
  for (size_t at = 0; at < list.size();) {
    const size_t end = PairEnd(list, at);
    if (IsOurs(ours, list.data() + at, end - at))
      ++removed;
    else
      kept.append(list, at, end - at);
    at = end;
  }
  return kept;
}

// The pairs for `renames`, in the form the system keeps: "\??\C:\a". Only local drives can be
// reached that early in a restart.
std::optional<Failure> PairsOf(const BootRenames& renames, std::wstring& pairs) {
  const std::wstring& folder = renames.folder;
  const size_t skip = folder.compare(0, 4, kExtendedPrefix) == 0 ? 4 : 0;
  if (folder.size() < skip + 3 || folder[skip + 1] != L':' || folder[skip + 2] != L'\\')
    return Failure{DisplayPath(folder) + L" is not on a local drive", 0};
  const std::wstring nt_folder = kNtPrefix + folder.substr(skip);
  for (const std::wstring& name : renames.removals) {
    pairs.append(nt_folder).append(name) += L'\0';
    pairs += L'\0';
  }
  for (const std::wstring& name : renames.names) {
    pairs.append(nt_folder).append(name).append(renames.suffix) += L'\0';
    (pairs += L'!').append(nt_folder).append(name) += L'\0';
  }
  return std::nullopt;
}

// Opens the value's key with `access` and reads its pairs, without the final NUL.
LONG ReadList(const RegistryValue& value, REGSAM access, UniqueHkey& key, std::wstring& list) {
  list.clear();
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
  size_t end = 0;
  while (end < data.size() && data[end] != L'\0') {
    end = PairEnd(data, end);
    // A source with nothing after it is not a list this program can safely rewrite.
    if (end == std::wstring::npos) return ERROR_INVALID_DATA;
  }
  list = data.substr(0, end);
  return ERROR_SUCCESS;
}

LONG WriteList(HKEY key, const wchar_t* name, const std::wstring& list) {
  LONG status = ERROR_SUCCESS;
  if (list.empty()) {
    status = RegDeleteValueW(key, name);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
  } else {
    status = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.c_str()),
                            static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t)));
  }
  // Written to disk now: a restart soon after must find the schedule.
  if (status == ERROR_SUCCESS) status = RegFlushKey(key);
  return status;
}

// Writes the list back, in one write, without `renames` and, to schedule them, with them at its
// end; so scheduling twice never lists a rename twice. A list that does not change is left be.
std::optional<Failure> Rewrite(const RegistryValue& value, const BootRenames& renames,
                               bool schedule) {
  std::wstring ours;
  if (auto failure = PairsOf(renames, ours)) return failure;
  UniqueHkey key;
  std::wstring list;
  LONG status = ReadList(value, KEY_QUERY_VALUE | KEY_SET_VALUE, key, list);
  if (status == ERROR_FILE_NOT_FOUND && !schedule) return std::nullopt;
  size_t removed = 0;
  std::wstring kept = Without(list, ours, removed);
  if (schedule) kept += ours;
  if (status == ERROR_SUCCESS && kept != list) status = WriteList(key.get(), value.name, kept);
  if (status != ERROR_SUCCESS)
    return Failure{schedule ? kScheduleFailure : kListFailure, static_cast<DWORD>(status)};
  return std::nullopt;
}

}  // namespace

RegistryValue PendingRenames() {
  return {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
          L"PendingFileRenameOperations"};
}

std::optional<Failure> ScheduleRenames(const RegistryValue& value, const BootRenames& renames) {
  return Rewrite(value, renames, true);
}

std::optional<Failure> CountScheduled(const RegistryValue& value, const BootRenames& renames,
                                      size_t& count) {
  count = 0;
  std::wstring ours;
  if (auto failure = PairsOf(renames, ours)) return failure;
  UniqueHkey key;
  std::wstring list;
  const LONG status = ReadList(value, KEY_QUERY_VALUE, key, list);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return Failure{kListFailure, static_cast<DWORD>(status)};
  Without(list, ours, count);
  return std::nullopt;
}

std::optional<Failure> CancelRenames(const RegistryValue& value, const BootRenames& renames) {
  return Rewrite(value, renames, false);
}

bool IsRefusal(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_FILE_NOT_FOUND || code == ERROR_SUCCESS;
}
