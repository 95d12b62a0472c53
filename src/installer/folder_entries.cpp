#include "installer/folder_entries.h"

namespace {

// Where the system allows opening a link as itself, the attributes say so. Elsewhere (Wine
// follows a Unix symbolic link whatever is asked) the only sign is where the handle leads.
EntryKind EntryKindOf(const ResourceFolder& folder, const std::wstring& name, HANDLE handle,
                      const FILE_ATTRIBUTE_TAG_INFO& tag) {
  const EntryKind kind = KindOfAttributes(tag.FileAttributes, tag.ReparseTag);
  if (kind != EntryKind::kFile) return kind;
  if (GetFileType(handle) != FILE_TYPE_DISK) return EntryKind::kDevice;
  if (!folder.final_path.empty() && !SameName(FinalPath(handle), folder.final_path + name))
    return EntryKind::kLink;
  return EntryKind::kFile;
}

}  // namespace

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

std::optional<Failure> InspectEntry(const ResourceFolder& folder, Patience& patience,
                                    const std::wstring& name, DWORD access, Entry& entry) {
  const std::wstring path = folder.path + name;
  entry = Entry{};
  if (auto failure = patience.Retry([&] {
        entry.handle.reset(CreateFileW(
            path.c_str(), access | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return static_cast<bool>(entry.handle);
      })) {
    if (failure->code == ERROR_FILE_NOT_FOUND || failure->code == ERROR_PATH_NOT_FOUND)
      return std::nullopt;
    failure->what = L"could not open " + path;
    return failure;
  }
  return ClassifyEntry(folder, name, entry);
}

std::optional<Failure> ClassifyEntry(const ResourceFolder& folder, const std::wstring& name,
                                     Entry& entry) {
  const std::wstring path = folder.path + name;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return SystemFailure(L"could not read the attributes of " + path, GetLastError());
  entry.kind = EntryKindOf(folder, name, entry.handle.get(), tag);
  entry.read_only = (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  entry.opened_as_link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                         IsReparseTagNameSurrogate(tag.ReparseTag);
  entry.behind_filter = BehindAFilter(tag.FileAttributes, tag.ReparseTag);
  return std::nullopt;
}

std::optional<Failure> ReadThroughFilter(const ResourceFolder& folder, const std::wstring& name,
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
    return Finding(L"could not read " + path);
  if (error) return SystemFailure(L"could not read " + path, error);
  entry.handle = std::move(content);
  return std::nullopt;
}

DWORD NameCount(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) return 0;
  return standard.NumberOfLinks;
}
