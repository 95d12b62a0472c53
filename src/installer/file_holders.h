// Which programs hold a file, as Windows' Restart Manager knows them: what a person needs to
// close before a file in use can be replaced, and what Windows can close and reopen for them.
#pragma once

#include <windows.h>

#include <restartmanager.h>

#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"

// The codes with which RmShutdown says it closed nothing, since a restart is needed first, and
// RmRestart that it reopened not all (winerror.h's ERROR_FAIL_NOACTION_REBOOT and
// ERROR_FAIL_RESTART, which MinGW's winerror.h lacks).
inline constexpr DWORD kFailNoActionReboot = 350;
inline constexpr DWORD kFailRestart = 352;

// Why Windows cannot close a holder for this run, where it cannot: one reason, or several where
// Windows says only that one of them holds for some holder of the list.
enum class NotClosable : unsigned {
  kNo = 0,                // it can
  kOtherUser = 0x1,       // the program runs in another user's session
  kAdministrator = 0x2,   // it runs as administrator, or is a service, and this run does not
  kPartOfWindows = 0x4,   // a critical process or service of Windows
  kRestartFirst = 0x8,    // Windows says a restart is needed first, for a reason it does not name
  kOnlyByForce = 0x10,    // of a kind Windows closes only by force, which this run never uses
  kThisInstaller = 0x20,  // this installer itself would have to close
  kUnsaid = 0x40,         // Windows says it cannot, and not why
};

constexpr NotClosable operator|(NotClosable a, NotClosable b) {
  return static_cast<NotClosable>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

// Whether `reasons` hold `reason`.
constexpr bool Holds(NotClosable reasons, NotClosable reason) {
  return (static_cast<unsigned>(reasons) & static_cast<unsigned>(reason)) != 0;
}

struct Holder {
  std::wstring name;  // as the system shows the application, e.g. "Orvex Pro"
  DWORD process_id = 0;
  bool restartable = false;                     // registered to be reopened by the Restart Manager
  bool service = false;                         // a Windows service
  bool elevated = false;                        // runs with an administrator's full rights
  NotClosable not_closable = NotClosable::kNo;  // for its own part
  bool critical = false;  // one Windows cannot close, for the list's reasons (RmCritical)
};

// The holders of one file, and why Windows cannot close them all where the reason is the list's
// rather than any one holder's.
struct HolderList {
  std::vector<Holder> named;
  NotClosable why_not_all = NotClosable::kNo;
};

// What the Restart Manager and the holder's process say of one holder, for WhyNotClosable.
struct HolderFacts {
  bool service = false;
  bool critical = false;       // RmCritical
  bool other_session = false;  // runs in a session other than this process's
  bool elevated = false;       // runs elevated
  bool self_elevated = false;  // this process runs elevated
  bool unknown_kind = false;   // RmUnknownApp
};

// Why Windows cannot close a holder with `facts` for this run, by its own facts alone. A critical
// holder has none of its own: Windows says why only in the list's reasons (WhyNotAllClosable).
NotClosable WhyNotClosable(const HolderFacts& facts);

// Why Windows cannot close all of `holders`, as RmGetList's `reboot_reasons` (which describe
// the whole list) say, where no holder's own reason explains them already; for a critical
// holder, that Windows does not say why, where no reason is left for it.
NotClosable WhyNotAllClosable(DWORD reboot_reasons, const std::vector<Holder>& holders);

// Whether the list's reasons (`holders.why_not_all`) concern `holder`: they are the critical
// holders', where there are any, and otherwise those of each holder without a reason of its own.
bool ConcernedByTheList(const HolderList& holders, const Holder& holder);

// Whether Windows can close every one of `holders` for this run (and there are some).
bool WindowsCanClose(const HolderList& holders);

// Whether Windows reopens `holder` after closing it: a service it restarts, an application that
// registered for it unless it is elevated (the Restart Manager reopens no elevated application).
bool WindowsReopens(const Holder& holder);

// Whether Windows reopened `holder`, which it closed, by the holder's status in RmGetList since
// (`status_after`: RmStatusRestarted or RmStatusErrorOnRestart where Windows says) or, where that
// says neither, by what RmRestart returned (`result`).
bool WindowsReopened(const Holder& holder, DWORD result, DWORD status_after);

// What asking the holders to close came to.
struct Closing {
  HolderList stayed;     // still running, where not all closed
  bool refused = false;  // Windows closed none: it says a restart is needed first
};

// The session's id, ended through the Restart Manager the session was started with.
struct RestartManagerSessionTraits {
  using Handle = DWORD;
  static DWORD None() { return static_cast<DWORD>(-1); }
  static bool IsValid(DWORD session) { return session != None(); }
  static void Close(DWORD session);
};
using UniqueRestartManagerSession = UniqueHandleOf<RestartManagerSessionTraits>;

// A Restart Manager session on one file. The Restart Manager is loaded for this alone, and only
// from the system folder; where it is missing or fails, the session knows of nobody.
class HolderSession {
 public:
  explicit HolderSession(const std::wstring& path);
  HolderSession(const HolderSession&) = delete;
  HolderSession& operator=(const HolderSession&) = delete;

  // The applications that hold the file open, every one of them.
  HolderList Holders();
  // Asks every application that holds the file when Windows looks (not only those named
  // before) to close, without forcing: one that asks to save its work or refuses stays open.
  Closing Close();
  // Has Windows reopen those that closed, whenever Close asked it to close any, whatever that
  // came to; returns those Windows closed and does not say it reopened. Asked once: any later
  // call returns none and does nothing.
  std::vector<Holder> Reopen();
  // From another thread, without waiting for Close: no program is closed from now on. Where
  // Close waits for programs to close (each may take as long as Windows gives a program that
  // does not answer), Windows stops and Close returns soon; Reopen still reopens whoever
  // closed. Close closes nobody after this, nor after Reopen.
  void CancelClose();

 private:
  std::optional<std::vector<RM_PROCESS_INFO>> List(DWORD& reasons);
  Closing CloseHolders();
  std::vector<Holder> ReopenClosed();

  UniqueModule module_;  // before the session, so that it outlives it
  UniqueRestartManagerSession session_;
  bool registered_ = false;
  // Close and Reopen take turns: closing the window may ask for the reopening on a thread of
  // its own.
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool shutdown_asked_ = false;  // by Close
  std::vector<Holder> closed_;   // by Close
  bool reopen_asked_ = false;
  // Held only around the shutdown's start and end and a cancellation, never while Windows
  // closes programs, so that a cancellation reaches that shutdown and never a later restart.
  SRWLOCK cancel_lock_ = SRWLOCK_INIT;
  bool cancelled_ = false;
  bool shutting_down_ = false;
};

// HolderSession(path).Holders().
HolderList HoldersOf(const std::wstring& path);
