#include "installer/resource_folder.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Where the system allows opening a link as itself, the attributes say so. Elsewhere (Wine
// follows a Unix symbolic link whatever is asked) the only sign is where the handle leads.
EntryKind KindOf(const ResourceFolder& folder, const std::wstring& name, HANDLE handle,
                 DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  if (GetFileType(handle) != FILE_TYPE_DISK) return EntryKind::kDevice;
  if (!folder.final_path.empty() && !SameName(FinalPath(handle), folder.final_path + L"\\" + name))
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
  if (!folder.final_path.empty() && folder.final_path.back() == L'\\') folder.final_path.pop_back();
  return std::nullopt;
}

std::optional<Failure> InspectEntry(const ResourceFolder& folder, const std::wstring& name,
                                    DWORD access, Entry& entry) {
  const std::wstring path = folder.path + name;
  entry = Entry{};
  entry.handle.reset(
      CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry.handle) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return std::nullopt;
    return Failure{L"could not open " + path, code};
  }
  return ClassifyEntry(folder, name, entry);
}

std::optional<Failure> ClassifyEntry(const ResourceFolder& folder, const std::wstring& name,
                                     Entry& entry) {
  const std::wstring path = folder.path + name;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return Failure{L"could not read the attributes of " + path, GetLastError()};
  entry.kind = KindOf(folder, name, entry.handle.get(), tag.FileAttributes);
  entry.read_only = (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  entry.opened_as_link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return std::nullopt;
}

bool AnyEntryMatches(const ResourceFolder& folder, const wchar_t* pattern) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW((folder.path + pattern).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_FILE_NOT_FOUND;
  FindClose(search);
  return true;
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

std::optional<Failure> RemoveEntry(const ResourceFolder& folder, const std::wstring& name) {
  const std::wstring path = folder.path + name;
  Entry entry;
  if (auto failure = InspectEntry(folder, name, DELETE | FILE_WRITE_ATTRIBUTES, entry))
    return Failure{L"could not remove " + path, failure->code};
  if (entry.kind == EntryKind::kAbsent) return std::nullopt;
  const bool removable =
      entry.kind == EntryKind::kFile || (entry.kind == EntryKind::kLink && entry.opened_as_link);
  if (!removable) return Failure{path + L" " + KindText(entry.kind) + L"; it was left alone", 0};
  if (entry.read_only && !entry.opened_as_link) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic))
      return Failure{L"could not remove " + path, GetLastError()};
  }
  // Deleting through the checked handle removes exactly what was checked.
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!SetFileInformationByHandle(entry.handle.get(), FileDispositionInfo, &disposition,
                                  sizeof disposition))
    return Failure{L"could not remove " + path, GetLastError()};
  return std::nullopt;
}

std::optional<Failure> MoveEntry(const ResourceFolder& folder, const std::wstring& from,
                                 const std::wstring& to, DWORD flags) {
  const std::wstring source = folder.path + from;
  const std::wstring target = folder.path + to;
  Entry entry;
  if (auto failure = InspectEntry(folder, from, DELETE, entry))
    return Failure{L"could not move " + source + L" to " + target, failure->code};
  if (entry.kind == EntryKind::kAbsent)
    return Failure{L"could not move " + source + L" to " + target, ERROR_FILE_NOT_FOUND};
  if (entry.kind != EntryKind::kFile)
    return Failure{source + L" " + KindText(entry.kind) + L"; it was left alone", 0};
  // The checked handle stays open (sharing deletion) until the name has moved.
  if (!MoveFileExW(source.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH))
    return Failure{L"could not move " + source + L" to " + target, GetLastError()};
  return std::nullopt;
}
