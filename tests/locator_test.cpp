// The host locator against the real registry, under a key of the tests' own.
#include <gtest/gtest.h>

#include <vector>

#include "host/locator.h"
#include "support.h"

namespace {

const std::wstring kTestKey = L"SOFTWARE\\OrvexInstallerTests\\Settings";
const RegistryValue kTestValue{HKEY_LOCAL_MACHINE, kTestKey.c_str(), L"installpath"};

// A string value with its terminator, as the registry usually holds one.
std::wstring Sz(const std::wstring& text) { return text + L'\0'; }

TEST(LocatorTest, ReadsTheHostsOwnKey) {
  EXPECT_STREQ(kHostSettingsKey, L"SOFTWARE\\Orvex\\Pro\\13\\Settings");
  const RegistryValue host = HostInstallPath();
  EXPECT_EQ(host.root, HKEY_LOCAL_MACHINE);
  EXPECT_STREQ(host.name, L"installpath");
}

// What the machine records, in which views and of which type, and the installation path read
// from it: the 64-bit view first, the 32-bit view only where the 64-bit one fails, the data
// bounded by its length and cut at its first NUL, and never the current user's.
TEST(LocatorTest, RecordsAreReadAsTheHostMeantThem) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ORVEX_TEST_ROOT", L"D:\\Programs"));
  struct Value {
    REGSAM view;
    std::wstring data;
    DWORD type = REG_SZ;
    const wchar_t* name = L"installpath";
    HKEY root = HKEY_LOCAL_MACHINE;
    DWORD extra_bytes = 0;  // past the data: half a character
  };
  struct Row {
    const char* name;
    std::vector<Value> values;
    std::wstring expected;
    LONG status_64 = ERROR_SUCCESS;  // of the 64-bit view's read
  };
  const std::wstring thirty_two = L"C:\\Thirty Two\\";
  const Value fallback{KEY_WOW64_32KEY, Sz(thirty_two)};
  const DWORD number = 42;
  const std::wstring as_text(reinterpret_cast<const wchar_t*>(&number), 2);
  const std::wstring tail(600, L'x'), q5(5, L'q'), q260(260, L'q'), q300(300, L'q');
  constexpr REGSAM k64 = KEY_WOW64_64KEY, k32 = KEY_WOW64_32KEY;
  constexpr LONG kNotFound = ERROR_FILE_NOT_FOUND, kType = ERROR_UNSUPPORTED_TYPE;
  // clang-format off
  const Row rows[] = {
    {"nothing recorded", {}, L"", kNotFound},
    {"32-bit view only", {fallback}, thirty_two, kNotFound},
    {"both views", {fallback, {k64, Sz(L"C:\\Sixty Four\\")}}, L"C:\\Sixty Four\\"},
    {"64-bit key without the value", {fallback, {k64, Sz(L"C:\\No\\"), REG_SZ, L"other"}},
     thirty_two, kNotFound},
    {"empty in the 64-bit view ends the search", {fallback, {k64, Sz(L"")}}, L""},
    {"a number", {fallback, {k64, as_text, REG_DWORD}}, thirty_two, kType},
    {"a list", {fallback, {k64, Sz(L"C:\\A\\") + Sz(L"C:\\B\\") + L'\0', REG_MULTI_SZ}}, thirty_two,
     kType},
    {"binary", {fallback, {k64, Sz(L"C:\\Binary\\"), REG_BINARY}}, thirty_two, kType},
    {"no terminator, short", {{k64, q5}}, q5},
    {"no terminator, a buffer's length", {{k64, q260}}, q260},
    {"no terminator, past a buffer", {{k64, q300}}, q300},
    {"an odd byte count", {{k64, L"C:\\Odd\\", REG_SZ, L"installpath", HKEY_LOCAL_MACHINE, 1}},
     L"C:\\Odd\\"},
    {"an embedded NUL", {{k64, Sz(L"C:\\Real\\") + Sz(L"C:\\Hidden\\")}}, L"C:\\Real\\"},
    {"only the user's", {{k64, Sz(L"C:\\Mine\\"), REG_SZ, L"installpath", HKEY_CURRENT_USER},
                         {k32, Sz(L"C:\\Mine\\"), REG_SZ, L"installpath", HKEY_CURRENT_USER}},
     L"", kNotFound},
    {"expandable", {{k64, Sz(L"%ORVEX_TEST_ROOT%\\Orvex Pro\\"), REG_EXPAND_SZ}},
     L"D:\\Programs\\Orvex Pro\\"},
    {"expandable, long", {{k64, Sz(L"%ORVEX_TEST_ROOT%\\" + tail), REG_EXPAND_SZ}},
     L"D:\\Programs\\" + tail},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DeleteRegistryKeyEverywhere(kTestKey);
    for (const Value& value : row.values)
      SetRegistryValue(value.root, kTestKey, value.view, value.name, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size() * sizeof(wchar_t)) + value.extra_bytes);
    EXPECT_EQ(ReadInstallPath(kTestValue), row.expected);
    std::wstring out = L"stale";
    EXPECT_EQ(QueryRegistryString(kTestValue, KEY_WOW64_64KEY, out), row.status_64);
    if (row.status_64 != ERROR_SUCCESS) {
      EXPECT_EQ(out, L"");
    }
  }
  DeleteRegistryKeyEverywhere(kTestKey);
}

TEST(LocatorTest, ValuesOfAnyLengthAreReadWhole) {
  DeleteRegistryKeyEverywhere(kTestKey);
  for (size_t length : {259u, 260u, 261u, 700u, 5000u}) {
    std::wstring path = L"C:\\";
    while (path.size() < length - 1) path += L"abcdefghij" + std::to_wstring(path.size()) + L"\\";
    path.resize(length - 1);
    path += L'\\';
    SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, L"installpath", path);
    std::wstring out;
    EXPECT_EQ(QueryRegistryString(kTestValue, KEY_WOW64_64KEY, out), ERROR_SUCCESS) << length;
    EXPECT_EQ(out, path) << length;
  }
  DeleteRegistryKeyEverywhere(kTestKey);
}

TEST(LocatorTest, ResourceDirectoryIsJoinedWithOneBackslash) {
  const wchar_t subdir[] = L"IRIS_OCR\\resources\\";
  DeleteRegistryKeyEverywhere(kTestKey);
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue), L"");
  for (const wchar_t* recorded : {L"C:\\Orvex\\", L"C:\\Orvex"}) {
    SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, L"installpath", recorded);
    EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue), L"C:\\Orvex\\IRIS_OCR\\resources\\");
  }
  SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, L"installpath",
                    L"C:\\Orvex 专业版");
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue),
            L"C:\\Orvex 专业版\\IRIS_OCR\\resources\\");
  SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, L"installpath", L"");
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue), L"");
  DeleteRegistryKeyEverywhere(kTestKey);
}

}  // namespace
