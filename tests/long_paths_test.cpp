// Paths in extended-length form and back. Wine does not enforce the 260-character limit, so a
// long path works there either way: the conversion itself is what is checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/long_paths.h"

namespace {

TEST(LongPathsTest, AbsolutePathsAreExtendedAndShownWithoutThePrefix) {
  struct Case {
    std::wstring path, extended, shown;
  };
  std::vector<Case> cases = {
      {L"C:\\Orvex Pro\\IRIS_OCR\\resources\\", L"\\\\?\\C:\\Orvex Pro\\IRIS_OCR\\resources\\",
       L"C:\\Orvex Pro\\IRIS_OCR\\resources\\"},
      {L"D:/Orvex/./Pro/../IRIS_OCR/resources/", L"\\\\?\\D:\\Orvex\\IRIS_OCR\\resources\\",
       L"D:\\Orvex\\IRIS_OCR\\resources\\"},
      {L"C:\\Orvex", L"\\\\?\\C:\\Orvex", L"C:\\Orvex"},
      {L"\\\\server\\share\\Orvex\\", L"\\\\?\\UNC\\server\\share\\Orvex\\",
       L"\\\\server\\share\\Orvex\\"},
      {L"//server/share/Orvex/old/../resources", L"\\\\?\\UNC\\server\\share\\Orvex\\resources",
       L"\\\\server\\share\\Orvex\\resources"},
      // Already in the system's own namespaces: taken literally, so never rewritten.
      {L"\\\\?\\C:\\Orvex/./x\\", L"\\\\?\\C:\\Orvex/./x\\", L"C:\\Orvex/./x\\"},
      {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
      {L"\\\\?\\unc\\server\\share\\x", L"\\\\?\\unc\\server\\share\\x", L"\\\\server\\share\\x"},
      {L"\\\\?\\Volume{0b1c}\\x", L"\\\\?\\Volume{0b1c}\\x", L"\\\\?\\Volume{0b1c}\\x"},
      {L"\\\\.\\C:\\x", L"\\\\.\\C:\\x", L"\\\\.\\C:\\x"},
  };
  // Relative paths, also to the current drive or a drive's current folder, are left alone.
  for (const wchar_t* relative : {L"IRIS_OCR\\resources\\", L"..\\x", L"C:x", L"\\x", L""})
    cases.push_back({relative, relative, relative});

  // Far past 260 characters, with parts to resolve on the way.
  std::wstring tail, normalised;
  for (int i = 0; tail.size() < 700; ++i) {
    const std::wstring part = L"folder " + std::to_wstring(i) + L" of a deep tree";
    tail += part + (i % 3 == 0 ? L"\\.\\gone\\..\\" : L"/");
    normalised += part + L"\\";
  }
  cases.push_back({L"C:\\" + tail, L"\\\\?\\C:\\" + normalised, L"C:\\" + normalised});
  cases.push_back({L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + normalised,
                   L"\\\\server\\share\\" + normalised});

  for (const Case& c : cases) {
    EXPECT_EQ(ExtendedLengthPath(c.path), c.extended) << c.path;
    EXPECT_EQ(DisplayPath(c.extended), c.shown) << c.extended;
  }
}

}  // namespace
