#include "support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "host/win32.h"
#include "installer/catalogue.h"

ScratchDir::ScratchDir(const std::wstring& leaf, const std::wstring& base) {
  static int counter = 0;
  root_ =
      fs::path(base.empty() ? TestPath("ORVEX_TEST_WORK") : base) /
      (L"scratch-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
  fs::remove_all(root_);
  fs::path folder = leaf.empty() ? root_ : root_ / leaf;
  fs::create_directories(folder);
  path_ = folder.wstring();
  if (path_.back() != L'\\') path_ += L'\\';
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::wstring TestPath(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) throw std::runtime_error(std::string(variable) + " is not set");
  // The build hands over Unix paths; Wine shows the Unix root as drive Z:.
  std::wstring path = L"Z:";
  for (const char* c = value; *c != '\0'; ++c) path += *c == '/' ? L'\\' : wchar_t(*c);
  return path;
}

std::wstring FixtureFolder(const wchar_t* name) {
  return TestPath("ORVEX_TEST_FIXTURES") + L"\\" + name + L"\\IRIS_OCR\\resources\\";
}

StandIn::StandIn(const char* variable, const std::wstring& arguments, HANDLE token) {
  static int started = 0;
  const std::wstring ready_name = L"orvex-test-stand-in-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++started);
  const UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  const std::wstring exe = TestPath(variable);
  std::wstring command = L"\"" + exe + L"\" " + arguments + L" " + ready_name;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!ready || !CreateProcessAsUserW(token, exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                                      0, nullptr, nullptr, &startup, &info))
    throw std::runtime_error("cannot start " + Utf8(exe) + ": " + std::to_string(GetLastError()));
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  process_id_ = info.dwProcessId;
  const HANDLE either[] = {ready.get(), process_.get()};
  if (WaitForMultipleObjects(2, either, FALSE, 10'000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 0);
    throw std::runtime_error(Utf8(command) + " did not get ready");
  }
}

StandIn::~StandIn() {
  TerminateProcess(process_.get(), 0);
  WaitForSingleObject(process_.get(), 10'000);
}

StandInRestartManager::StandInRestartManager() {
  wchar_t folder[MAX_PATH];
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  (wow64 ? GetSystemWow64DirectoryW : GetSystemDirectoryW)(folder, MAX_PATH);
  path_ = std::wstring(folder) + L"\\rstrtmgr.dll";
  original_ = ReadBytes(path_);
  WriteBytes(path_, ReadBytes(TestPath("ORVEX_TEST_RESTART_MANAGER")));
}

StandInRestartManager::~StandInRestartManager() { WriteBytes(path_, original_); }

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

FolderContents Snapshot(const fs::path& folder) {
  FolderContents contents;
  if (!fs::exists(folder)) return contents;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file())
      contents[entry.path().filename().wstring()] = ReadBytes(entry.path());
  }
  return contents;
}

FolderContents ExpectedPayloads() {
  static const FolderContents payloads = [] {
    FolderContents contents;
    const fs::path folder = TestPath("ORVEX_TEST_PAYLOADS");
    for (const PayloadEntry& entry : BuildCatalogue())
      contents[entry.file_name] = ReadBytes(folder / entry.file_name);
    return contents;
  }();
  return payloads;
}

void DeleteRegistryKey(HKEY root, const std::wstring& key, REGSAM view) {
  UniqueHkey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, opened.put()) != ERROR_SUCCESS)
    return;
  RegDeleteTreeW(opened.get(), nullptr);
  opened.reset();
  const LONG status = RegDeleteKeyExW(root, key.c_str(), view, 0);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << status;
}

void DeleteRegistryKeyEverywhere(const std::wstring& key) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) DeleteRegistryKey(root, key, view);
  }
}

void SetRegistryValue(HKEY root, const std::wstring& key, REGSAM view, const std::wstring& name,
                      DWORD type, const void* data, DWORD bytes) {
  UniqueHkey created;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                            created.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExW(created.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes),
      ERROR_SUCCESS);
}

void SetRegistryString(HKEY root, const std::wstring& key, REGSAM view, const std::wstring& name,
                       const std::wstring& text, DWORD type) {
  SetRegistryValue(root, key, view, name, type, text.c_str(),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring RegistryData(HKEY root, const std::wstring& key, const wchar_t* name, DWORD* type) {
  std::wstring data(8192, L'\0');
  DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  UniqueHkey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, opened.put()) !=
          ERROR_SUCCESS ||
      RegQueryValueExW(opened.get(), name, nullptr, type, reinterpret_cast<BYTE*>(data.data()),
                       &bytes) != ERROR_SUCCESS)
    bytes = 0;
  data.resize(bytes / sizeof(wchar_t));
  return data;
}
