// Finds the host application's installation through the machine-wide registry.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "host/win32.h"
#include "version.h"

// The host records its installation under its major version, which the installer shares.
inline constexpr wchar_t kHostSettingsKey[] =
    L"SOFTWARE\\Orvex\\Pro\\" ORVEX_VERSION_MAJOR_TEXT L"\\Settings";
inline constexpr wchar_t kInstallPathValue[] = L"installpath";

// The host's own record of its installation directory.
RegistryValue HostInstallPath();

// Reads a REG_SZ or REG_EXPAND_SZ value of any length in one registry view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY), cut at its first NUL, and expands it as a program of that view's bitness
// would. Returns the Win32 status; `out` is empty on every failure. Any other value type fails
// with ERROR_UNSUPPORTED_TYPE.
LONG QueryRegistryString(const RegistryValue& value, REGSAM view, std::wstring& out);

// The value from the 64-bit view or, only if that fails, the 32-bit view; empty if neither
// has it. An empty value in the 64-bit view counts as found, and so ends the search.
std::wstring ReadInstallPath(const RegistryValue& value);

// `directory` and `name` joined by exactly one backslash.
std::wstring JoinPath(std::wstring directory, std::wstring_view name);

// The OCR resource folder below the host installation recorded at `value`, ending in a
// backslash; empty when the host is not installed.
std::wstring GetOcrResourceDirectory(std::wstring_view subdir,
                                     const RegistryValue& value = HostInstallPath());
