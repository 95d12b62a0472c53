// What a person at the machine is told to do next, after each status.
#include <gtest/gtest.h>

#include "installer/guidance.h"
#include "installer/installer.h"

namespace {

bool Says(int status, const std::wstring& words, const std::vector<Holder>& holders = {},
          std::uint64_t bytes = 0, const std::wstring& drive = L"") {
  const std::wstring next = NextStep(status, holders, bytes, drive);
  return next.find(words) != std::wstring::npos;
}

TEST(GuidanceTest, EachStatusAPersonCanActOnHasItsNextStep) {
  EXPECT_TRUE(Says(kExitAccessDenied, L"\"Run as administrator\""));
  EXPECT_TRUE(Says(kExitFileInUse, L"Close Orvex Pro and any other program"));
  EXPECT_TRUE(Says(kExitFileInUse, L"Close Viewer (process 42), Orvex Pro (process 7) and run",
                   {{L"Viewer", 42}, {L"Orvex Pro", 7}}));
  EXPECT_TRUE(Says(kExitRestartRequired, L"Choose Restart"));
  EXPECT_TRUE(
      Says(kExitDiskFull, L"needs 4 MB of free space on D:\\.", {}, 3 * 1048576 + 1, L"D:\\"));
  EXPECT_TRUE(Says(kExitBusy, L"Wait for it to finish"));
  for (int status : {kExitInstalled, kExitHostNotInstalled, kExitFailed})
    EXPECT_EQ(NextStep(status, {}, 0, L""), L"") << status;
}

}  // namespace
