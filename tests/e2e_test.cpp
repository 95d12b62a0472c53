// The installer program itself, run as a separate process with the registry set per case.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "host/locator.h"
#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/patience.h"
#include "installer/working_names.h"
#include "support.h"

namespace {

// How the installer's process ended, and what it wrote.
struct ProcessEnd {
  DWORD exit_code = 0;
  std::string out;
  std::string err;
};

// The limited half of this process's administrator token, which a double-click under UAC
// starts a program with; Wine's processes otherwise hold the full one.
UniqueHandle LimitedToken() {
  UniqueHandle self;
  UniqueHandle limited;
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, self.put()) &&
      GetTokenInformation(self.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                     TokenPrimary, limited.put());
    CloseHandle(linked.LinkedToken);
  }
  return limited;
}

class InstallerProcess {
 public:
  explicit InstallerProcess(const std::wstring& arguments = L"",
                            const std::wstring& exe = TestPath("ORVEX_TEST_INSTALLER"),
                            HANDLE token = nullptr) {
    const std::wstring work = TestPath("ORVEX_TEST_WORK");
    static int started = 0;
    const std::wstring id =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++started);
    out_path_ = work + L"\\stdout-" + id;
    err_path_ = work + L"\\stderr-" + id;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle out(CreateFileW(out_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr));
    UniqueHandle err(CreateFileW(err_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!CreateProcessAsUserW(token, exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                              nullptr, nullptr, &startup, &info)) {
      throw std::runtime_error("cannot start the installer: " + std::to_string(GetLastError()));
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
  }

  void Kill() { TerminateProcess(process_.get(), 99); }
  bool HasEnded(DWORD wait_ms) {
    return WaitForSingleObject(process_.get(), wait_ms) == WAIT_OBJECT_0;
  }

  ProcessEnd Wait() {
    EXPECT_EQ(WaitForSingleObject(process_.get(), 120'000), WAIT_OBJECT_0);
    ProcessEnd outcome;
    GetExitCodeProcess(process_.get(), &outcome.exit_code);
    outcome.out = ReadBytes(out_path_);
    outcome.err = ReadBytes(err_path_);
    return outcome;
  }

 private:
  UniqueHandle process_;
  std::wstring out_path_;
  std::wstring err_path_;
};

ProcessEnd RunInstaller(const std::wstring& arguments = L"") {
  return InstallerProcess(arguments).Wait();
}

const std::string kCompleted = "installation has been completed\r\n";
const std::string kNotInstalled = "Orvex Pro is not installed\r\n";

// What a person reads in a window, in the language of this process's display, which under Wine
// its LANG decides: the double-click runs once as it is and once in each Chinese
// (tests/CMakeLists.txt), the other lines' languages are checked by tests/guidance_test.cpp.
// The lines scripts and logs read stay as they are in every language.
struct PersonTexts {
  const wchar_t* prompt;
  const wchar_t* closes;  // the end of every prompt before the window closes
};

// Chinese only where the console's code page (a new console's is the system's OEM one) is of
// the display's script.
const PersonTexts& Expected() {
  static const PersonTexts kEnglish{L"Press any key to close this window.",
                                    L"closes by itself in 5 minutes."};
  static const PersonTexts kSimplified{L"按任意键关闭此窗口。", L"分钟后自动关闭。"};
  static const PersonTexts kTraditional{L"按任意鍵關閉此視窗。", L"分鐘後自動關閉。"};
  const LANGID display = GetUserDefaultUILanguage();
  const UINT page = GetOEMCP();
  if (display == 0x0804 && page == 936) return kSimplified;
  if (display == 0x0404 && page == 950) return kTraditional;
  return kEnglish;
}

// False where this process was meant to show Chinese and shows English: the locale it names
// could not be made (tests/locales.sh).
bool InTheLanguageMeant() {
  wchar_t meant[64] = {};
  if (!GetEnvironmentVariableW(L"LC_MESSAGES", meant, 64))
    GetEnvironmentVariableW(L"LANG", meant, 64);
  return meant[0] != L'z' || PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRegistryKeyEverywhere(kHostSettingsKey); }
  void TearDown() override {
    DeleteRegistryKeyEverywhere(kHostSettingsKey);
    ClearScheduledRenames();
  }
  static void RecordHost(const std::wstring& directory, REGSAM view = KEY_WOW64_64KEY,
                         DWORD type = REG_SZ) {
    SetRegistryString(HKEY_LOCAL_MACHINE, kHostSettingsKey, view, L"installpath", directory, type);
  }
  // The system's list of renames and removals for the next restart, NULs as they are.
  static std::wstring ScheduledRenames() {
    return RegistryData(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  }
  static void ClearScheduledRenames() {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      key.put()) == ERROR_SUCCESS)
      RegDeleteValueW(key.get(), L"PendingFileRenameOperations");
  }
  static constexpr wchar_t kSessionManager[] =
      L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  // A failure, said in lines naming `file`, then the line that says the folder is unchanged,
  // then what to do next where there is something: a line holding `next_step`.
  static void ExpectFailure(const ProcessEnd& outcome, DWORD exit_code, const std::wstring& folder,
                            const std::wstring& file, const char* next_step = nullptr) {
    EXPECT_EQ(outcome.exit_code, exit_code);
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find(Utf8(file)), std::string::npos) << outcome.err;
    const std::string failed = Utf8(L"installation failed; " + folder + L" was left unchanged\r\n");
    const size_t at = outcome.err.find(failed);
    ASSERT_NE(at, std::string::npos) << outcome.err;
    const std::string after = outcome.err.substr(at + failed.size());
    if (next_step == nullptr) {
      EXPECT_EQ(after, "");
    } else {
      EXPECT_NE(after.find(next_step), std::string::npos) << outcome.err;
      EXPECT_EQ(after.find("\r\n"), after.size() - 2) << outcome.err;
    }
  }
};

class HostInstalledTest : public InstallerTest {
 protected:
  std::wstring Host() const { return host_.root() + L"Orvex Pro\\"; }
  std::wstring Resources() const { return host_.path(); }
  std::wstring Transcript() const { return host_.root() + L"transcript"; }
  // Starts the installer through tests/explorer.cpp (its console build with `console`), copied
  // as `shell`, in `mode`, pressing `keys` in a person's window once `sign`, a file in the
  // folder the run makes, is there; the installer's exit status.
  DWORD FromExplorer(const wchar_t* shell, const wchar_t* mode, const std::wstring& keys = L"\r",
                     const wchar_t* sign = L"eng.ilex", bool console = false) {
    const std::wstring exe = host_.root() + shell;
    CopyFileW(TestPath(console ? "ORVEX_TEST_CONSOLE_PARENT" : "ORVEX_TEST_EXPLORER").c_str(),
              exe.c_str(), FALSE);
    return InstallerProcess(std::wstring(mode) + L" \"" + TestPath("ORVEX_TEST_INSTALLER") +
                                L"\" \"" + Resources() + sign + L"\" \"" + Expected().closes +
                                L"\" \"" + Transcript() + L"\" " + keys,
                            exe)
        .Wait()
        .exit_code;
  }

  ScratchDir host_{L"Orvex Pro\\IRIS_OCR\\resources"};
};

TEST_F(InstallerTest, HostNotRecordedWritesNothing) {
  ScratchDir host(L"Orvex Pro\\IRIS_OCR\\resources");
  SetRegistryString(HKEY_CURRENT_USER, kHostSettingsKey, KEY_WOW64_64KEY, L"installpath",
                    host.root() + L"Orvex Pro\\");

  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.out, kNotInstalled);
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(Snapshot(host.path()).empty());
}

TEST_F(InstallerTest, EmptyRecordInSixtyFourBitViewMeansNotInstalled) {
  ScratchDir host(L"Orvex Pro\\IRIS_OCR\\resources");
  RecordHost(L"", KEY_WOW64_64KEY);
  RecordHost(host.root() + L"Orvex Pro\\", KEY_WOW64_32KEY);
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.out, kNotInstalled);
  EXPECT_TRUE(Snapshot(host.path()).empty());
}

TEST_F(HostInstalledTest, InstallsEveryPayloadAndSaysSo) {
  RecordHost(Host());
  ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, kCompleted);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());

  // Again over the installed files, with arguments that must change nothing.
  WriteBytes(Resources() + L"schpp.dic", "damaged");
  outcome = RunInstaller(L"/uninstall --force C:\\elsewhere");
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, kCompleted);
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
}

TEST_F(HostInstalledTest, FindsAHostRecordedOnlyInTheThirtyTwoBitView) {
  RecordHost(Host(), KEY_WOW64_32KEY);
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, kCompleted);
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
}

TEST_F(HostInstalledTest, InstallPathWithoutTrailingBackslash) {
  std::wstring host = Host();
  host.pop_back();
  RecordHost(host);
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
}

TEST_F(InstallerTest, NonAsciiInstallPath) {
  ScratchDir host(L"Orvex 专业版\\IRIS_OCR\\resources");
  RecordHost(host.root() + L"Orvex 专业版\\");
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, kCompleted);
  EXPECT_EQ(Snapshot(host.path()), ExpectedPayloads());
}

TEST_F(InstallerTest, MissingResourceFolderFailsAndCreatesNothing) {
  ScratchDir host(L"Orvex 专业版");
  RecordHost(host.path());
  const std::wstring folder = host.path() + kOcrResourceSubdir;
  const ProcessEnd outcome = RunInstaller();
  ExpectFailure(outcome, 2, folder, folder);
  EXPECT_FALSE(fs::exists(host.path() + L"IRIS_OCR"));
}

TEST_F(HostInstalledTest, ScannersHoldingNewFilesForAMomentAreWaitedOut) {
  RecordHost(Host());
  for (int round = 0; round < 3; ++round) {
    for (const auto& [name, bytes] : ExpectedPayloads()) WriteBytes(Resources() + name, "older");
    for (bool fresh : {false, true}) {
      ProcessEnd outcome;
      {
        Scanner scanner(Resources());
        outcome = RunInstaller();
      }
      EXPECT_EQ(outcome.exit_code, 0u) << (fresh ? "fresh: " : "update: ") << outcome.err;
      EXPECT_EQ(outcome.out, kCompleted);
      EXPECT_EQ(outcome.err, "");
      EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
      for (const auto& [name, bytes] : ExpectedPayloads()) fs::remove(Resources() + name);
    }
  }
}

// The host keeps one of its files open all day: the run stages the new set and has it replaced
// at the next restart, and says so; once the host has let go, the next run installs at once and
// takes the renames back. The host is on C:, but recorded through another name of its folder
// (Wine's Z: view of the prefix, as a SUBST or mapped drive letter would be on Windows, gone at
// boot): the renames name it by its own. tests/install_test.cpp follows the restart itself.
TEST_F(InstallerTest, AFileKeptInUseIsReplacedAtTheNextRestartOrOnceLetGo) {
  ScratchDir host(L"Orvex Pro\\IRIS_OCR\\resources", L"C:\\");
  const std::wstring resources = host.path();
  const std::wstring shown = TestPath("WINEPREFIX") + L"\\drive_c" + resources.substr(2);
  RecordHost(shown.substr(0, shown.size() - wcslen(kOcrResourceSubdir)));
  WriteBytes(resources + L"latin.ocr", "older");
  const FolderContents before = Snapshot(resources);
  {
    UniqueHandle reading(CreateFileW((resources + L"latin.ocr").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    ASSERT_TRUE(reading);
    const ULONGLONG start = GetTickCount64();
    const ProcessEnd outcome = RunInstaller();
    // The README's bound on what waiting for holders may add to a run.
    EXPECT_LT(GetTickCount64() - start, 10'000u);
    EXPECT_EQ(outcome.exit_code, 3010u) << outcome.err;
    EXPECT_EQ(outcome.out, "installation will be completed when the computer restarts\r\n");
    EXPECT_NE(outcome.err.find(Utf8(L"could not replace " + shown + L"latin.ocr")),
              std::string::npos);
    EXPECT_NE(outcome.err.find("Restart the computer to finish"), std::string::npos);
    EXPECT_EQ(outcome.err.find("press R"), std::string::npos);  // nobody to press it
    EXPECT_NE(ScheduledRenames().find(L"\\??\\" + resources + L"latin.ocr.orvex-new"),
              std::wstring::npos);
    FolderContents folder = Snapshot(resources);
    EXPECT_EQ(folder[L"latin.ocr"], before.at(L"latin.ocr"));
    for (const auto& [name, bytes] : ExpectedPayloads())
      EXPECT_TRUE(folder[name + L".orvex-new"] == bytes) << Utf8(name);
  }
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_EQ(outcome.out, kCompleted);
  EXPECT_EQ(Snapshot(resources), ExpectedPayloads());
  EXPECT_EQ(ScheduledRenames().find(resources), std::wstring::npos);
}

// Hard links planted under the lock file's name, a working file's and a target's, each to a
// file outside the folder, as someone who may write the folder could plant them for an
// installer run with more rights: only their names in the folder may change.
TEST_F(HostInstalledTest, HardLinksUnderItsNamesNeverLeadOutOfTheFolder) {
  RecordHost(Host());
  const std::wstring outside = host_.root();
  const std::pair<const wchar_t*, const wchar_t*> links[] = {
      {kLockFileName, L"lock victim"},
      {L"schclas.dic.orvex-new", L"working file victim"},
      {L"eng.ilex", L"target victim"},
      {L"latin.ocr.orvex-old", L"read-only victim"}};
  FolderContents victims;
  for (const auto& [name, victim] : links) {
    WriteBytes(outside + victim, "a file outside the folder, linked as " + Utf8(name));
    victims[victim] = ReadBytes(outside + victim);
    ASSERT_TRUE(CreateHardLinkW((Resources() + name).c_str(), (outside + victim).c_str(), nullptr));
  }
  SetFileAttributesW((outside + L"read-only victim").c_str(), FILE_ATTRIBUTE_READONLY);

  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_EQ(outcome.out, kCompleted);
  FolderContents folder = Snapshot(Resources());
  // A read-only file is only unlinked where the system can do that without changing it.
  if (folder.erase(L"latin.ocr.orvex-old") == 1) {
    EXPECT_NE(outcome.err.find("latin.ocr.orvex-old is read-only"), std::string::npos);
  }
  EXPECT_EQ(folder, ExpectedPayloads());
  for (const auto& [name, bytes] : victims) EXPECT_EQ(ReadBytes(outside + name), bytes);
  EXPECT_EQ(GetFileAttributesW((outside + L"read-only victim").c_str()) & FILE_ATTRIBUTE_READONLY,
            DWORD{FILE_ATTRIBUTE_READONLY});
  SetFileAttributesW((outside + L"read-only victim").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A 64-bit host records "%ProgramFiles%" meaning the 64-bit Program Files, a 32-bit host the
// 32-bit one, whatever the installer's own bitness (the release is 32-bit; where 32-bit programs
// cannot run, the tests run a 64-bit build). The other Program Files holds a decoy host folder.
TEST_F(InstallerTest, ProgramFilesInAnExpandableRecordIsThatOfTheHostsBitness) {
  const std::wstring leaf = L"Orvex Test " + std::to_wstring(GetCurrentProcessId());
  const std::pair<REGSAM, const wchar_t*> cases[] = {{KEY_WOW64_64KEY, L"%ProgramW6432%"},
                                                     {KEY_WOW64_32KEY, L"%ProgramFiles(x86)%"}};
  std::wstring folders[2];
  for (int i = 0; i < 2; ++i) {
    wchar_t expanded[MAX_PATH];
    ASSERT_NE(ExpandEnvironmentStringsW(cases[i].second, expanded, MAX_PATH), 0u);
    folders[i] = std::wstring(expanded) + L"\\" + leaf + L"\\" + kOcrResourceSubdir;
    fs::create_directories(folders[i]);
  }
  for (int i = 0; i < 2; ++i) {
    DeleteRegistryKeyEverywhere(kHostSettingsKey);
    RecordHost(L"%ProgramFiles%\\" + leaf + L"\\", cases[i].first, REG_EXPAND_SZ);
    const ProcessEnd outcome = RunInstaller();
    EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
    EXPECT_EQ(Snapshot(folders[i]), ExpectedPayloads());
    EXPECT_TRUE(Snapshot(folders[1 - i]).empty());
    for (const auto& [name, bytes] : ExpectedPayloads()) fs::remove(folders[i] + name);
  }
  for (const std::wstring& folder : folders)
    fs::remove_all(folder.substr(0, folder.size() - wcslen(kOcrResourceSubdir)));
}

TEST_F(HostInstalledTest, RunsStoppedPartWayAreRecoveredByTheNextRun) {
  RecordHost(Host());
  WriteBytes(Resources() + L"eng.ilex", "old lexicon");
  WriteBytes(Resources() + L"readme.txt", "not ours");
  FolderContents installed = ExpectedPayloads();
  installed[L"readme.txt"] = "not ours";
  for (DWORD delay : {0, 10, 25, 50, 100, 200}) {
    InstallerProcess stopped;
    Sleep(delay);
    stopped.Kill();
    stopped.Wait();
    const ProcessEnd outcome = RunInstaller();
    EXPECT_EQ(outcome.exit_code, 0u) << "stopped after " << delay << " ms: " << outcome.err;
    EXPECT_EQ(Snapshot(Resources()), installed) << "stopped after " << delay << " ms";
  }
}

TEST_F(HostInstalledTest, DamagedCopyIsRefusedAndChangesNothing) {
  RecordHost(Host());
  WriteBytes(Resources() + L"latin.ocr", "old engine file");
  const FolderContents before = Snapshot(Resources());
  std::string image = ReadBytes(TestPath("ORVEX_TEST_INSTALLER"));
  const std::string payload = ExpectedPayloads().at(L"latin.ocr");
  const size_t at = image.find(payload.substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  image[at + payload.size() / 2] ^= 0x20;
  const std::wstring copy = host_.root() + L"damaged.exe";
  WriteBytes(copy, image);

  ExpectFailure(InstallerProcess(L"", copy).Wait(), 2, Resources(),
                L"this copy of the installer is damaged: its latin.ocr");
  EXPECT_EQ(Snapshot(Resources()), before);
}

TEST_F(HostInstalledTest, RunsStartedTogetherTakeTurnsAndBothSucceed) {
  RecordHost(Host());
  WriteBytes(Resources() + L"eng.ilex", "old lexicon");
  for (int round = 0; round < 3; ++round) {
    WriteBytes(Resources() + L"schpp.dic", "damaged");
    InstallerProcess first;
    InstallerProcess second;
    for (const ProcessEnd& outcome : {first.Wait(), second.Wait()}) {
      EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
      EXPECT_EQ(outcome.out, kCompleted);
    }
    EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
  }
}

TEST_F(HostInstalledTest, ARunWaitsWhileAnotherHoldsTheFolder) {
  RecordHost(Host());
  UniqueHandle other_run(CreateFileW((Resources() + kLockFileName).c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(other_run);
  InstallerProcess waiting;
  EXPECT_FALSE(waiting.HasEnded(1'000));
  EXPECT_FALSE(fs::exists(Resources() + L"eng.ilex.orvex-new"));
  other_run.reset();
  const ProcessEnd outcome = waiting.Wait();
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.err;
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
}

// A person double-clicks the installer, or opens it from a browser: a graphical program starts
// it with a console of its own, and the window stays until they have read it and pressed a key.
// Started in any other way, it never waits. tests/explorer.cpp stands in for those programs and
// the person.
TEST_F(HostInstalledTest, StartedFromExplorerTheWindowStaysUntilAKey) {
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    GTEST_SKIP() << "needs a display for console windows (Xvfb, see tests/wine-session.sh)";
  if (!InTheLanguageMeant()) GTEST_SKIP() << "needs the locale made by tests/locales.sh";
  RecordHost(Host());
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"person"), 0u);
  const std::string shown = ReadBytes(Transcript());
  EXPECT_NE(shown.find("installation has been completed\n" + Utf8(Expected().prompt)),
            std::string::npos)
      << shown;
  EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());

  // Opened from a browser's download list, as from Explorer (once more, so that the window is
  // read only once the run has decided).
  fs::remove(Resources() + L"eng.ilex");
  EXPECT_EQ(FromExplorer(L"msedge.exe", L"person"), 0u);
  EXPECT_NE(ReadBytes(Transcript()).find(Utf8(Expected().prompt)), std::string::npos);
  // Nobody waits at a console parent's window, a task engine's, winget's, one started with an
  // argument, a hidden one, one with no window at all, a shared or a redirected one.
  EXPECT_EQ(FromExplorer(L"cmd.exe", L"alone", L"", L"eng.ilex", true), 0u);
  EXPECT_EQ(FromExplorer(L"taskeng.exe", L"alone"), 0u);
  EXPECT_EQ(FromExplorer(L"WindowsPackageManagerServer.exe", L"alone"), 0u);
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"argument"), 0u);
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"hidden"), 0u);
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"nowindow"), 0u);
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"shared"), 0u);
  EXPECT_EQ(FromExplorer(L"explorer.exe", L"redirected"), 0u);
  EXPECT_EQ(ReadBytes(Transcript()), kCompleted);
}

// A file another program keeps: the line that says so names the program where Windows can
// tell, and the next step says to close it. The Restart Manager is only ever loaded from the
// system folder.
TEST_F(HostInstalledTest, AFileInUseNamesWhoHoldsItWhereWindowsCanTell) {
  RecordHost(Host());
  WriteBytes(Resources() + L"eng.ilex", "old lexicon");
  WriteBytes(Resources() + L"eng.ilex.orvex-new", "a working file someone keeps open");
  const UniqueHandle held(CreateFileW((Resources() + L"eng.ilex.orvex-new").c_str(), GENERIC_READ,
                                      0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const std::wstring line = Resources() + L"eng.ilex.orvex-new is still held by another program";
  const StandInRestartManager restart_manager;
  const std::wstring pid = std::to_wstring(GetCurrentProcessId());
  SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", (L"Orvex Pro|" + pid).c_str());
  // A copy of the installer with someone else's Restart Manager beside it.
  const std::wstring copy = host_.root() + L"OrvexProChineseOCR.exe";
  CopyFileW(TestPath("ORVEX_TEST_INSTALLER").c_str(), copy.c_str(), FALSE);
  CopyFileW(TestPath("ORVEX_TEST_RESTART_MANAGER").c_str(),
            (host_.root() + L"rstrtmgr.dll").c_str(), FALSE);
  const ProcessEnd outcome = InstallerProcess(L"", copy).Wait();
  SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", nullptr);
  // The run found it held; the system gave no reason for that, so the line ends there.
  ExpectFailure(outcome, 4, Resources(), line + L"; in use by Orvex Pro (process " + pid + L")\r\n",
                Utf8(L"Close Orvex Pro (process " + pid + L") and run").c_str());
}

// Orvex Pro keeping `file` open while this lives, played by tests/explorer.cpp as a program the
// person runs (with the limited token, as a double-click starts it under UAC; as a service,
// "s", elevated), and named to the Restart Manager's stand-in (and to the person, who may close
// it) by ORVEX_TEST_HOLDER, with `how` the stand-in is to play it.
class HostProgram : public StandIn {
 public:
  HostProgram(const std::wstring& file, const std::wstring& how)
      : StandIn("ORVEX_TEST_EXPLORER", L"hold \"" + file + L"\"",
                how.find(L's') == std::wstring::npos ? LimitedToken().get() : nullptr) {
    SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER",
                            (L"Orvex Pro|" + std::to_wstring(process_id()) + L"|" + how).c_str());
  }
  ~HostProgram() { SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", nullptr); }
};

// With Orvex Pro keeping a file open, the person who double-clicked the installer finishes the
// installation now. Where Windows cannot close it (another user's program), only R is offered,
// with the reason: they close it and press R, typed through a Chinese input method (after a
// candidate they did not mean). Where it can, they press C, and then Ctrl+C while Windows closes
// it: the run goes on, the program is reopened (Windows says it failed, and the window says so),
// and the program ends with that run's own status. A service Windows reopens itself, and where
// it says it could not reopen some, the window names none it did reopen. Either way nothing is left
// for the restart, and no word is broken at the window's edge. A program of a kind Windows closes
// only by force, or one it may not close, is as another user's; more than the installer has room
// for at first are all named, closed and reopened; where Windows can list none after closing
// them, and reopens not all, those named before are named.
TEST_F(HostInstalledTest, StartedFromExplorerAFileInUseIsFinishedNow) {
  if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0)
    GTEST_SKIP() << "needs a display for console windows (Xvfb, see tests/wine-session.sh)";
  RecordHost(Host());
  const std::wstring reopened = host_.root() + L"reopened";
  SetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", reopened.c_str());
  const StandInRestartManager restart_manager;
  struct Row {
    const wchar_t* how;
    const wchar_t* keys;  // "!": the person closes Orvex Pro; "Ｒ" through an input method
    const char* said;
    bool close_offered;
    bool told_to_reopen;
  };
  for (const Row& row :
       {Row{L"u", L"!Ｒ\r", "for you (another user's program)", false, false},
        Row{L"?", L"!R\r", "for you (it can only be forced to close)", false, false},
        Row{L"r", L"!R\r", "for you (running as administrator)", false, false},
        Row{L"wf", L"C^", "did not reopen Orvex Pro", true, true},
        Row{L"sp", L"C\r", "the service Orvex Pro", true, false},
        Row{L"m", L"C\r", "Orvex Helper 4 (process", true, false},
        Row{L"lf", L"C\r", "did not reopen Orvex Pro", true, true}}) {
    SCOPED_TRACE(Utf8(row.how));
    WriteBytes(Resources() + L"latin.ocr", "older");
    fs::remove(reopened);
    const HostProgram host(Resources() + L"latin.ocr", row.how);
    EXPECT_EQ(FromExplorer(L"explorer.exe", L"person", row.keys, L"latin.ocr.orvex-new"), 0u);
    const std::string shown = ReadBytes(Transcript());
    EXPECT_NE(shown.find("press R"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("press C") != std::string::npos, row.close_offered) << shown;
    std::string unbroken = shown;
    std::replace(unbroken.begin(), unbroken.end(), '\n', ' ');
    EXPECT_NE(unbroken.find(row.said), std::string::npos) << shown;
    EXPECT_EQ(unbroken.find("reopen it yourself") != std::string::npos, row.told_to_reopen)
        << shown;
    // Every row ends short of the window's last column, where the console would break a word.
    const size_t columns = std::stoul(shown.substr(1));
    for (size_t at = shown.find('\n'); at != std::string::npos; at = shown.find('\n', at + 1)) {
      const std::string line = shown.substr(at + 1, shown.find('\n', at + 1) - at - 1);
      EXPECT_LT(line.size(), columns) << line;
    }
    EXPECT_EQ(fs::exists(reopened), row.close_offered);
    EXPECT_EQ(Snapshot(Resources()), ExpectedPayloads());
    EXPECT_EQ(ScheduledRenames().find(Resources()), std::wstring::npos);
  }
  SetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", nullptr);
}

// Conditions that need root on the Linux side are prepared by tests/fixtures.sh.
TEST_F(InstallerTest, FullDiskFailsAndLeavesTheFolderAsItWas) {
  const std::wstring folder = FixtureFolder(L"full-disk");
  ULARGE_INTEGER free{};
  unsigned long long needed = 0;
  for (const auto& [name, bytes] : ExpectedPayloads()) needed += bytes.size();
  if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr) || free.QuadPart >= needed)
    GTEST_SKIP() << "needs a small tmpfs mounted on " << Utf8(folder) << " (root and mount)";

  RecordHost(folder.substr(0, folder.size() - wcslen(kOcrResourceSubdir)));
  const FolderContents before = Snapshot(folder);
  const std::string next_step =
      "needs " + std::to_string((needed + 1048575) / 1048576) + " MB of free space on ";
  ExpectFailure(RunInstaller(), 5, folder, folder, next_step.c_str());
  EXPECT_EQ(Snapshot(folder), before);
}

TEST_F(InstallerTest, LinksPlantedInTheFolderNeverLeadOutOfIt) {
  // tests/fixtures.sh planted Unix symbolic links to files outside the folder: one under a
  // target's name and three under working-file names. Wine follows such links whatever a
  // program asks, so they are told apart by where an opened handle leads.
  const std::wstring folder = FixtureFolder(L"links");
  const std::wstring outside = TestPath("ORVEX_TEST_FIXTURES") + L"\\links\\outside\\";
  const FolderContents victims = Snapshot(outside);
  if (victims.size() != 4) GTEST_SKIP() << "needs the links planted by tests/fixtures.sh";

  RecordHost(folder.substr(0, folder.size() - wcslen(kOcrResourceSubdir)));
  const FolderContents before = Snapshot(folder);
  const ProcessEnd outcome = RunInstaller();
  ExpectFailure(outcome, 2, folder, folder + L"eng.ilex is a link");
  for (const wchar_t* name :
       {L"latin.ocr.orvex-new", L"schclas.dic.orvex-none", L"schpp.dic.orvex-old"})
    EXPECT_NE(outcome.err.find(Utf8(folder + name + L" is a link")), std::string::npos)
        << outcome.err;
  EXPECT_EQ(Snapshot(outside), victims);
  EXPECT_EQ(Snapshot(folder), before);

  // A link under the lock file's name that leads nowhere is named, not waited on.
  const std::wstring broken = FixtureFolder(L"broken-lock");
  RecordHost(broken.substr(0, broken.size() - wcslen(kOcrResourceSubdir)));
  ExpectFailure(RunInstaller(), 2, broken,
                broken + kLockFileName + L" is taken by something that cannot be opened");
  EXPECT_TRUE(Snapshot(broken).empty());
}

// A target file and a folder in which nothing may be created (as for a user who is not an
// administrator): both refusals are final at once, never waited on as a holder's are. Running
// as an administrator is advised only where the run was not already elevated.
TEST_F(InstallerTest, AccessDeniedFailsAtOnceAndLeavesTheFolderAsItWas) {
  const std::wstring file = FixtureFolder(L"immutable") + L"schpp.dic";
  const std::wstring folder = FixtureFolder(L"denied");
  const UniqueHandle file_probe(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  const bool file_refused = !file_probe && GetLastError() == ERROR_ACCESS_DENIED;
  const UniqueHandle folder_probe(CreateFileW((folder + L"probe").c_str(), GENERIC_WRITE, 0,
                                              nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                                              nullptr));
  if (!file_refused || folder_probe || GetLastError() != ERROR_ACCESS_DENIED)
    GTEST_SKIP() << "needs " << Utf8(file) << " and " << Utf8(folder)
                 << " made immutable (chattr +i, as root)";

  for (const std::wstring& target : {file, folder + kLockFileName}) {
    const std::wstring resources = target.substr(0, target.rfind(L'\\') + 1);
    RecordHost(resources.substr(0, resources.size() - wcslen(kOcrResourceSubdir)));
    const FolderContents before = Snapshot(resources);
    for (bool limited : {true, false}) {
      const UniqueHandle token = limited ? LimitedToken() : UniqueHandle();
      const ULONGLONG start = GetTickCount64();
      ExpectFailure(InstallerProcess(L"", TestPath("ORVEX_TEST_INSTALLER"), token.get()).Wait(), 3,
                    resources, target,
                    limited ? "\"Run as administrator\"" : "refuse even an administrator");
      EXPECT_LT(GetTickCount64() - start, kPatienceMilliseconds / 2) << Utf8(target);
      EXPECT_EQ(Snapshot(resources), before);
    }
  }
}

// A read-only target refuses an administrator too, whether the plan finds it or the undo of a
// stopped run does (a read-only file with another name outside the folder, linked where that run
// had put a new file, whose name alone may go): status 3, and the next step names it.
TEST_F(HostInstalledTest, AReadOnlyTargetIsNamedAsTheCause) {
  RecordHost(Host());
  const std::wstring target = Resources() + L"latin.ocr";
  const std::wstring outside = host_.root() + L"outside.ocr";
  const std::wstring record = L"latin.ocr\n";
  struct Row {
    const char* name;
    bool stopped_run;
    const wchar_t* cause;
    const char* failed;
  };
  for (const Row& row :
       {Row{"planned", false, L" is read-only, so", "was left unchanged"},
        Row{"undone", true, L" is read-only and has another name outside the folder",
            "could not be fully restored"}}) {
    SCOPED_TRACE(row.name);
    fs::remove(target);
    WriteBytes(row.stopped_run ? outside : target, "old engine file");
    if (row.stopped_run) {
      ASSERT_TRUE(CreateHardLinkW(target.c_str(), outside.c_str(), nullptr));
      WriteBytes(Resources() + L"latin.ocr.orvex-none", "");
      WriteBytes(Resources() + kLockFileName,
                 std::string(reinterpret_cast<const char*>(record.data()), record.size() * 2));
    }
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
    const ProcessEnd outcome = RunInstaller();
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (row.stopped_run && !fs::exists(target))
      GTEST_SKIP() << "the system removes a read-only file's name without clearing its attribute";
    EXPECT_EQ(outcome.exit_code, 3u) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_NE(outcome.err.find(Utf8(target + row.cause)), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(row.failed), std::string::npos) << outcome.err;
    const std::string next = Utf8(target + L" is read-only. Make it writable");
    ASSERT_NE(outcome.err.find(next), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.err.find("\r\n", outcome.err.find(next)), outcome.err.size() - 2);
    EXPECT_EQ(outcome.err.find("administrator"), std::string::npos) << outcome.err;
  }
}

// Removals the system accepts and then cannot carry out: Wine finds out only when the last
// handle closes, and ignores it. A successful run names what stayed instead of leaving it unsaid.
TEST_F(InstallerTest, AccessDeniedAfterARemovalWasAcceptedIsNamed) {
  const std::wstring folder = FixtureFolder(L"undeletable");
  const UniqueHandle probe(CreateFileW((folder + L"probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (probe || GetLastError() != ERROR_ACCESS_DENIED || !fs::exists(folder + kLockFileName))
    GTEST_SKIP() << "needs " << Utf8(folder) << " made immutable (chattr +i, as root)";

  RecordHost(folder.substr(0, folder.size() - wcslen(kOcrResourceSubdir)));
  const FolderContents before = Snapshot(folder);
  const ProcessEnd outcome = RunInstaller();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.out, kCompleted);
  for (const std::wstring name : {L"eng.ilex.orvex-old", kLockFileName})
    EXPECT_NE(outcome.err.find(Utf8(folder + name + L" is still there")), std::string::npos)
        << outcome.err;
  EXPECT_EQ(Snapshot(folder), before);
}

}  // namespace
