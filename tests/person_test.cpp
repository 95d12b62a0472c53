// The person at the machine, as Windows behaves where Wine cannot show it: who gets the window,
// the keys an input method sends, lines that fit it, and what Windows can close and reopen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/console.h"
#include "installer/entry_changes.h"
#include "installer/file_holders.h"
#include "installer/folder_lock.h"
#include "installer/holder_wait.h"
#include "installer/persons_window.h"
#include "installer/working_names.h"
#include "support.h"

namespace {

// A person started the program from a graphical program; unattended starts never wait.
TEST(PersonTest, WhoGetsTheWindow) {
  constexpr WORD kGui = IMAGE_SUBSYSTEM_WINDOWS_GUI;
  constexpr WORD kConsole = IMAGE_SUBSYSTEM_WINDOWS_CUI;
  struct Row {
    const char* name;
    StartCues cues;
    bool waits;
  };
  // clang-format off
  const Row rows[] = {
    {"Explorer", {true, true, 1, 1, false, kGui, L"explorer.exe"}, true},
    {"a browser's download list", {true, true, 1, 1, false, kGui, L"msedge.exe"}, true},
    {"an archive manager", {true, true, 1, 1, false, kGui, L"7zFM.exe"}, true},
    {"cmd", {true, true, 1, 1, false, kConsole, L"cmd.exe"}, false},
    {"PowerShell's window", {true, true, 1, 1, false, kConsole, L"powershell.exe"}, false},
    {"a parent that is gone", {true, true, 1, 1, false, 0, L""}, false},
    {"a scheduled task", {true, true, 1, 1, false, kGui, L"SVCHOST.EXE"}, false},
    {"started hidden", {true, true, 1, 1, true, kGui, L"explorer.exe"}, false},
    {"session 0", {true, true, 1, 0, false, kGui, L"agent.exe"}, false},
    {"a shared console", {true, true, 2, 1, false, kGui, L"explorer.exe"}, false},
    {"output redirected", {true, false, 1, 1, false, kGui, L"explorer.exe"}, false},
    {"input redirected", {false, true, 1, 1, false, kGui, L"explorer.exe"}, false},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(APersonWaits(row.cues), row.waits);
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
    {"committed Chinese", TRUE, VK_PACKET, L'人', 0, Choice::kOther},
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
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(Utf8(row.line));
    EXPECT_EQ(Utf8(FitToColumns(row.line, row.columns)), Utf8(row.fitted));
  }
}

// Windows closes a holder only where the Restart Manager and the holder's rights allow; it never
// reopens an elevated one.
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
    {"critical", {false, true, false, false, true}, NotClosable::kPartOfWindows},
    {"session mismatch said", {false, false, false, false, true, 0x2}, NotClosable::kOtherUser},
    {"permission denied said", {false, false, false, false, false, 0x1}, NotClosable::kAdministrator},
    {"a critical service said", {false, false, false, false, true, 0x8}, NotClosable::kPartOfWindows},
    {"itself detected", {false, false, false, false, true, 0x10}, NotClosable::kRestartFirst},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WhyNotClosable(row.facts), row.why);
  }
  const Holder plain{L"Orvex Pro", 1, true};
  const Holder other{L"Orvex Pro", 2, true, false, false, NotClosable::kOtherUser};
  EXPECT_TRUE(WindowsCanClose({plain}));
  EXPECT_FALSE(WindowsCanClose({plain, other}));
  EXPECT_FALSE(WindowsCanClose({}));
  EXPECT_TRUE(WindowsReopens(plain));
  EXPECT_FALSE(WindowsReopens({L"Orvex Pro", 1, true, false, true}));  // elevated
  EXPECT_FALSE(WindowsReopens({L"Viewer", 1, false}));
}

// A file the run creates by name lands where the name leads: where that is not the folder the
// run holds (moved, and replaced by a link), it goes again before a byte is written.
TEST(PersonTest, CreatedFilesMustLandInTheFolder) {
  ScratchDir dir(L"IRIS_OCR\\resources");
  ResourceFolder folder;
  ASSERT_FALSE(OpenResourceFolder(dir.path(), folder));
  folder.final_path = L"\\\\?\\C:\\elsewhere\\";  // where the folder was when it was opened
  HolderWait wait(0);
  UniqueHandle file;
  const std::optional<Failure> failure =
      CreateEntry(folder, wait, L"eng.ilex.orvex-new", GENERIC_WRITE, file);
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->what.find(L"was moved or replaced"), std::wstring::npos);
  EXPECT_FALSE(file);
  FolderLock lock;
  const std::optional<NotLocked> not_locked = lock.Acquire(folder, 0);
  ASSERT_TRUE(not_locked);
  EXPECT_NE(not_locked->failure.what.find(dir.path()), std::wstring::npos);
  EXPECT_TRUE(Snapshot(dir.path()).empty());
}

}  // namespace
