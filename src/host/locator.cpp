#include "host/locator.h"

#include <algorithm>

#include "host/win32.h"

namespace {

LONG ExpandReferences(const std::wstring& text, std::wstring& out) {
  std::wstring expanded(text.size() + 1, L'\0');
  for (;;) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                   static_cast<DWORD>(expanded.size()));
    if (needed == 0) return static_cast<LONG>(GetLastError());
    if (needed <= expanded.size()) {
      expanded.resize(needed - 1);
      out = std::move(expanded);
      return ERROR_SUCCESS;
    }
    expanded.resize(needed);
  }
}

// The process's value of the environment variable `name`; empty when it has none.
std::wstring Variable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  if (!value.empty())
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return value;
}

// A host that writes "%ProgramFiles%" into its record means its own Program Files: a 64-bit
// host, in the 64-bit view, the 64-bit one; a 32-bit host, in the 32-bit view, the 32-bit one.
// This program may be either, so it expands each view's value as a program of that view would:
// every process of 64-bit Windows has the 64-bit folders as ProgramW6432 and the 32-bit ones as
// ProgramFiles(x86) (likewise for CommonProgramFiles), and those are swapped in; where they are
// not defined (32-bit Windows, which has one Program Files), the text is expanded as is.
LONG ExpandAsViewWould(const std::wstring& text, REGSAM view, std::wstring& out) {
  static const wchar_t* const kFolders[][3] = {
      {L"ProgramFiles", L"ProgramW6432", L"ProgramFiles(x86)"},
      {L"CommonProgramFiles", L"CommonProgramW6432", L"CommonProgramFiles(x86)"}};
  std::wstring saved[2];
  for (int i = 0; i < 2; ++i) {
    saved[i] = Variable(kFolders[i][0]);
    const std::wstring own = Variable(kFolders[i][view == KEY_WOW64_64KEY ? 1 : 2]);
    if (!own.empty()) SetEnvironmentVariableW(kFolders[i][0], own.c_str());
  }
  const LONG status = ExpandReferences(text, out);
  for (int i = 0; i < 2; ++i)
    SetEnvironmentVariableW(kFolders[i][0], saved[i].empty() ? nullptr : saved[i].c_str());
  return status;
}

}  // namespace

RegistryValue HostInstallPath() {
  return {HKEY_LOCAL_MACHINE, kHostSettingsKey, kInstallPathValue};
}

LONG QueryRegistryString(const RegistryValue& value, REGSAM view, std::wstring& out) {
  out.clear();
  UniqueHkey key;
  LONG status = RegOpenKeyExW(value.root, value.key, 0, KEY_READ | view, key.put());
  if (status != ERROR_SUCCESS) return status;

  std::wstring data(MAX_PATH, L'\0');
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  do {
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegQueryValueExW(key.get(), value.name, nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &bytes);
    // The value may have grown since the size was reported; ask again until it fits.
    if (status == ERROR_MORE_DATA) data.resize(bytes / sizeof(wchar_t) + 1);
  } while (status == ERROR_MORE_DATA);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;

  // Only the bytes the registry returned count, and a stray odd byte is not a character.
  data.resize(bytes / sizeof(wchar_t));
  data.resize(std::min(data.find(L'\0'), data.size()));
  if (type == REG_EXPAND_SZ) return ExpandAsViewWould(data, view, out);
  out = std::move(data);
  return ERROR_SUCCESS;
}

std::wstring ReadInstallPath(const RegistryValue& value) {
  std::wstring path;
  if (QueryRegistryString(value, KEY_WOW64_64KEY, path) != ERROR_SUCCESS)
    QueryRegistryString(value, KEY_WOW64_32KEY, path);
  return path;
}

std::wstring JoinPath(std::wstring directory, std::wstring_view name) {
  if (!directory.empty() && directory.back() != L'\\' && directory.back() != L'/')
    directory += L'\\';
  directory += name;
  return directory;
}

std::wstring GetOcrResourceDirectory(std::wstring_view subdir, const RegistryValue& value) {
  std::wstring directory = ReadInstallPath(value);
  if (directory.empty()) return directory;
  return JoinPath(std::move(directory), subdir);
}
