#include "installer/long_paths.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr size_t kExtendedPrefixLength = 4;
constexpr wchar_t kUncMarker[] = L"UNC\\";
constexpr size_t kUncMarkerLength = 4;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "C:\..." or "C:/...", from `at` on.
bool IsDriveAbsolute(const std::wstring& path, size_t at = 0) {
  return path.size() >= at + 3 && IsAsciiLetter(path[at]) && path[at + 1] == L':' &&
         IsSeparator(path[at + 2]);
}

// "\\?\..." or "\\.\..." (either slash): the system's own namespaces, never rewritten.
bool IsExtendedOrDevice(const std::wstring& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]);
}

// "\\server\...", either slash.
bool IsUnc(const std::wstring& path) {
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

// "UNC\" at `at`, in any case, as the system reads it.
bool HasUncMarker(const std::wstring& path, size_t at) {
  return path.size() >= at + kUncMarkerLength &&
         _wcsnicmp(path.c_str() + at, kUncMarker, kUncMarkerLength) == 0;
}

// The system's normalisation of an absolute path, of any length.
bool FullPath(const std::wstring& path, std::wstring& out) {
  std::wstring buffer(path.size() + 1, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      out = std::move(buffer);
      return true;
    }
    buffer.resize(length);  // the size needed, terminator included
  }
}

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (IsExtendedOrDevice(path) || !(IsDriveAbsolute(path) || IsUnc(path))) return path;
  std::wstring full;
  if (!FullPath(path, full)) return path;
  // A reserved name such as CON normalises into the device namespace, which is literal already.
  if (IsExtendedOrDevice(full)) return full;
  if (IsDriveAbsolute(full)) return kExtendedPrefix + full;
  if (IsUnc(full)) return kExtendedPrefix + (kUncMarker + full.substr(2));
  return full;
}

std::wstring DisplayPath(const std::wstring& path) {
  if (path.compare(0, kExtendedPrefixLength, kExtendedPrefix) != 0) return path;
  if (HasUncMarker(path, kExtendedPrefixLength))
    return L"\\\\" + path.substr(kExtendedPrefixLength + kUncMarkerLength);
  if (IsDriveAbsolute(path, kExtendedPrefixLength)) return path.substr(kExtendedPrefixLength);
  return path;
}
