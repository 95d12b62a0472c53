// Which programs hold a file, as Windows' Restart Manager knows them: what a person needs to
// close before a file in use can be replaced, and what Windows can close and reopen for them.
#pragma once

#include <windows.h>

#include <restartmanager.h>

#include <string>
#include <vector>

#include "host/win32.h"

// Why Windows cannot close a holder for this run, where it cannot.
enum class NotClosable {
  kNo,             // it can
  kOtherUser,      // the program runs in another user's session
  kAdministrator,  // it runs as administrator, or is a service, and this run does not
  kPartOfWindows,  // a critical process or service of Windows
  kRestartFirst,   // Windows says a restart is needed before it can close anything
};

struct Holder {
  std::wstring name;  // as the system shows the application, e.g. "Orvex Pro"
  DWORD process_id = 0;
  bool restartable = false;                     // registered to be reopened by the Restart Manager
  bool service = false;                         // a Windows service
  bool elevated = false;                        // runs with an administrator's full rights
  NotClosable not_closable = NotClosable::kNo;  // for its own part
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
};

// Why Windows cannot close a holder with `facts` for this run, by its own facts alone.
NotClosable WhyNotClosable(const HolderFacts& facts);

// Why Windows cannot close all of `holders`, as RmGetList's `reboot_reasons` (which describe
// the whole list) say, where no holder's own reason explains them already.
NotClosable WhyNotAllClosable(DWORD reboot_reasons, const std::vector<Holder>& holders);

// Whether Windows can close every one of `holders` for this run (and there are some).
bool WindowsCanClose(const HolderList& holders);

// Whether Windows reopens `holder` after closing it: a service it restarts, an application that
// registered for it unless it is elevated (the Restart Manager reopens no elevated application).
bool WindowsReopens(const Holder& holder);

// Whether Windows reopened `holder`, which it closed, by what RmRestart returned (`result`) and,
// where it said some could not be restarted, the holder's status in RmGetList since
// (`status_after`, RmStatusRestarted or RmStatusErrorOnRestart among others).
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

  // The applications that hold the file open; none where more hold it than are named.
  HolderList Holders();
  // Asks them to close, without forcing: one that asks to save its work or refuses stays open.
  Closing Close();
  // Has Windows reopen those that closed; returns those of them it did not reopen. Asked once:
  // any later call returns none and does nothing.
  std::vector<Holder> Reopen();

 private:
  std::vector<RM_PROCESS_INFO> List(DWORD& reasons);
  Closing CloseHolders();
  std::vector<Holder> ReopenClosed();

  UniqueModule module_;  // before the session, so that it outlives it
  UniqueRestartManagerSession session_;
  bool registered_ = false;
  // Close and Reopen take turns: closing the window may ask for the reopening on a thread of
  // its own.
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<Holder> closed_;  // by Close
  bool reopen_asked_ = false;
};

// HolderSession(path).Holders().
HolderList HoldersOf(const std::wstring& path);
