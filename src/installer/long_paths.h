// Paths in the form Windows accepts past 260 characters, and back in the form users know.
#pragma once

#include <string>

// What marks a path as extended-length: the system takes what follows literally.
inline constexpr wchar_t kExtendedPrefix[] = L"\\\\?\\";

// The extended-length form of an absolute path: "C:\a\b" -> "\\?\C:\a\b" and
// "\\server\share\a" -> "\\?\UNC\server\share\a". The system takes that form literally, so the
// path is normalised first as the system would have done (forward slashes become backslashes,
// "." and ".." are resolved), which keeps a trailing backslash. Paths already in extended ("\\?\")
// or device ("\\.\") form, relative paths, and a path the system cannot normalise are returned
// unchanged.
std::wstring ExtendedLengthPath(const std::wstring& path);

// `path` as users know it, for messages: "\\?\C:\a" -> "C:\a" and "\\?\UNC\server\share\a" ->
// "\\server\share\a"; anything else unchanged.
std::wstring DisplayPath(const std::wstring& path);
