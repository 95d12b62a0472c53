// The OCR resource folder the installer works in, held open for the run, and what can be asked
// of it as a whole.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/failure.h"

// Others may read, write and delete what the run opens only to look at: a holder is never
// kept out by the installer's own look.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct ResourceFolder {
  std::wstring path;        // as the installer uses it, ending in a backslash
  std::wstring final_path;  // as the system resolves it, ending in a backslash; may be empty
  UniqueHandle handle;
};

// Opens `path` (ending in a backslash) as the resource folder. Fails when it is missing or is
// not a folder; nothing is created.
[[nodiscard]] std::optional<Failure> OpenResourceFolder(const std::wstring& path,
                                                        ResourceFolder& folder);

// Where the open `handle` leads, as the system resolves it; empty when it cannot say.
std::wstring FinalPath(HANDLE handle);

// Whether two names in the folder, or two paths, are the same to the system (case is ignored).
bool SameName(const std::wstring& a, const std::wstring& b);

// The names of the folder's entries that match the wildcard `pattern`; a failure when the folder
// cannot be listed.
[[nodiscard]] std::optional<Failure> ListEntries(const ResourceFolder& folder,
                                                 const wchar_t* pattern,
                                                 std::vector<std::wstring>& names);
