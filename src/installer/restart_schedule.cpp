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

// Whether the `length` characters at `a` and at `b` are the same to the system (case is ignored).
bool SameText(const wchar_t* a, size_t length, const wchar_t* b) {
  return CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) ==
         CSTR_EQUAL;
}

// `list` without the pairs that `drop(at, end)` picks; `dropped` counts them.
template <typename Drop>
std::wstring Without(const std::wstring& list, Drop drop, size_t& dropped) {
  std::wstring kept;
  dropped = 0;
  for (size_t at = 0; at < list.size();) {
    const size_t end = PairEnd(list, at);
    if (drop(at, end))
      ++dropped;
    else
      kept.append(list, at, end - at);
    at = end;
  }
  return kept;
}

// Whether the pair of `list` from `at` to `end` is one of the pairs of `pairs`.
bool IsOneOf(const std::wstring& list, size_t at, size_t end, const std::wstring& pairs) {
  for (size_t from = 0; from < pairs.size(); from = PairEnd(pairs, from)) {
    if (PairEnd(pairs, from) - from == end - at &&
        SameText(pairs.data() + from, end - at, &list[at]))
      return true;
  }
  return false;
}

// Whether the source of the pair of `list` at `at` is one of `sources`, NULs ending each.
bool SourceIsOneOf(const std::wstring& list, size_t at, const std::wstring& sources) {
  const size_t length = list.find(L'\0', at) - at;
  for (size_t from = 0; from < sources.size(); from = sources.find(L'\0', from) + 1) {
    if (sources.find(L'\0', from) - from == length && SameText(&sources[from], length, &list[at]))
      return true;
  }
  return false;
}

// The folder as the list names it: "\??\C:\a\". Only local drives can be reached that early in
// a restart.
std::optional<Failure> NtFolder(const std::wstring& folder, std::wstring& nt_folder) {
  const size_t skip = folder.compare(0, 4, kExtendedPrefix) == 0 ? 4 : 0;
  if (folder.size() < skip + 3 || folder[skip + 1] != L':' || folder[skip + 2] != L'\\')
    return Failure{DisplayPath(folder) + L" is not on a local drive", 0};
  nt_folder = kNtPrefix + folder.substr(skip);
  return std::nullopt;
}

// The pairs for `renames`, in the form the system keeps.
std::wstring PairsOf(const std::wstring& nt_folder, const BootRenames& renames) {
  std::wstring pairs;
  for (const std::wstring& name : renames.removals) {
    pairs.append(nt_folder).append(name) += L'\0';
    pairs += L'\0';
  }
  for (const std::wstring& name : renames.names) {
    pairs.append(nt_folder).append(name).append(renames.suffix) += L'\0';
    (pairs += L'!').append(nt_folder).append(name) += L'\0';
  }
  return pairs;
}

// Opens the value's key to read and reads its pairs, without the final NUL.
LONG ReadList(const RegistryValue& value, UniqueHkey& key, std::wstring& list) {
  list.clear();
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

}  // namespace

RegistryValue PendingRenames() {
  return {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
          L"PendingFileRenameOperations"};
}

std::optional<Failure> ScheduleRenames(const RegistryValue& value, const BootRenames& renames,
                                       const std::vector<std::wstring>& own) {
  std::wstring nt_folder;
  // A folder that cannot be reached at boot can have nothing scheduled, and nothing to take out.
  if (auto failure = NtFolder(renames.folder, nt_folder)) {
    if (renames.names.empty() && renames.removals.empty()) return std::nullopt;
    return failure;
  }
  const std::wstring ours = PairsOf(nt_folder, renames);
  std::wstring sources;
  for (const std::wstring& name : own) (sources += nt_folder).append(name) += L'\0';
  UniqueHkey key;
  std::wstring list;
  LONG status = ReadList(value, key, list);
  // Without the key there is nothing to take out, and nowhere to schedule.
  if (status == ERROR_FILE_NOT_FOUND && ours.empty()) return std::nullopt;
  const auto taken_out = [&](size_t at, size_t) { return SourceIsOneOf(list, at, sources); };
  size_t dropped = 0;
  const std::wstring kept = Without(list, taken_out, dropped) + ours;
  // Opened to be changed only where it changes.
  if (status == ERROR_SUCCESS && kept != list) {
    status = RegOpenKeyExW(value.root, value.key, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put());
    if (status == ERROR_SUCCESS) status = WriteList(key.get(), value.name, kept);
  }
  if (status != ERROR_SUCCESS)
    return Failure{ours.empty() ? kListFailure : kScheduleFailure, static_cast<DWORD>(status)};
  return std::nullopt;
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
  const std::wstring ours = PairsOf(nt_folder, renames);
  UniqueHkey key;
  std::wstring list;
  const LONG status = ReadList(value, key, list);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    return Failure{kListFailure, static_cast<DWORD>(status)};
  const auto scheduled = [&](size_t at, size_t end) { return IsOneOf(list, at, end, ours); };
  Without(list, scheduled, count);
  return std::nullopt;
}

bool IsRefusal(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_FILE_NOT_FOUND || code == ERROR_SUCCESS;
}
