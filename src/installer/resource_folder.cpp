#include "installer/resource_folder.h"

std::optional<Failure> OpenResourceFolder(const std::wstring& path, ResourceFolder& folder) {
  folder.path = path;
  folder.handle.reset(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.handle)
    return SystemFailure(L"could not find the resource folder " + path, GetLastError());
  // Not GetFileInformationByHandle: it also asks for the volume, which costs Wine over a
  // millisecond.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(folder.handle.get(), FileAttributeTagInfo, &tag, sizeof tag))
    return SystemFailure(L"could not read the resource folder " + path, GetLastError());
  if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Finding(L"could not find the resource folder " + path);
  folder.final_path = FinalPath(folder.handle.get());
  if (!folder.final_path.empty() && folder.final_path.back() != L'\\') folder.final_path += L'\\';
  return std::nullopt;
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

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::optional<Failure> ListEntries(const ResourceFolder& folder, const wchar_t* pattern,
                                   std::vector<std::wstring>& names) {
  names.clear();
  WIN32_FIND_DATAW found;
  const std::wstring wildcard = folder.path + pattern;
  // Without the short names, which the installer never needs; Vista does not know that level
  // and refuses it, and gets the standard one.
  UniqueFindHandle search(FindFirstFileExW(wildcard.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0));
  DWORD error = GetLastError();
  if (!search && error == ERROR_INVALID_PARAMETER) {
    search.reset(FindFirstFileExW(wildcard.c_str(), FindExInfoStandard, &found,
                                  FindExSearchNameMatch, nullptr, 0));
    error = GetLastError();
  }
  if (search) {
    do {
      names.push_back(std::wstring(found.cFileName));
    } while (FindNextFileW(search.get(), &found));
    error = GetLastError();
  }
  // No match at all, or the end of the matches: the whole folder was looked at.
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
    return SystemFailure(L"could not list " + folder.path, error);
  return std::nullopt;
}
