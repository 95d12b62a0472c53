#include "installer/resource_folder.h"

#include <algorithm>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What an access denial hides: these two come from another program, not from the folder's
// permissions.
constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
constexpr LONG kStatusCannotDelete = static_cast<LONG>(0xC0000121);

// Deleting with POSIX semantics drops the name at once even while others hold the file
// (Windows 10 and later, on NTFS); older systems, FAT, some network shares and Wine refuse it.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

constexpr DWORD kFirstPauseMilliseconds = 10;
constexpr DWORD kLongestPauseMilliseconds = 100;

// ntdll keeps the status behind the last error; it is looked up once, at start-up, so that the
// look-up itself cannot overwrite a status about to be read.
using LastStatusFunction = LONG(WINAPI*)();
const LastStatusFunction kLastStatus = reinterpret_cast<LastStatusFunction>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));

// Tries `attempt(attempt_context)` (true on success, the error left for LastSystemError
// otherwise) again and again until it succeeds, fails for a reason `held_for_now` does not put
// down to a holder, or the folder's wait for holders is spent; returns the last error, if any. A
// holder that outlasts the wait makes it a file in use: an access denial behind which the system
// says the file is being deleted or is mapped must not read as a lack of rights. Nothing waits,
// and no call is added, when nobody holds anything. One loop for every step that waits, which
// Patiently below hands its step to.
std::optional<SystemError> Retry(ResourceFolder& folder, bool (*attempt)(const void*),
                                 const void* attempt_context,
                                 bool (*held_for_now)(const SystemError&, const void*),
                                 const void* judge_context) {
  for (DWORD pause = kFirstPauseMilliseconds;;
       pause = std::min(2 * pause, kLongestPauseMilliseconds)) {
    if (attempt(attempt_context)) return std::nullopt;
    SystemError error = LastSystemError();
    if (!held_for_now(error, judge_context)) return error;
    if (folder.holder_wait_ms == 0) {
      if (!IsInUse(error.code))
        error.code =
            error.status == kStatusDeletePending ? ERROR_DELETE_PENDING : ERROR_SHARING_VIOLATION;
      return error;
    }
    const DWORD wait = std::min(pause, folder.holder_wait_ms);
    Sleep(wait);
    folder.holder_wait_ms -= wait;
  }
}

// Retry, for `attempt` and `held_for_now` of any callable type.
template <typename Attempt, typename Judge>
std::optional<SystemError> Patiently(ResourceFolder& folder, const Attempt& attempt,
                                     const Judge& held_for_now) {
  return Retry(
      folder, [](const void* step) { return (*static_cast<const Attempt*>(step))(); }, &attempt,
      [](const SystemError& error, const void* judge) {
        return (*static_cast<const Judge*>(judge))(error);
      },
      &held_for_now);
}

template <typename Attempt>
std::optional<SystemError> Patiently(ResourceFolder& folder, const Attempt& attempt) {
  return Patiently(folder, attempt, [](const SystemError& error) { return HeldForNow(error); });
}

std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

// Where the system allows opening a link as itself, the attributes say so. Elsewhere (Wine
// follows a Unix symbolic link whatever is asked) the only sign is where the handle leads.
EntryKind KindOf(const ResourceFolder& folder, const std::wstring& name, HANDLE handle,
                 const FILE_ATTRIBUTE_TAG_INFO& tag) {
  const EntryKind kind = KindOfAttributes(tag.FileAttributes, tag.ReparseTag);
  if (kind != EntryKind::kFile) return kind;
  if (GetFileType(handle) != FILE_TYPE_DISK) return EntryKind::kDevice;
  if (!folder.final_path.empty() && !SameName(FinalPath(handle), folder.final_path + name))
    return EntryKind::kLink;
  return EntryKind::kFile;
}

}  // namespace

std::optional<Failure> OpenResourceFolder(const std::wstring& path, ResourceFolder& folder) {
  folder.path = path;
  folder.handle.reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.handle) return Failure{L"could not find the resource folder " + path, GetLastError()};
  // Not GetFileInformationByHandle: it also asks for the volume, which costs Wine over a
  // millisecond.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(folder.handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return Failure{L"could not read the resource folder " + path, GetLastError()};
  if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Failure{L"could not find the resource folder " + path, ERROR_DIRECTORY};
  folder.final_path = FinalPath(folder.handle.get());
  if (!folder.final_path.empty() && folder.final_path.back() != L'\\') folder.final_path += L'\\';
  return std::nullopt;
}

SystemError LastSystemError() {
  SystemError error{GetLastError(), 0};
  if (error.code == ERROR_ACCESS_DENIED && kLastStatus != nullptr) error.status = kLastStatus();
  return error;
}

bool HeldForNow(const SystemError& error) {
  switch (error.code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return true;
    case ERROR_ACCESS_DENIED:
      return error.status == kStatusDeletePending || error.status == kStatusCannotDelete;
    default:
      return false;
  }
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsInUse(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
         code == ERROR_USER_MAPPED_FILE || code == ERROR_DELETE_PENDING;
}

EntryKind KindOfAttributes(DWORD attributes, DWORD reparse_tag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparse_tag))
    return EntryKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  return EntryKind::kFile;
}

bool BehindAFilter(DWORD attributes, DWORD reparse_tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !IsReparseTagNameSurrogate(reparse_tag) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD NameCount(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) return 0;
  return standard.NumberOfLinks;
}

bool DeleteThroughHandle(HANDLE file, bool ignore_read_only) {
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics;
  if (ignore_read_only) flags |= kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &flags, sizeof flags)) return true;
  if (ignore_read_only) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

std::optional<Failure> InspectEntry(ResourceFolder& folder, const std::wstring& name, DWORD access,
                                    Entry& entry) {
  const std::wstring path = folder.path + name;
  entry = Entry{};
  const std::optional<SystemError> error = Patiently(folder, [&] {
    entry.handle.reset(
        CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return static_cast<bool>(entry.handle);
  });
  if (error) {
    if (error->code == ERROR_FILE_NOT_FOUND || error->code == ERROR_PATH_NOT_FOUND)
      return std::nullopt;
    return Failure{L"could not open " + path, error->code};
  }
  return ClassifyEntry(folder, name, entry);
}

std::optional<Failure> ClassifyEntry(const ResourceFolder& folder, const std::wstring& name,
                                     Entry& entry) {
  const std::wstring path = folder.path + name;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return Failure{L"could not read the attributes of " + path, GetLastError()};
  entry.kind = KindOf(folder, name, entry.handle.get(), tag);
  entry.read_only = (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  entry.opened_as_link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                         IsReparseTagNameSurrogate(tag.ReparseTag);
  entry.behind_filter = BehindAFilter(tag.FileAttributes, tag.ReparseTag);
  return std::nullopt;
}

std::optional<Failure> ReadThroughFilter(ResourceFolder& folder, const std::wstring& name,
                                         Entry& entry) {
  if (!entry.behind_filter) return std::nullopt;
  // A failure here is one of the filter's (a placeholder whose data is not on this computer,
  // say). Opened by name, it may be another file by now: only the one judged may be read.
  const std::wstring path = folder.path + name;
  UniqueHandle content(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION judged{};
  BY_HANDLE_FILE_INFORMATION opened{};
  DWORD error = content && GetFileInformationByHandle(entry.handle.get(), &judged) &&
                        GetFileInformationByHandle(content.get(), &opened)
                    ? ERROR_SUCCESS
                    : GetLastError();
  if (!error && (judged.dwVolumeSerialNumber != opened.dwVolumeSerialNumber ||
                 judged.nFileIndexHigh != opened.nFileIndexHigh ||
                 judged.nFileIndexLow != opened.nFileIndexLow))
    error = ERROR_FILE_INVALID;  // "...the opened file is no longer valid."
  if (error) return Failure{L"could not read " + path, error};
  entry.handle = std::move(content);
  return std::nullopt;
}

std::optional<Failure> CreateEntry(ResourceFolder& folder, const std::wstring& name, DWORD access,
                                   UniqueHandle& file) {
  const std::wstring path = folder.path + name;
  const std::optional<SystemError> error = Patiently(folder, [&] {
    file.reset(
        CreateFileW(path.c_str(), access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
  });
  if (error) return Failure{L"could not create " + path, error->code};
  return std::nullopt;
}

std::optional<Failure> ListEntries(const ResourceFolder& folder, const wchar_t* pattern,
                                   std::vector<std::wstring>& names) {
  names.clear();
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW((folder.path + pattern).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  DWORD error = GetLastError();
  if (search != INVALID_HANDLE_VALUE) {
    do {
      names.push_back(std::wstring(found.cFileName));
    } while (FindNextFileW(search, &found));
    error = GetLastError();
    FindClose(search);
  }
  // No match at all, or the end of the matches: the whole folder was looked at.
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
    return Failure{L"could not list " + folder.path, error};
  return std::nullopt;
}

std::wstring KindText(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFolder:
      return L"is a folder, not a file";
    case EntryKind::kLink:
      return L"is a link or another reparse point, which is never followed";
    case EntryKind::kDevice:
      return L"is a device, not a file";
    default:
      return L"is a file";
  }
}

std::optional<Failure> RemoveEntry(ResourceFolder& folder, const std::wstring& name) {
  const std::wstring path = folder.path + name;
  Entry entry;
  if (auto failure = InspectEntry(folder, name, DELETE | FILE_WRITE_ATTRIBUTES, entry))
    return Failure{L"could not remove " + path, failure->code};
  if (entry.kind == EntryKind::kAbsent) return std::nullopt;
  const bool removable =
      entry.kind == EntryKind::kFile || (entry.kind == EntryKind::kLink && entry.opened_as_link);
  if (!removable) return Failure{path + L" " + KindText(entry.kind) + L"; it was left alone", 0};
  // The attribute belongs to the file, not to the name: one with a name elsewhere keeps it. A
  // link opened as itself has an attribute of its own, which its handle clears.
  bool read_only = entry.read_only;
  const bool keep_read_only = read_only && NameCount(entry.handle.get()) > 1;
  if (read_only && !keep_read_only) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic))
      return Failure{L"could not remove " + path, GetLastError()};
    read_only = false;
  }
  // While the attribute is on, the system refuses the deletion for it with the status that a
  // mapped file gets: that is no holder.
  const auto held_for_now = [&](const SystemError& error) {
    return HeldForNow(error) && !(read_only && error.status == kStatusCannotDelete);
  };
  // Deleting through the checked handle removes exactly what was checked.
  const std::optional<SystemError> error = Patiently(
      folder, [&] { return DeleteThroughHandle(entry.handle.get(), read_only); }, held_for_now);
  if (error && read_only && !IsInUse(error->code))
    return Failure{path +
                       L" is read-only and has another name outside the folder; it was left "
                       L"alone",
                   0};
  if (error) return Failure{L"could not remove " + path, error->code};
  return std::nullopt;
}

std::optional<Failure> OpenToMove(ResourceFolder& folder, const std::wstring& name, Entry& entry) {
  const std::wstring path = folder.path + name;
  if (auto failure = InspectEntry(folder, name, DELETE, entry))
    return Failure{L"could not move " + path, failure->code};
  if (entry.kind == EntryKind::kAbsent)
    return Failure{L"could not move " + path, ERROR_FILE_NOT_FOUND};
  if (entry.kind != EntryKind::kFile)
    return Failure{path + L" " + KindText(entry.kind) + L"; it was left alone", 0};
  return std::nullopt;
}

std::optional<Failure> MoveOpened(ResourceFolder& folder, Entry& opened, const std::wstring& from,
                                  const std::wstring& to, DWORD flags) {
  const std::wstring source = folder.path + from;
  const std::wstring target = folder.path + to;
  // Replacing a file that another program has open is refused as "access denied" even when it
  // shares deletion; opening the target as the rename would tells that from a lack of rights.
  const auto target_held = [&](const SystemError& error) {
    if (HeldForNow(error)) return true;
    if (error.code != ERROR_ACCESS_DENIED || (flags & MOVEFILE_REPLACE_EXISTING) == 0) return false;
    const UniqueHandle probe(CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return static_cast<bool>(probe) || HeldForNow(LastSystemError());
  };
  // The checked handle stays open (sharing deletion) until the name has moved.
  const std::optional<SystemError> error = Patiently(
      folder,
      [&] {
        return MoveFileExW(source.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH) != FALSE;
      },
      target_held);
  opened.handle.reset();
  if (error) return Failure{L"could not move " + source + L" to " + target, error->code};
  return std::nullopt;
}

std::optional<Failure> MoveEntry(ResourceFolder& folder, const std::wstring& from,
                                 const std::wstring& to, DWORD flags) {
  Entry entry;
  if (auto failure = OpenToMove(folder, from, entry)) {
    if (failure->code != ERROR_SUCCESS) failure->what += L" to " + folder.path + to;
    return failure;
  }
  return MoveOpened(folder, entry, from, to, flags);
}
