// Helpers shared by the tests, which run under Wine against its real registry and files.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>

#include "host/win32.h"

namespace fs = std::filesystem;

// A folder of its own for one test, removed afterwards, in the tests' work folder or in
// `base`. Its path ends in a backslash.
class ScratchDir {
 public:
  explicit ScratchDir(const std::wstring& leaf = L"", const std::wstring& base = L"");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::wstring& path() const { return path_; }
  // The scratch folder itself, above `leaf`, ending in a backslash.
  std::wstring root() const { return root_.wstring() + L"\\"; }

 private:
  fs::path root_;
  std::wstring path_;
};

// A path handed to the tests by the build, in Windows form.
std::wstring TestPath(const char* variable);

// The resource folder of a condition tests/fixtures.sh prepared as root, ending in a backslash.
// Each test checks that its condition really holds and is skipped, saying why, when it does not.
std::wstring FixtureFolder(const wchar_t* name);

// A stand-in program of the tests' that the build names in `variable`, running while this
// lives: started with `arguments` and then the name of an event it signals once it is ready, and
// waited for until it is; with `token`, as that token's user.
class StandIn {
 public:
  StandIn(const char* variable, const std::wstring& arguments, HANDLE token = nullptr);
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  DWORD process_id() const { return process_id_; }

 private:
  UniqueHandle process_;
  DWORD process_id_ = 0;
};

// The stand-in for an on-access scanner (tests/scanner.cpp), watching `folder` while this
// lives: it holds each file that appears, is renamed in or is written for 40 to 250 ms.
class Scanner : public StandIn {
 public:
  // Without its last backslash, which would escape the closing quote.
  explicit Scanner(const std::wstring& folder)
      : StandIn("ORVEX_TEST_SCANNER",
                L"\"" + folder.substr(0, folder.find_last_not_of(L'\\') + 1) + L"\"") {}
};

// Wine's Restart Manager, while this lives, is tests/rstrtmgr.cpp, in the system folder.
class StandInRestartManager {
 public:
  StandInRestartManager();
  ~StandInRestartManager();

 private:
  std::wstring path_;
  std::string original_;
};

std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);

// Every file of a folder (not its subfolders) by name, with its contents.
using FolderContents = std::map<std::wstring, std::string>;
FolderContents Snapshot(const fs::path& folder);

// What a successful run leaves: the six payloads the build embedded.
FolderContents ExpectedPayloads();

// Registry keys and values in one chosen view (KEY_WOW64_64KEY or KEY_WOW64_32KEY).
void DeleteRegistryKey(HKEY root, const std::wstring& key, REGSAM view);
// Removes `key` from HKLM and HKCU, in both views.
void DeleteRegistryKeyEverywhere(const std::wstring& key);
void SetRegistryValue(HKEY root, const std::wstring& key, REGSAM view, const std::wstring& name,
                      DWORD type, const void* data, DWORD bytes);
// The data of a registry value in the 64-bit view, as UTF-16 units with its NULs; empty when
// there is none. `type`, if given, receives its type.
std::wstring RegistryData(HKEY root, const std::wstring& key, const wchar_t* name,
                          DWORD* type = nullptr);
void SetRegistryString(HKEY root, const std::wstring& key, REGSAM view, const std::wstring& name,
                       const std::wstring& text, DWORD type = REG_SZ);
