// The list of renames for the next restart is shared with every other program on the machine.
#include <gtest/gtest.h>

#include "installer/restart_schedule.h"
#include "support.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Orvex\\Tests\\Session Manager";
const RegistryValue kList{HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations"};

// The strings, each ended by a NUL, and one more NUL after them.
std::wstring List(std::initializer_list<std::wstring> strings) {
  std::wstring list;
  for (const std::wstring& string : strings) list += string + L'\0';
  return list + L'\0';
}

std::wstring ReadList() {
  DWORD type = REG_NONE;
  const std::wstring list = RegistryData(HKEY_LOCAL_MACHINE, kKey, kList.name, &type);
  if (list.empty()) return L"(none)";
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  return list;
}

// The restart carries the list out by name: whatever was scheduled for one of the folder's
// working names (in whatever case) goes whenever a run writes the list, and nothing else does.
TEST(RestartScheduleTest, OtherProgramsRenamesAreKeptAndOursGoAsAWhole) {
  DeleteRegistryKey(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY);
  // Another program's rename, and a deletion, whose destination is empty; a deletion of a name
  // that is no working name of ours; and an earlier deletion of one that is.
  const std::wstring others = List({L"\\??\\C:\\a.tmp", L"!\\??\\C:\\a.dll", L"\\??\\C:\\b.tmp",
                                    L"", L"\\??\\D:\\r\\z.old", L""});
  const std::wstring earlier =
      others.substr(0, others.size() - 1) + List({L"\\??\\D:\\R\\X.NEW", L""});
  SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, kList.name, REG_MULTI_SZ,
                   earlier.data(), static_cast<DWORD>(earlier.size() * sizeof(wchar_t)));
  const BootRenames ours{L"\\\\?\\D:\\r\\", {L"x", L"y"}, L".new"};
  const std::vector<std::wstring> own{L"x.new", L"y.new"};

  // Scheduled twice, listed once.
  ASSERT_FALSE(ScheduleRenames(kList, ours, own));
  ASSERT_FALSE(ScheduleRenames(kList, ours, own));
  EXPECT_EQ(ReadList(), List({L"\\??\\C:\\a.tmp", L"!\\??\\C:\\a.dll", L"\\??\\C:\\b.tmp", L"",
                              L"\\??\\D:\\r\\z.old", L"", L"\\??\\D:\\r\\x.new", L"!\\??\\D:\\r\\x",
                              L"\\??\\D:\\r\\y.new", L"!\\??\\D:\\r\\y"}));
  size_t count = 0;
  ASSERT_FALSE(CountScheduled(kList, ours, count));
  EXPECT_EQ(count, 2u);

  ASSERT_FALSE(TakeBack(kList, ours.folder, own));
  EXPECT_EQ(ReadList(), others);
  ASSERT_FALSE(CountScheduled(kList, ours, count));
  EXPECT_EQ(count, 0u);

  // With nothing else in it, the list goes; a network path cannot be scheduled at all.
  DeleteRegistryKey(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY);
  SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, L"other", REG_SZ, L"", 2);
  ASSERT_FALSE(ScheduleRenames(kList, ours, own));
  ASSERT_FALSE(TakeBack(kList, ours.folder, own));
  EXPECT_EQ(ReadList(), L"(none)");
  EXPECT_TRUE(ScheduleRenames(kList, {L"\\\\?\\UNC\\s\\r\\", {L"x"}, L".new"}, own));
  EXPECT_FALSE(TakeBack(kList, L"\\\\?\\UNC\\s\\r\\", own));
  DeleteRegistryKey(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY);
}

}  // namespace
