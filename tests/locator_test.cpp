// The host locator against the real registry, under a key of the tests' own.
#include <gtest/gtest.h>

#include "host/locator.h"
#include "support.h"

namespace {

const std::wstring kTestKey = L"SOFTWARE\\OrvexInstallerTests\\Settings";
const RegistryValue kTestValue{HKEY_LOCAL_MACHINE, kTestKey.c_str(), L"installpath"};

class LocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRegistryKeyEverywhere(kTestKey); }
  void TearDown() override { DeleteRegistryKeyEverywhere(kTestKey); }
  static void Set(REGSAM view, const std::wstring& text, DWORD type = REG_SZ) {
    SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, view, L"installpath", text, type);
  }
  static void SetRaw(REGSAM view, DWORD type, const void* data, DWORD bytes) {
    SetRegistryValue(HKEY_LOCAL_MACHINE, kTestKey, view, L"installpath", type, data, bytes);
  }
};

TEST_F(LocatorTest, ReadsTheHostsOwnKey) {
  EXPECT_STREQ(kHostSettingsKey, L"SOFTWARE\\Orvex\\Pro\\13\\Settings");
  const RegistryValue host = HostInstallPath();
  EXPECT_EQ(host.root, HKEY_LOCAL_MACHINE);
  EXPECT_STREQ(host.name, L"installpath");
}

TEST_F(LocatorTest, NothingRecordedGivesEmpty) {
  std::wstring out = L"stale";
  EXPECT_EQ(QueryRegistryString(kTestValue, KEY_WOW64_64KEY, out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(out, L"");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"");
  EXPECT_EQ(GetOcrResourceDirectory(L"IRIS_OCR\\resources\\", kTestValue), L"");
}

TEST_F(LocatorTest, ViewsAreTriedSixtyFourBitFirst) {
  Set(KEY_WOW64_32KEY, L"C:\\Thirty Two\\");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Thirty Two\\");

  Set(KEY_WOW64_64KEY, L"C:\\Sixty Four\\");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Sixty Four\\");
}

TEST_F(LocatorTest, KeyWithoutTheValueFallsBackToThirtyTwoBit) {
  SetRegistryString(HKEY_LOCAL_MACHINE, kTestKey, KEY_WOW64_64KEY, L"other", L"C:\\Nope\\");
  Set(KEY_WOW64_32KEY, L"C:\\Thirty Two\\");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Thirty Two\\");
}

TEST_F(LocatorTest, EmptyValueInSixtyFourBitEndsTheSearch) {
  Set(KEY_WOW64_64KEY, L"");
  Set(KEY_WOW64_32KEY, L"C:\\Thirty Two\\");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"");
  EXPECT_EQ(GetOcrResourceDirectory(L"IRIS_OCR\\resources\\", kTestValue), L"");
}

TEST_F(LocatorTest, ValuesOfAnyLengthAreReadWhole) {
  for (size_t length : {259u, 260u, 261u, 700u, 5000u}) {
    std::wstring path = L"C:\\";
    while (path.size() < length - 1) path += L"abcdefghij" + std::to_wstring(path.size()) + L"\\";
    path.resize(length - 1);
    path += L'\\';
    Set(KEY_WOW64_64KEY, path);
    std::wstring out;
    EXPECT_EQ(QueryRegistryString(kTestValue, KEY_WOW64_64KEY, out), ERROR_SUCCESS) << length;
    EXPECT_EQ(out, path) << length;
  }
}

TEST_F(LocatorTest, ExpandableValueIsExpanded) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"ORVEX_TEST_ROOT", L"D:\\Programs"));
  Set(KEY_WOW64_64KEY, L"%ORVEX_TEST_ROOT%\\Orvex Pro\\", REG_EXPAND_SZ);
  EXPECT_EQ(ReadInstallPath(kTestValue), L"D:\\Programs\\Orvex Pro\\");

  const std::wstring long_tail(600, L'x');
  Set(KEY_WOW64_64KEY, L"%ORVEX_TEST_ROOT%\\" + long_tail, REG_EXPAND_SZ);
  EXPECT_EQ(ReadInstallPath(kTestValue), L"D:\\Programs\\" + long_tail);
}

TEST_F(LocatorTest, OtherValueTypesFailThatView) {
  Set(KEY_WOW64_32KEY, L"C:\\Thirty Two\\");
  const DWORD number = 42;
  SetRaw(KEY_WOW64_64KEY, REG_DWORD, &number, sizeof number);
  std::wstring out = L"stale";
  EXPECT_EQ(QueryRegistryString(kTestValue, KEY_WOW64_64KEY, out), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(out, L"");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Thirty Two\\");

  const wchar_t multi[] = L"C:\\First\\\0C:\\Second\\\0";
  SetRaw(KEY_WOW64_64KEY, REG_MULTI_SZ, multi, sizeof multi);
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Thirty Two\\");

  const wchar_t binary[] = L"C:\\Binary\\";
  SetRaw(KEY_WOW64_64KEY, REG_BINARY, binary, sizeof binary);
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Thirty Two\\");
}

TEST_F(LocatorTest, DataIsBoundedByItsLengthAndCutAtTheFirstNul) {
  // No terminator at all, in a buffer-sized value and in a short one.
  for (size_t length : {5u, 260u, 300u}) {
    const std::wstring text(length, L'q');
    SetRaw(KEY_WOW64_64KEY, REG_SZ, text.data(), static_cast<DWORD>(text.size() * 2));
    EXPECT_EQ(ReadInstallPath(kTestValue), text) << length;
  }
  // An odd byte count: the half character at the end is not text.
  const std::wstring odd = L"C:\\Odd\\";
  SetRaw(KEY_WOW64_64KEY, REG_SZ, odd.data(), static_cast<DWORD>(odd.size() * 2 + 1));
  EXPECT_EQ(ReadInstallPath(kTestValue), odd);
  // Text after an embedded NUL is not part of the path.
  const wchar_t embedded[] = L"C:\\Real\\\0C:\\Hidden\\";
  SetRaw(KEY_WOW64_64KEY, REG_SZ, embedded, sizeof embedded);
  EXPECT_EQ(ReadInstallPath(kTestValue), L"C:\\Real\\");
}

TEST_F(LocatorTest, CurrentUserIsNeverConsulted) {
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    SetRegistryString(HKEY_CURRENT_USER, kTestKey, view, L"installpath", L"C:\\Per User\\");
  EXPECT_EQ(ReadInstallPath(kTestValue), L"");
}

TEST_F(LocatorTest, ResourceDirectoryIsJoinedWithOneBackslash) {
  const wchar_t subdir[] = L"IRIS_OCR\\resources\\";
  Set(KEY_WOW64_64KEY, L"C:\\Orvex\\");
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue), L"C:\\Orvex\\IRIS_OCR\\resources\\");
  Set(KEY_WOW64_64KEY, L"C:\\Orvex");
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue), L"C:\\Orvex\\IRIS_OCR\\resources\\");
  Set(KEY_WOW64_64KEY, L"C:\\Orvex 专业版");
  EXPECT_EQ(GetOcrResourceDirectory(subdir, kTestValue),
            L"C:\\Orvex 专业版\\IRIS_OCR\\resources\\");
}

}  // namespace
