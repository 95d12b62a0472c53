// The person at the machine, as Windows behaves where Wine cannot show it: who gets the window,
// the keys an input method sends, lines that fit it, and what Windows can close and reopen.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/win32.h"
#include "installer/console.h"
#include "installer/entry_changes.h"
#include "installer/file_holders.h"
#include "installer/folder_lock.h"
#include "installer/patience.h"
#include "installer/persons_window.h"
#include "installer/working_names.h"
#include "support.h"

namespace {

// A person started the program from a graphical program; unattended starts never wait. Each
// row is a double-click in Explorer with one cue changed.
TEST(PersonTest, WhoGetsTheWindow) {
  StartCues explorer;
  explorer.console_input = explorer.console_output = explorer.console_window = true;
  explorer.console_processes = explorer.session = 1;
  explorer.parent_name = L"explorer.exe";
  explorer.parent_subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI;
  explorer.parent_in_another_session = explorer.parent_started_later = false;
  struct Row {
    const char* name;
    void (*change)(StartCues&);
    bool waits;
  };
  // clang-format off
  const Row rows[] = {
    {"Explorer", [](StartCues&) {}, true},
    {"a browser's download list", [](StartCues& c) { c.parent_name = L"msedge.exe"; }, true},
    {"an archive manager", [](StartCues& c) { c.parent_name = L"7zFM.exe"; }, true},
    // Its pseudo console has a window of its own for messages, never shown.
    {"Windows Terminal as the default terminal", [](StartCues& c) { c.visible = false; }, true},
    {"Vista, a window shown", [](StartCues& c) { c.vista = true; }, true},
    // Another account's parent cannot be asked: the wait ends by itself anyway.
    {"elevated over the shoulder", [](StartCues& c) {
       c.parent_subsystem.reset(), c.parent_in_another_session.reset(), c.parent_started_later.reset();
     }, true},
    {"any argument", [](StartCues& c) { c.arguments = true; }, false},
    {"cmd", [](StartCues& c) { c.parent_name = L"cmd.exe", c.parent_subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI; }, false},
    {"a parent that is gone", [](StartCues& c) { c.parent_name.clear(), c.parent_subsystem.reset(); }, false},
    {"a scheduled task", [](StartCues& c) { c.parent_name = L"SVCHOST.EXE"; }, false},
    {"a task before Windows 10", [](StartCues& c) { c.parent_name = L"taskeng.exe"; }, false},
    {"winget", [](StartCues& c) { c.parent_name = L"WindowsPackageManagerServer.exe"; }, false},
    {"started hidden", [](StartCues& c) { c.hidden = true; }, false},
    {"a console without a window", [](StartCues& c) { c.console_window = false; }, false},
    {"1809, a console without a window", [](StartCues& c) { c.is_window = false; }, false},
    {"Vista, a console without a window", [](StartCues& c) { c.vista = true, c.visible = false; }, false},
    {"session 0", [](StartCues& c) { c.session = 0; }, false},
    {"a parent in another session", [](StartCues& c) { c.parent_in_another_session = true; }, false},
    {"a parent's id taken since", [](StartCues& c) { c.parent_started_later = true; }, false},
    {"a shared console", [](StartCues& c) { c.console_processes = 2; }, false},
    {"output redirected", [](StartCues& c) { c.console_output = false; }, false},
    {"input redirected", [](StartCues& c) { c.console_input = false; }, false},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartCues cues = explorer;
    row.change(cues);
    EXPECT_EQ(APersonWaits(cues), row.waits);
  }
}

// R and C count however they arrive; an input method composing chooses nothing.
TEST(PersonTest, KeysThroughAnInputMethod) {
  struct Row {
    const char* name;
    BOOL down;
    WORD key;
    wchar_t c;
    DWORD state;
    Choice choice;
  };
  constexpr DWORD kAlt = LEFT_ALT_PRESSED;
  // clang-format off
  const Row rows[] = {
    {"R", TRUE, 'R', L'r', 0, Choice::kTryAgain},
    {"Shift+R", TRUE, 'R', L'R', SHIFT_PRESSED, Choice::kTryAgain},
    {"the R key on another layout", TRUE, 'R', L'к', 0, Choice::kTryAgain},
    {"C", TRUE, 'C', L'c', 0, Choice::kCloseForMe},
    {"composing", TRUE, VK_PROCESSKEY, 0, 0, Choice::kNone},
    {"committed, full width", TRUE, VK_PACKET, L'Ｒ', 0, Choice::kTryAgain},
    {"committed, full width, small", TRUE, VK_PACKET, L'ｃ', 0, Choice::kCloseForMe},
    {"committed with no key", TRUE, 0, L'r', 0, Choice::kTryAgain},
    // Pinyin took R into a composition, and Space committed a candidate: not what was meant.
    {"committed Chinese", TRUE, VK_PACKET, L'人', 0, Choice::kNone},
    {"committed with no key, another letter", TRUE, 0, L'x', 0, Choice::kNone},
    {"Alt released with Chinese", FALSE, VK_MENU, L'人', 0, Choice::kNone},
    {"nothing at all", TRUE, 0, 0, 0, Choice::kNone},
    {"Alt with the code on the keypad", TRUE, VK_NUMPAD8, 0, kAlt, Choice::kNone},
    {"Alt released with the letter", FALSE, VK_MENU, L'Ｃ', 0, Choice::kCloseForMe},
    {"a key released", FALSE, 'R', L'r', 0, Choice::kNone},
    {"Shift alone", TRUE, VK_SHIFT, 0, SHIFT_PRESSED, Choice::kNone},
    {"Ctrl+R", TRUE, 'R', 0x12, LEFT_CTRL_PRESSED, Choice::kOther},
    {"Enter", TRUE, VK_RETURN, L'\r', 0, Choice::kOther},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    KEY_EVENT_RECORD key{};
    key.bKeyDown = row.down;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = row.key;
    key.uChar.UnicodeChar = row.c;
    key.dwControlKeyState = row.state;
    EXPECT_EQ(ChoiceOf(key), row.choice);
  }
}

// Broken between words, or beside a Chinese character (two columns each), never in a word; a
// run longer than a row cut where it must be; no row to the last column.
TEST(PersonTest, LinesFitTheWindow) {
  struct Row {
    const wchar_t* line;
    int columns;
    const wchar_t* fitted;
    UINT code_page = 437;
  };
  // clang-format off
  const Row rows[] = {
    {L"fits as it is", 20, L"fits as it is"},
    {L"Sharing violation here", 12, L"Sharing\r\nviolation\r\nhere"},
    {L"a  b", 3, L"a\r\nb"},
    {L"see C:\\Windows\\System32\\x", 12, L"see\r\nC:\\Windows\\\r\nSystem32\\x"},
    {L"请关闭程序，然后重试。", 9, L"请关闭程\r\n序，然后\r\n重试。"},
    {L"看（进程）", 5, L"看\r\n（进\r\n程）"},
    {L"one\r\ntwo words", 6, L"one\r\ntwo\r\nwords"},
    {L"no room at all", 1, L"no room at all"},
    // A Chinese code page stores curly quotes and the ellipsis in two bytes: two cells there.
    {L"选择“重新启动”", 15, L"选择“重新启动”", 437},
    {L"选择“重新启动”", 15, L"选择“重新启\r\n动”", 936},
    {L"a…b", 4, L"a…b", 437},
    {L"a…b", 4, L"a…\r\nb", 950},
    {L"a…b", 4, L"a…\r\nb", 54936},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(Utf8(row.line));
    EXPECT_EQ(Utf8(FitToColumns(row.line, row.columns, row.code_page)), Utf8(row.fitted));
  }
}

// Windows closes a holder only where its own facts allow, and all of them only where the list's
// reasons allow, which are a critical holder's only reasons; it reopens services and unelevated
// registered applications, and only those it says came back where it says so.
TEST(PersonTest, WhatWindowsCanCloseAndReopen) {
  struct Row {
    const char* name;
    HolderFacts facts;
    NotClosable why;
  };
  // clang-format off
  const Row rows[] = {
    {"an ordinary program", {}, NotClosable::kNo},
    {"another user's", {false, false, true}, NotClosable::kOtherUser},
    {"elevated, for a limited run", {false, false, false, true}, NotClosable::kAdministrator},
    {"elevated, for an elevated run", {false, false, false, true, true}, NotClosable::kNo},
    {"a service, for a limited run", {true}, NotClosable::kAdministrator},
    {"a service, for an elevated run", {true, false, false, false, true}, NotClosable::kNo},
    {"critical, its reasons the list's", {false, true, true, true}, NotClosable::kNo},
    {"of a kind closed only by force", {false, false, false, false, false, true}, NotClosable::kOnlyByForce},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WhyNotClosable(row.facts), row.why);
  }
  const Holder plain{L"Orvex Pro", 1, true};
  const Holder other{L"Orvex Pro", 2, true, false, false, NotClosable::kOtherUser};
  const Holder service{L"Orvex Sync", 3, true, true, true};
  const Holder critical{L"System", 4, false, false, false, NotClosable::kNo, true};
  struct ListRow {
    const char* name;
    DWORD reasons;
    std::vector<Holder> holders;
    NotClosable why;
  };
  // clang-format off
  const ListRow list_rows[] = {
    {"no reason", 0, {plain}, NotClosable::kNo},
    {"a session mismatch, one holder's own", 0x2, {plain, other}, NotClosable::kNo},
    {"a session mismatch, nobody's own", 0x2, {plain}, NotClosable::kOtherUser},
    {"permission denied", 0x1, {plain}, NotClosable::kAdministrator},
    {"a critical service", 0x8, {plain}, NotClosable::kPartOfWindows},
    {"itself detected", 0x10, {plain}, NotClosable::kThisInstaller},
    {"a reason not known", 0x100, {plain}, NotClosable::kRestartFirst},
    {"critical, refused for rights", 0x1, {critical}, NotClosable::kAdministrator},
    {"two critical, mixed", 0x5, {critical, critical}, NotClosable::kAdministrator | NotClosable::kPartOfWindows},
    {"critical, the only reason another's", 0x2, {other, critical}, NotClosable::kUnsaid},
    {"critical, no reason", 0, {critical}, NotClosable::kUnsaid},
  };
  // clang-format on
  for (const ListRow& row : list_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WhyNotAllClosable(row.reasons, row.holders), row.why);
  }
  EXPECT_TRUE(WindowsCanClose({{plain, service}}));
  EXPECT_FALSE(WindowsCanClose({{plain, other}}));
  EXPECT_FALSE(WindowsCanClose({{plain}, NotClosable::kRestartFirst}));
  EXPECT_FALSE(WindowsCanClose({}));
  struct ReopenRow {
    const char* name;
    Holder holder;
    DWORD result;
    DWORD status_after;
    bool reopened;
  };
  // clang-format off
  const ReopenRow reopen_rows[] = {
    {"registered", plain, ERROR_SUCCESS, 0, true},
    {"a service", service, ERROR_SUCCESS, 0, true},
    {"elevated", {L"Orvex Pro", 1, true, false, true}, ERROR_SUCCESS, 0, false},
    {"some not restarted, this one was", plain, kFailRestart, RmStatusRestarted, true},
    {"some not restarted, this one of them", plain, kFailRestart, RmStatusErrorOnRestart, false},
    {"some not restarted, this one unsaid", service, kFailRestart, 0, false},
    {"cancelled, this one restarted", plain, ERROR_CANCELLED, RmStatusRestarted, true},
    {"cancelled, this one unsaid", plain, ERROR_CANCELLED, 0, false},
  };
  // clang-format on
  for (const ReopenRow& row : reopen_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WindowsReopened(row.holder, row.result, row.status_after), row.reopened);
  }
}

// The person's window as a script plays it: the keys pressed ("\r" any other, 人 committed by
// an input method, ^ Ctrl+C at the prompt, T the time up) and what each run the person asks for
// comes to ("s" scheduled, "i" installed; before one, ^: Ctrl+C during it, x: the window closed
// during it while Windows closes the holder of the file, or once it has, where its shutdown does
// not wait; g: the same while the run replaces; `reopened` the sign that Windows reopened it).
// Time passes between keys, and each prompt's wait must end kPromptWaitMinutes after it,
// whatever keys came.
class ScriptedWindow {
 public:
  ScriptedWindow(const wchar_t* keys, const char* runs, WindowClosing& closing,
                 const std::wstring& reopened)
      : keys_(keys), runs_(runs), closing_(closing), reopened_(reopened) {}
  ~ScriptedWindow() { WaitForTheHandler(); }

  void Prompt(const ReportedRun&) {
    prompted_at_ = GetTickCount64();
    deadline_ = 0;
  }
  std::optional<KEY_EVENT_RECORD> Key(ULONGLONG deadline) {
    constexpr ULONGLONG kWait = kPromptWaitMinutes * 60'000ull;
    if (deadline_ == 0) {
      EXPECT_GE(deadline, prompted_at_ + kWait);
      EXPECT_LE(deadline, GetTickCount64() + kWait);
    }
    EXPECT_TRUE(deadline_ == 0 || deadline == deadline_);
    deadline_ = deadline;
    Sleep(20);
    for (; *keys_ == L'^'; ++keys_) closing_.OnEvent(CTRL_C_EVENT);
    if (*keys_ == L'\0' || *keys_ == L'T') return std::nullopt;
    const wchar_t c = *keys_++;
    return KEY_EVENT_RECORD{TRUE, 1, c == L'人' ? WORD{VK_PACKET} : WORD{c}, 0, {c}, 0};
  }
  ReportedRun RunAgain(Choice choice, const ReportedRun& run,
                       WindowClosing::RunInProgress& in_progress) {
    asked_ += choice == Choice::kCloseForMe ? 'C' : 'R';
    if (*runs_ == '^') ++runs_, closing_.OnEvent(CTRL_C_EVENT);
    if (*runs_ == 'x' || *runs_ == 'g') {
      const bool replacing = *runs_++ == 'g';
      handler_ = std::thread([this] {
        WaitForSingleObject(closes_.get(), 10'000);
        closing_.OnEvent(CTRL_CLOSE_EVENT);
      });
      // Called off, Windows' closing must end within the few seconds Windows gives the handler.
      const ULONGLONG start = GetTickCount64();
      in_progress.SessionOn(run.held_file).Close();
      EXPECT_LT(GetTickCount64() - start, 4'000u);
      {
        std::optional<ReplacingGate::Replacing> replacing_now;
        if (replacing) replacing_now.emplace(&in_progress.Replacing());
        SetEvent(closes_.get());
        // Nobody is reopened onto a set half replaced.
        if (replacing) {
          Sleep(300);
          EXPECT_FALSE(fs::exists(reopened_));
        }
      }
      for (int i = 0; i < 100 && !reopened_during_a_run_; ++i, Sleep(50))
        reopened_during_a_run_ = fs::exists(reopened_);
    }
    ReportedRun outcome = run;
    outcome.outcome = *runs_++ == 'i' ? Outcome::kInstalled : Outcome::kScheduled;
    return outcome;
  }
  void WaitForTheHandler() {
    if (handler_.joinable()) handler_.join();
  }
  const std::string& asked() const { return asked_; }
  bool reopened_during_a_run() const { return reopened_during_a_run_; }

 private:
  const wchar_t* keys_;
  const char* runs_;
  WindowClosing& closing_;
  const std::wstring& reopened_;
  std::string asked_;
  ULONGLONG prompted_at_ = 0;
  ULONGLONG deadline_ = 0;  // of the keys since the last prompt
  std::thread handler_;
  // The window closes once this is set: by the Restart Manager's stand-in while its shutdown
  // waits, or by the run.
  UniqueHandle closes_{CreateEventW(nullptr, TRUE, FALSE, L"orvex-test-shutdown-waits")};
  bool reopened_during_a_run_ = false;
};

// What ended the program from the window's close handler, in place of ExitProcess.
int ended_with = -1;
void WINAPI RecordEnd(UINT status) { ended_with = static_cast<int>(status); }

// R runs again and C has Windows close the holders first, only while a file is in use and C only
// where Windows can close them all; committed text chooses nothing; unanswered, the window closes
// by itself with the last run's status. Ctrl+C at the prompt ends
// the program with the last run's status, and during a run lets it finish and end with its own.
// Closing the window during a C run, where Windows ends the program a few seconds later whatever
// it does, has Windows stop closing programs and reopen what it closed at once, before the run
// ends, though only once a replacement under way is done.
TEST(PersonTest, TheKeysLoop) {
  ScratchDir dir;
  const std::wstring file = dir.path() + L"latin.ocr";
  const std::wstring reopened = dir.path() + L"reopened";
  WriteBytes(file, "older");
  SetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", reopened.c_str());
  const StandInRestartManager restart_manager;
  const StandIn host("ORVEX_TEST_EXPLORER", L"hold \"" + file + L"\"");
  const std::wstring holder = L"Orvex Pro|" + std::to_wstring(host.process_id());
  SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder.c_str());
  struct Row {
    const char* name;
    Outcome first;
    bool closable;
    const wchar_t* keys;
    const char* runs;
    int status;
    const char* asked;
    int ended_with;            // by the handler; -1 where it did not end the program
    const wchar_t* how = L"";  // how the Restart Manager's stand-in plays the holder
  };
  const Outcome kIn = Outcome::kScheduled;
  // clang-format off
  const Row rows[] = {
    {"installed: any key closes", Outcome::kInstalled, true, L"R", "", 0, "", -1},
    {"in use: any other key closes", kIn, true, L"\r", "", 3010, "", -1},
    {"C where it cannot closes", kIn, false, L"C", "", 3010, "", -1},
    {"R and C in turn", kIn, true, L"RC\r", "si", 0, "RC", -1},
    {"a committed character chooses nothing", kIn, true, L"人R\r", "i", 0, "R", -1},
    {"the time up after keys that chose nothing", kIn, true, L"人人T", "", 3010, "", -1},
    {"the time up after a run", kIn, true, L"RT", "i", 0, "R", -1},
    {"Ctrl+C during a run", kIn, true, L"RR", "^ss", 3010, "R", -1},
    {"Ctrl+C at the prompt", kIn, true, L"^", "", 3010, "", 3010},
    {"closed while Windows closes the holder", kIn, true, L"C", "xi", 0, "C", 0, L"|b"},
    {"closed while the run replaces", kIn, true, L"C", "gi", 0, "C", 0},
    {"closed during a C run", kIn, true, L"CC", "xis", 0, "C", 0},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", (holder + row.how).c_str());
    fs::remove(reopened);
    WindowClosing closing(RecordEnd);
    ended_with = -1;
    ScriptedWindow window(row.keys, row.runs, closing, reopened);
    ReportedRun first{row.first, file, {{{L"Orvex Pro", host.process_id(), true}}}};
    if (!row.closable) first.holders.why_not_all = NotClosable::kRestartFirst;
    EXPECT_EQ(KeepTheWindow(first, window, closing), row.status);
    EXPECT_EQ(window.asked(), row.asked);
    window.WaitForTheHandler();
    EXPECT_EQ(ended_with, row.ended_with);
    EXPECT_EQ(window.reopened_during_a_run(), row.runs[0] == 'x' || row.runs[0] == 'g');
  }
  // Cancelled before it begins, as by a close just before C's, a shutdown never begins.
  fs::remove(reopened);
  SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", (holder + L"|b").c_str());
  HolderSession session(file);
  session.CancelClose();
  EXPECT_TRUE(session.Close().stayed.named.empty());
  EXPECT_TRUE(session.Reopen().empty());
  EXPECT_FALSE(fs::exists(reopened));
  SetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", nullptr);
  SetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", nullptr);
}

// A file the run creates by name lands where the name leads: where that is not the folder the
// run holds (moved, and replaced by a link), it goes again before a byte is written.
TEST(PersonTest, CreatedFilesMustLandInTheFolder) {
  ScratchDir dir(L"IRIS_OCR\\resources");
  ResourceFolder folder;
  ASSERT_FALSE(OpenResourceFolder(dir.path(), folder));
  folder.final_path = L"\\\\?\\C:\\elsewhere\\";  // where the folder was when it was opened
  Patience wait(0);
  UniqueHandle file;
  const std::optional<Failure> failure =
      CreateEntry(folder, wait, L"eng.ilex.orvex-new", GENERIC_WRITE, file);
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->what.find(L"was moved or replaced"), std::wstring::npos);
  EXPECT_FALSE(file);
  FolderLock lock;
  const std::optional<Failure> not_locked = lock.Acquire(folder, 0);
  ASSERT_TRUE(not_locked);
  EXPECT_NE(not_locked->what.find(dir.path()), std::wstring::npos);
  EXPECT_TRUE(Snapshot(dir.path()).empty());
}

}  // namespace
