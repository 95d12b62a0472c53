// Installing the payload set into a real folder: all or nothing, whatever happens.
#include <gtest/gtest.h>

#include <thread>

#include "host/win32.h"
#include "installer/folder_entries.h"
#include "installer/install.h"
#include "installer/working_names.h"
#include "support.h"

namespace {

// Where the system is asked to schedule renames for the next restart in these tests: a key
// that does not exist, which refuses as it does for a user who is not an administrator.
const RegistryValue kRefusedRestartRenames{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvex\\Tests\\None",
                                           L"PendingFileRenameOperations"};

class InstallTest : public ::testing::Test {
 protected:
  InstallReport Install(const Catalogue& catalogue = BuildCatalogue()) {
    return InstallPayloads(dir_.path(), catalogue, GetModuleHandleW(nullptr), settings_);
  }
  void Put(const std::wstring& name, const std::string& bytes) {
    WriteBytes(dir_.path() + name, bytes);
  }
  FolderContents Contents() const { return Snapshot(dir_.path()); }

  // Holds a file open with no sharing, as another program might.
  UniqueHandle Hold(const std::wstring& name) {
    UniqueHandle handle(CreateFileW((dir_.path() + name).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(handle) << GetLastError();
    return handle;
  }

  // Which file a name is and when it was last written: what a run that leaves a file alone
  // keeps.
  using FileStamp = std::pair<unsigned long long, unsigned long long>;
  std::map<std::wstring, FileStamp> Stamps() const {
    std::map<std::wstring, FileStamp> stamps;
    for (const auto& [name, bytes] : Contents()) {
      UniqueHandle file(CreateFileW((dir_.path() + name).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
      BY_HANDLE_FILE_INFORMATION info{};
      EXPECT_TRUE(GetFileInformationByHandle(file.get(), &info));
      stamps[name] = {(ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                      (ULONGLONG{info.ftLastWriteTime.dwHighDateTime} << 32) |
                          info.ftLastWriteTime.dwLowDateTime};
    }
    return stamps;
  }

  ScratchDir dir_{L"IRIS_OCR\\resources"};
  // Files held by the tests stay held: they are waited for only briefly.
  InstallSettings settings_{kLockWaitMilliseconds, 200, kRefusedRestartRenames};
};

TEST_F(InstallTest, FreshFolderReceivesEveryPayloadExactly) {
  const InstallReport result = Install();
  EXPECT_EQ(result.outcome, Outcome::kInstalled);
  EXPECT_TRUE(result.problems.empty());
  EXPECT_EQ(Contents(), ExpectedPayloads());
  // Binary content goes through untranslated: lone LF bytes and exact sizes.
  EXPECT_EQ(Contents()[L"eng.ilex"].find('\n'), 39u);
  EXPECT_EQ(Contents()[L"schparam.dic"], "schlang.dic\rschclas.dic\rschpp.dic\r");
}

TEST_F(InstallTest, ExistingFilesAreReplacedAndOthersLeftAlone) {
  Put(L"eng.ilex", std::string(3'000'000, 'x'));  // longer than the payload
  Put(L"schparam.dic", "old parameters\r\n");
  Put(L"notes.txt", "the user's own file");
  Put(L"schpp.dic.bak", "a backup of the user's");

  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  FolderContents expected = ExpectedPayloads();
  expected[L"notes.txt"] = "the user's own file";
  expected[L"schpp.dic.bak"] = "a backup of the user's";
  EXPECT_EQ(Contents(), expected);

  // A second run leaves the same files.
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  EXPECT_EQ(Contents(), expected);
}

TEST_F(InstallTest, MissingFolderIsReportedAndNotCreated) {
  const std::wstring missing = dir_.path() + L"absent\\";
  const InstallReport result =
      InstallPayloads(missing, BuildCatalogue(), GetModuleHandleW(nullptr));
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_NE(result.problems[0].what.find(missing), std::wstring::npos);
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(InstallTest, FileKeptInUseWithoutARestartToWaitForLeavesTheFolderAsItWas) {
  // Some targets exist and some do not; the held one is the last of them.
  Put(L"eng.ilex", "old lexicon");
  Put(L"schclas.dic", "old classes");
  Put(L"schpp.dic", "old post-processing");
  Put(L"notes.txt", "mine");
  const FolderContents before = Contents();
  {
    UniqueHandle held = Hold(L"schpp.dic");
    const InstallReport result = Install();
    EXPECT_EQ(result.outcome, Outcome::kInUse);
    EXPECT_TRUE(result.restored);
    ASSERT_EQ(result.problems.size(), 2u);
    EXPECT_EQ(result.problems[0].code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(result.problems[0].what.find(dir_.path() + L"schpp.dic"), std::wstring::npos);
    EXPECT_EQ(result.held_file, dir_.path() + L"schpp.dic");
    EXPECT_NE(result.problems[1].what.find(L"could not schedule"), std::wstring::npos);
  }
  EXPECT_EQ(Contents(), before);
}

TEST_F(InstallTest, PayloadMissingFromTheImageIsAFailure) {
  Put(L"eng.ilex", "old lexicon");
  const FolderContents before = Contents();
  Catalogue catalogue = BuildCatalogue();
  catalogue.push_back({109, L"extra.dic"});

  const InstallReport result = Install(catalogue);
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.problems[0].code, static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(Contents(), before);
}

TEST_F(InstallTest, RepeatRunLeavesMatchingFilesAlone) {
  ASSERT_EQ(Install().outcome, Outcome::kInstalled);
  std::string damaged = ExpectedPayloads().at(L"schpp.dic");
  damaged[damaged.size() / 2] ^= 1;  // same size, one bit off
  Put(L"schpp.dic", damaged);
  const std::map<std::wstring, FileStamp> before = Stamps();
  {
    // The host reading its data, as an application does, does not stand in the way.
    UniqueHandle reader(CreateFileW((dir_.path() + L"schclas.dic").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    const InstallReport result = Install();
    EXPECT_EQ(result.outcome, Outcome::kInstalled);
    EXPECT_TRUE(result.problems.empty());
  }
  EXPECT_EQ(Contents(), ExpectedPayloads());
  const std::map<std::wstring, FileStamp> after = Stamps();
  for (const auto& [name, stamp] : before) {
    if (name == L"schpp.dic")
      EXPECT_NE(after.at(name), stamp) << "the damaged file must have been replaced";
    else
      EXPECT_EQ(after.at(name), stamp) << Utf8(name) << " was touched";
  }
}

TEST_F(InstallTest, RunsTakeTurnsAndAStaleLockDoesNotBlock) {
  Put(L"eng.ilex", "old lexicon");
  const FolderContents before = Contents();
  {
    UniqueHandle other_run(CreateFileW((dir_.path() + kLockFileName).c_str(), GENERIC_WRITE, 0,
                                       nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(other_run);
    settings_.lock_wait_ms = 300;
    const InstallReport result = Install();
    EXPECT_EQ(result.outcome, Outcome::kBusy);
    ASSERT_FALSE(result.problems.empty());
  }
  // The lock file of a run that died is still there, but nobody holds it.
  FolderContents with_lock = before;
  with_lock[kLockFileName] = "";
  EXPECT_EQ(Contents(), with_lock);
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  EXPECT_EQ(Contents(), ExpectedPayloads());
}

// Two runs at once on one folder: the first keeps it while it waits for a file another program
// holds; the second gives up when its own wait is over, changing nothing, with status 6.
TEST_F(InstallTest, TwoRunsAtOnceTheSecondGivesUpWithStatusSix) {
  Put(L"eng.ilex", "old lexicon");
  const FolderContents before = Contents();
  UniqueHandle held = Hold(L"eng.ilex");
  InstallSettings patient = settings_;
  patient.patience_ms = 1'000;
  InstallReport first;
  std::thread first_run([&] {
    first = InstallPayloads(dir_.path(), BuildCatalogue(), GetModuleHandleW(nullptr), patient);
  });
  while (!fs::exists(dir_.path() + kLockFileName)) Sleep(10);
  settings_.lock_wait_ms = 300;
  const InstallReport second = Install();
  first_run.join();
  EXPECT_EQ(ExitCodeOf(second.outcome), 6);
  ASSERT_FALSE(second.problems.empty());
  EXPECT_NE(second.problems[0].what.find(L"another installation is in progress"),
            std::wstring::npos);
  EXPECT_EQ(ExitCodeOf(first.outcome), 4);
  held.reset();
  EXPECT_EQ(Contents(), before);
}

// A list of renames for the next restart that this program cannot split safely (a source with
// nothing after it) is never rewritten, by a run with a file in use or without: the run fails
// before it changes anything and says why, as its own finding (no system message, which the
// system never gave), and the list stays as it was, other programs' entries and all.
TEST_F(InstallTest, ARestartListThatCannotBeReadIsLeftAsItWas) {
  const RegistryValue list{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orvex\\Tests\\Session Manager",
                           L"PendingFileRenameOperations"};
  settings_.restart_renames = list;
  Put(L"eng.ilex", "old lexicon");
  const FolderContents before = Contents();
  const std::wstring unreadable = std::wstring(L"\\??\\C:\\a.tmp\0\0\\??\\C:\\b.tmp", 26);
  for (bool in_use : {false, true}) {
    SCOPED_TRACE(in_use ? "scheduling" : "taking back");
    SetRegistryValue(HKEY_LOCAL_MACHINE, list.key, KEY_WOW64_64KEY, list.name, REG_MULTI_SZ,
                     unreadable.data(), static_cast<DWORD>(unreadable.size() * sizeof(wchar_t)));
    const std::wstring as_set = RegistryData(HKEY_LOCAL_MACHINE, list.key, list.name);
    UniqueHandle held = in_use ? Hold(L"eng.ilex") : UniqueHandle();
    const InstallReport result = Install();
    EXPECT_EQ(ExitCodeOf(result.outcome), 2);
    bool said = false;
    for (const Failure& problem : result.problems)
      said |= Describe(problem).find(
                  L"renames for the next restart: a file in the list has "
                  L"nothing after it") != std::wstring::npos &&
              problem.code == ERROR_SUCCESS;
    EXPECT_TRUE(said);
    EXPECT_EQ(RegistryData(HKEY_LOCAL_MACHINE, list.key, list.name), as_set);
    held.reset();
    EXPECT_EQ(Contents(), before);
  }
  DeleteRegistryKey(HKEY_LOCAL_MACHINE, list.key, KEY_WOW64_64KEY);
}

TEST_F(InstallTest, TargetsThatAreNotPlainWritableFilesStopTheRunBeforeAnyChange) {
  Put(L"schpp.dic", "old post-processing");
  fs::create_directories(dir_.path() + L"eng.ilex\\user data");
  Put(L"eng.ilex\\user data\\notes.txt", "mine");
  InstallReport result = Install();
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_NE(result.problems[0].what.find(dir_.path() + L"eng.ilex is a folder"),
            std::wstring::npos);
  EXPECT_EQ(ReadBytes(dir_.path() + L"eng.ilex\\user data\\notes.txt"), "mine");
  fs::remove_all(dir_.path() + L"eng.ilex");

  const FolderContents before = Contents();
  SetFileAttributesW((dir_.path() + L"schpp.dic").c_str(), FILE_ATTRIBUTE_READONLY);
  result = Install();
  EXPECT_EQ(result.outcome, Outcome::kRefused);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_EQ(result.read_only_file, dir_.path() + L"schpp.dic");
  EXPECT_NE(result.problems[0].what.find(dir_.path() + L"schpp.dic is read-only"),
            std::wstring::npos);
  EXPECT_EQ(Contents(), before);
  SetFileAttributesW((dir_.path() + L"schpp.dic").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(InstallTest, LitterNeverWedgesLaterRuns) {
  // Read-only working files left behind are cleared; one that cannot be removed at all is a
  // warning, and stops only a run that needs its name.
  Put(L"eng.ilex.orvex-old", "an old lexicon");
  SetFileAttributesW((dir_.path() + L"eng.ilex.orvex-old").c_str(), FILE_ATTRIBUTE_READONLY);
  fs::create_directories(dir_.path() + L"schpp.dic.orvex-old");
  InstallReport result = Install();
  EXPECT_EQ(result.outcome, Outcome::kInstalled);
  ASSERT_EQ(result.problems.size(), 1u) << Utf8(Describe(result.problems[0]));
  EXPECT_NE(result.problems[0].what.find(L"schpp.dic.orvex-old is a folder"), std::wstring::npos);
  FolderContents expected = ExpectedPayloads();
  EXPECT_EQ(Contents(), expected);

  Put(L"schpp.dic", "damaged");
  const FolderContents before = Contents();
  result = Install();
  EXPECT_EQ(result.outcome, Outcome::kFailed);
  ASSERT_FALSE(result.problems.empty());
  EXPECT_NE(result.problems[0].what.find(L"schpp.dic.orvex-old is in the way"), std::wstring::npos);
  EXPECT_EQ(Contents(), before);

  fs::remove(dir_.path() + L"schpp.dic.orvex-old");
  // A staged file's name that another program holds makes its target a file in use, named.
  Put(L"schpp.dic.orvex-new", "kept open by someone");
  {
    UniqueHandle held = Hold(L"schpp.dic.orvex-new");
    result = Install();
  }
  EXPECT_EQ(result.outcome, Outcome::kInUse);
  ASSERT_FALSE(result.problems.empty());
  EXPECT_EQ(result.held_file, dir_.path() + L"schpp.dic.orvex-new");
  EXPECT_NE(result.problems[0].what.find(L"schpp.dic.orvex-new is still held by another program"),
            std::wstring::npos);
  // Found by the run, not said by the system: the removal's own code stays with its warning.
  EXPECT_EQ(result.problems[0].code, static_cast<DWORD>(ERROR_SUCCESS));

  result = Install();
  EXPECT_EQ(result.outcome, Outcome::kInstalled);
  EXPECT_TRUE(result.problems.empty());
  EXPECT_EQ(Contents(), expected);
}

// A file in use whose replacement at the restart cannot be recorded for want of disk space:
// nothing changes, and the status is that of a full disk, not of a file in use, so that a
// deployment tool reports it rather than retrying and a person is told to free space.
TEST_F(InstallTest, AFullDiskWhileSchedulingTheRestartIsAFullDisk) {
  const std::wstring folder = FixtureFolder(L"full-disk");
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr) || free.QuadPart > 4 << 20)
    GTEST_SKIP() << "needs a small tmpfs mounted on " << Utf8(folder) << " (root and mount)";
  const FolderContents before = Snapshot(folder);
  // One page left: enough for the one small file staged, none for the record of the schedule.
  WriteBytes(folder + L"filler", std::string(free.QuadPart - 4096, 'x'));
  Catalogue catalogue;  // schparam.dic alone, which the fixture holds an older copy of
  for (const PayloadEntry& entry : BuildCatalogue())
    if (entry.file_name == L"schparam.dic") catalogue.push_back(entry);
  InstallReport result;
  {
    UniqueHandle held(CreateFileW((folder + L"schparam.dic").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    result = InstallPayloads(folder, catalogue, GetModuleHandleW(nullptr), settings_);
  }
  fs::remove(folder + L"filler");
  EXPECT_EQ(result.outcome, Outcome::kDiskFull);
  ASSERT_EQ(result.problems.size(), 2u);
  EXPECT_EQ(OutcomeOfError({result.problems[0].code}), Outcome::kInUse);
  EXPECT_EQ(Snapshot(folder), before);
}

// A disk that fills part-way through a staged file: the system says the write succeeded, with
// fewer bytes written. That is a full disk, and the run is undone.
TEST_F(InstallTest, AShortWriteOnAFullDiskIsAFullDisk) {
  const std::wstring folder = FixtureFolder(L"full-disk");
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr) || free.QuadPart > 4 << 20)
    GTEST_SKIP() << "needs a small tmpfs mounted on " << Utf8(folder) << " (root and mount)";
  // The lock file keeps the page an earlier run's empty record took, so that the staged file is
  // the only write the full disk cuts short.
  WriteBytes(folder + kLockFileName, std::string("\n", 2));
  const FolderContents before = Snapshot(folder);
  GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr);
  WriteBytes(folder + L"filler", std::string(free.QuadPart - (64 << 10), 'x'));
  Catalogue catalogue;  // schlang.dic alone, more than the space left
  for (const PayloadEntry& entry : BuildCatalogue())
    if (entry.file_name == L"schlang.dic") catalogue.push_back(entry);
  const InstallReport result =
      InstallPayloads(folder, catalogue, GetModuleHandleW(nullptr), settings_);
  fs::remove(folder + L"filler");
  EXPECT_EQ(ExitCodeOf(result.outcome), 5);
  EXPECT_EQ(Snapshot(folder), before);
  fs::remove(folder + kLockFileName);
}

// Deduplicated, system-compressed and cloud placeholder files carry reparse points too, and
// must install like any file; only name surrogates lead elsewhere.
TEST(ReparsePointTest, OnlyNameSurrogatesAreLinks) {
  constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;
  constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  // Symbolic link, junction or mount point, and a WSL symbolic link.
  for (DWORD tag : {0xA000000Cu, 0xA0000003u, 0xA000001Du}) {
    EXPECT_EQ(KindOfAttributes(kFile, tag), EntryKind::kLink) << std::hex << tag;
    EXPECT_EQ(KindOfAttributes(kFolder, tag), EntryKind::kLink) << std::hex << tag;
  }
  // Deduplication, WOF compression, a cloud files placeholder, HSM: read through the filter.
  for (DWORD tag : {0x80000013u, 0x80000017u, 0x9000601Au, 0xC0000004u}) {
    EXPECT_EQ(KindOfAttributes(kFile, tag), EntryKind::kFile) << std::hex << tag;
    EXPECT_EQ(KindOfAttributes(kFolder, tag), EntryKind::kFolder) << std::hex << tag;
    EXPECT_TRUE(BehindAFilter(kFile, tag)) << std::hex << tag;
  }
  EXPECT_EQ(KindOfAttributes(FILE_ATTRIBUTE_NORMAL, 0), EntryKind::kFile);
  EXPECT_FALSE(BehindAFilter(FILE_ATTRIBUTE_NORMAL, 0));
  EXPECT_FALSE(BehindAFilter(kFile, 0xA000000Cu));
}

// The working files of a run stopped part-way, planted as that run would have left them.
// "Before" is the folder as it was when that run started.
class InterruptedRunTest : public InstallTest {
 protected:
  void SetUp() override {
    Put(L"eng.ilex", "old lexicon");
    Put(L"schclas.dic", "old classes");
    Put(L"schpp.dic", "old post-processing");
    Put(L"notes.txt", "mine");
    before_ = Contents();
  }
  void PutNew(const std::wstring& name, const std::wstring& as) {
    Put(as, ExpectedPayloads().at(name));
  }
  // What a run records in the lock file before it replaces the first target, or before it
  // schedules the replacement for the next restart.
  void PutRecord(const std::wstring& first_line = L"") {
    std::wstring record = first_line;
    for (const PayloadEntry& entry : BuildCatalogue()) record += entry.file_name + L"\n";
    Put(kLockFileName,
        std::string(reinterpret_cast<const char*>(record.data()), record.size() * sizeof(wchar_t)));
  }
  // A failing run shows which way the leftovers were resolved: it undoes only its own work.
  FolderContents ResolveThenFail() {
    {
      UniqueHandle held = Hold(L"notes.txt");  // not a target: it must not matter
      UniqueHandle held_target = Hold(L"schpp.dic");
      const InstallReport result = Install();
      EXPECT_EQ(result.outcome, Outcome::kInUse);
      EXPECT_TRUE(result.restored);
    }
    return Contents();
  }
  FolderContents before_;
};

TEST_F(InterruptedRunTest, StoppedWhileStagingIsUndone) {
  Put(L"eng.ilex.orvex-new", ExpectedPayloads().at(L"eng.ilex"));
  Put(L"latin.ocr.orvex-new", "half a fi");
  Put(kLockFileName, "");
  EXPECT_EQ(ResolveThenFail(), before_);
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  FolderContents expected = ExpectedPayloads();
  expected[L"notes.txt"] = "mine";
  EXPECT_EQ(Contents(), expected);
}

TEST_F(InterruptedRunTest, StoppedWhileReplacingIsUndone) {
  // eng.ilex and latin.ocr were replaced (latin.ocr did not exist); schclas.dic was moved
  // aside but the new one not yet moved in; the rest are still staged.
  PutRecord();
  fs::rename(dir_.path() + L"eng.ilex", dir_.path() + L"eng.ilex.orvex-old");
  PutNew(L"eng.ilex", L"eng.ilex");
  Put(L"latin.ocr.orvex-none", "");
  PutNew(L"latin.ocr", L"latin.ocr");
  fs::rename(dir_.path() + L"schclas.dic", dir_.path() + L"schclas.dic.orvex-old");
  for (const wchar_t* name : {L"schclas.dic", L"schlang.dic", L"schparam.dic", L"schpp.dic"})
    PutNew(name, std::wstring(name) + L".orvex-new");
  EXPECT_EQ(ResolveThenFail(), before_);
}

// A record naming files other than the targets (planted, or left by another build) is acted on
// for the targets alone: nothing else, in the folder or outside it, is moved, removed or put back.
TEST_F(InterruptedRunTest, ARecordNamingOtherFilesTouchesNothingButTheTargets) {
  const std::wstring outside = dir_.path() + L"..\\";
  WriteBytes(outside + L"victim", "outside the folder");
  WriteBytes(outside + L"victim.orvex-none", "");
  Put(L"notes.txt.orvex-old", "older notes");
  Put(L"chi_tra.ocr", "another build's");
  Put(L"chi_tra.ocr.orvex-none", "");
  const std::wstring record = L"notes.txt\nchi_tra.ocr\n..\\victim\n";
  Put(kLockFileName,
      std::string(reinterpret_cast<const char*>(record.data()), record.size() * sizeof(wchar_t)));
  FolderContents expected = Contents();
  expected.erase(kLockFileName);
  for (const auto& [name, bytes] : ExpectedPayloads()) expected[name] = bytes;
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  EXPECT_EQ(Contents(), expected);
  EXPECT_EQ(ReadBytes(outside + L"victim"), "outside the folder");
  EXPECT_TRUE(fs::exists(outside + L"victim.orvex-none"));
}

TEST_F(InterruptedRunTest, StoppedBeforeItsRestartWasScheduledIsCleared) {
  PutRecord(L"<next restart>\n");
  for (const PayloadEntry& entry : BuildCatalogue())
    PutNew(entry.file_name, entry.file_name + L".orvex-new");
  EXPECT_EQ(ResolveThenFail(), before_);
}

TEST_F(InterruptedRunTest, StoppedWhileCleaningUpIsFinished) {
  // Every target was replaced and the record cleared; some backups and markers were still to
  // be removed.
  fs::rename(dir_.path() + L"schpp.dic", dir_.path() + L"schpp.dic.orvex-old");
  Put(L"latin.ocr.orvex-none", "");
  Put(kLockFileName, "");
  for (const PayloadEntry& entry : BuildCatalogue()) PutNew(entry.file_name, entry.file_name);
  FolderContents finished = ExpectedPayloads();
  finished[L"notes.txt"] = "mine";
  EXPECT_EQ(ResolveThenFail(), finished);
}

// The host keeps one of its files open all day. The first run stages the new set and schedules
// it for the next restart; runs before the restart leave that alone, or install at once when
// the host has let go, which leaves the restart nothing to do. The host is on C:, but recorded
// through another name of its folder (Wine's Z: view of the prefix, as a SUBST or mapped drive
// letter would be on Windows, gone at boot): the restart must reach it by its own. Wine carries
// out the renames scheduled for a restart when one is simulated (wineboot -r).
class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearScheduledRenames();
    for (const wchar_t* name : {L"eng.ilex", L"latin.ocr", L"schpp.dic"})
      WriteBytes(Resources() + name, "older");
    WriteBytes(Resources() + L"readme.txt", "not ours");
    before_ = Snapshot(Resources());
    installed_ = ExpectedPayloads();
    installed_[L"readme.txt"] = "not ours";
  }
  void TearDown() override { ClearScheduledRenames(); }

  std::wstring Resources() const { return host_.path(); }
  // The folder as the run is told it.
  std::wstring Shown() const {
    return TestPath("WINEPREFIX") + L"\\drive_c" + host_.path().substr(2);
  }
  InstallReport Install() {
    return InstallPayloads(Shown(), BuildCatalogue(), GetModuleHandleW(nullptr), settings_);
  }
  static std::wstring ScheduledRenames() {
    return RegistryData(HKEY_LOCAL_MACHINE, PendingRenames().key, PendingRenames().name);
  }
  static void ScheduleRemovals(const std::wstring& removals) {
    SetRegistryValue(HKEY_LOCAL_MACHINE, PendingRenames().key, KEY_WOW64_64KEY,
                     PendingRenames().name, REG_MULTI_SZ, removals.c_str(),
                     static_cast<DWORD>((removals.size() + 1) * sizeof(wchar_t)));
  }
  static void ClearScheduledRenames() {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PendingRenames().key, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      key.put()) == ERROR_SUCCESS)
      RegDeleteValueW(key.get(), PendingRenames().name);
  }
  static void Restart() {
    std::wstring command = L"wineboot.exe -r";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    CloseHandle(info.hThread);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 60'000), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
  }
  // Runs while the host reads latin.ocr, as an application does: the run must wait for the
  // restart. Returns the folder as that run left it.
  FolderContents RunWhileTheHostRuns() {
    UniqueHandle host(CreateFileW((Resources() + L"latin.ocr").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    EXPECT_TRUE(host);
    const InstallReport report = Install();
    EXPECT_EQ(report.outcome, Outcome::kScheduled);
    EXPECT_EQ(report.held_file, Shown() + L"latin.ocr");
    // Scheduled once, however often a run schedules it.
    const std::wstring scheduled = ScheduledRenames();
    const std::wstring rename = L"\\??\\" + Resources() + L"latin.ocr.orvex-new";
    EXPECT_NE(scheduled.find(rename), std::wstring::npos);
    EXPECT_EQ(scheduled.find(rename, scheduled.find(rename) + 1), std::wstring::npos);
    // Until the restart the old set stands; the new one waits beside it.
    FolderContents folder = Snapshot(Resources());
    for (const auto& [name, bytes] : before_) EXPECT_TRUE(folder[name] == bytes) << Utf8(name);
    for (const auto& [name, bytes] : ExpectedPayloads())
      EXPECT_TRUE(folder[name + L".orvex-new"] == bytes) << Utf8(name);
    return folder;
  }

  ScratchDir host_{L"Orvex Pro\\IRIS_OCR\\resources", L"C:\\"};
  InstallSettings settings_{kLockWaitMilliseconds, 200, PendingRenames()};
  FolderContents before_;
  FolderContents installed_;
};

// The restart carries out its list by name: removals of the working names that earlier runs
// scheduled (of old copies that were held, say) must not take away the new set.
TEST_F(RestartTest, AFileKeptInUseIsReplacedWithTheRestAtTheNextRestart) {
  std::wstring removals;
  for (const std::wstring& name : WorkingNames(BuildCatalogue()))
    removals += L"\\??\\" + Resources() + name + L'\0' + L'\0';
  ScheduleRemovals(removals);
  const FolderContents waiting = RunWhileTheHostRuns();
  EXPECT_EQ(RunWhileTheHostRuns(), waiting);

  Restart();
  FolderContents restarted = Snapshot(Resources());
  for (const auto& [name, bytes] : installed_) EXPECT_TRUE(restarted[name] == bytes) << Utf8(name);
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  EXPECT_EQ(Snapshot(Resources()), installed_);
}

TEST_F(RestartTest, ARunAfterTheHostLetGoInstallsAtOnceAndTheRestartChangesNothing) {
  RunWhileTheHostRuns();
  // One that cannot plan meanwhile (a read-only target) says the folder is unchanged: so the
  // schedule goes too, and the restart keeps it so.
  SetFileAttributesW((Resources() + L"eng.ilex").c_str(), FILE_ATTRIBUTE_READONLY);
  const InstallReport refused = Install();
  SetFileAttributesW((Resources() + L"eng.ilex").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(refused.outcome, Outcome::kRefused);
  EXPECT_TRUE(refused.restored);
  EXPECT_EQ(ScheduledRenames().find(L".orvex-new"), std::wstring::npos);
  EXPECT_TRUE(Snapshot(Resources()) == before_);
  EXPECT_EQ(Install().outcome, Outcome::kInstalled);
  EXPECT_EQ(Snapshot(Resources()), installed_);

  // A later run stopped while staging leaves part of a file where the schedule took its
  // latin.ocr from; the restart must not put it in place.
  WriteBytes(Resources() + L"latin.ocr.orvex-new", "half a fi");
  Restart();
  installed_[L"latin.ocr.orvex-new"] = "half a fi";
  EXPECT_EQ(Snapshot(Resources()), installed_);
}

// An earlier run's schedule stands only while its staged files hold this installer's payloads
// for exactly the targets that differ. Otherwise, the host still running, the run cancels it
// and schedules afresh: exactly the targets that differ wait, each with its payload.
TEST_F(RestartTest, AScheduleThatNoLongerFitsIsMadeAfresh) {
  const std::string lexicon = ExpectedPayloads().at(L"schlang.dic");
  struct Row {
    const char* what;
    const wchar_t* file;
    std::string first;  // what it holds before the first run, if anything
    std::string then;   // what it holds before the second
  };
  const Row rows[] = {{"staged by another build", L"eng.ilex.orvex-new", "", "another lexicon"},
                      {"a staged file damaged", L"schpp.dic.orvex-new", "", "half a fi"},
                      {"one target too many", L"schlang.dic", "", lexicon},
                      {"one target too few", L"schlang.dic", lexicon, "older"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ClearScheduledRenames();
    for (const auto& [name, bytes] : Snapshot(Resources())) fs::remove(Resources() + name);
    for (const auto& [name, bytes] : before_) WriteBytes(Resources() + name, bytes);
    if (!row.first.empty()) WriteBytes(Resources() + row.file, row.first);
    const UniqueHandle host(CreateFileW((Resources() + L"latin.ocr").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    EXPECT_EQ(Install().outcome, Outcome::kScheduled);
    WriteBytes(Resources() + row.file, row.then);
    EXPECT_EQ(Install().outcome, Outcome::kScheduled);
    const FolderContents folder = Snapshot(Resources());
    for (const auto& [name, bytes] : ExpectedPayloads()) {
      const auto target = folder.find(name);
      const auto staged = folder.find(name + L".orvex-new");
      if (target != folder.end() && target->second == bytes)
        EXPECT_TRUE(staged == folder.end()) << Utf8(name) << " is staged, yet holds its payload";
      else
        EXPECT_TRUE(staged != folder.end() && staged->second == bytes) << Utf8(name);
    }
  }
}

// The host keeps its old schpp.dic open, sharing deletion, or only maps it, as programs that
// read large dictionaries do: the update moves it aside, but its old copy cannot go while the
// host runs. Neither that update nor the next one, which needs the old copy's name, may fail.
TEST_F(RestartTest, AnOldCopyTheHostKeepsOpenOrMappedNeverWedgesLaterUpdates) {
  const std::wstring old_copy = Resources() + L"schpp.dic.orvex-old";
  const auto said = [](const InstallReport& report, const std::wstring& text) {
    for (const Failure& problem : report.problems)
      if (problem.what.find(text) != std::wstring::npos) return true;
    return false;
  };
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "open");
    WriteBytes(Resources() + L"schpp.dic", "older");
    UniqueHandle host(CreateFileW((Resources() + L"schpp.dic").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    UniqueHandle mapping(
        mapped ? CreateFileMappingW(host.get(), nullptr, PAGE_READONLY, 0, 0, nullptr) : nullptr);
    const void* view = mapped ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (mapped) host.reset();
    InstallReport report = Install();
    EXPECT_EQ(report.outcome, Outcome::kInstalled);
    EXPECT_TRUE(said(report, Shown() + L"schpp.dic.orvex-old will be removed at the next"));
    EXPECT_NE(ScheduledRenames().find(L"\\??\\" + old_copy + L'\0' + L'\0'), std::wstring::npos);

    // A later update that has to change schpp.dic again: in use, so at the next restart.
    WriteBytes(Resources() + L"schpp.dic", "a later version's dictionary");
    report = Install();
    EXPECT_EQ(report.outcome, Outcome::kScheduled);
    EXPECT_TRUE(said(report, Shown() + L"schpp.dic.orvex-old is still held"));
    // Its removal comes first: the restart must not remove a file it has just put in place.
    const std::wstring list = ScheduledRenames();
    EXPECT_LT(list.find(L"\\??\\" + old_copy + L'\0' + L'\0'), list.find(L".orvex-new"));
    EXPECT_EQ(ReadBytes(Resources() + L"schpp.dic"), "a later version's dictionary");

    if (view) UnmapViewOfFile(view);
    mapping.reset();
    host.reset();
    Restart();
    report = Install();
    EXPECT_EQ(report.outcome, Outcome::kInstalled);
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(Snapshot(Resources()), installed_);
  }
}

}  // namespace
