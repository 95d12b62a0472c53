// Which programs hold a file, as Windows' Restart Manager knows them: what a person needs to
// close before a file in use can be replaced, and what Windows can close and reopen for them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
  bool restartable = false;  // registered to be reopened by the Restart Manager
  bool service = false;      // a Windows service
  bool elevated = false;     // runs with an administrator's full rights
  NotClosable not_closable = NotClosable::kNo;
};

// What the Restart Manager and the holder's process say of a holder, for WhyNotClosable.
struct HolderFacts {
  bool service = false;
  bool critical = false;       // RmCritical
  bool other_session = false;  // runs in a session other than this process's
  bool elevated = false;       // runs elevated
  bool self_elevated = false;  // this process runs elevated
  DWORD reboot_reasons = 0;    // RmGetList's reasons that a restart is needed
};

// Why Windows cannot close a holder with `facts` for this run: the holder's own facts first,
// then what RmGetList says of the whole list.
NotClosable WhyNotClosable(const HolderFacts& facts);

// Whether Windows can close every one of `holders` for this run (and there are some).
bool WindowsCanClose(const std::vector<Holder>& holders);

// Whether Windows reopens `holder` after closing it: registered for it, and not elevated (the
// Restart Manager reopens no elevated program).
bool WindowsReopens(const Holder& holder);

// What asking the holders to close came to.
struct Closing {
  std::vector<Holder> stayed;  // still running, where not all closed
  bool refused = false;        // Windows closed none: it says a restart is needed first
};

// A Restart Manager session on one file. The Restart Manager is loaded for this alone, and only
// from the system folder; where it is missing or fails, the session knows of nobody.
class HolderSession {
 public:
  explicit HolderSession(const std::wstring& path);
  ~HolderSession();
  HolderSession(const HolderSession&) = delete;
  HolderSession& operator=(const HolderSession&) = delete;

  // The applications that hold the file open; none where more hold it than are named.
  std::vector<Holder> Holders();
  // Asks them to close, without forcing: one that asks to save its work or refuses stays open.
  Closing Close();
  // Has Windows reopen those that closed; returns those of them it did not reopen: not
  // registered for it, elevated, or all of them where Windows says it could not.
  std::vector<Holder> Reopen();

 private:
  std::vector<Holder> closed_;  // by Close
  HMODULE module_ = nullptr;
  DWORD session_ = 0;
  bool started_ = false;
  bool registered_ = false;
};

// HolderSession(path).Holders().
std::vector<Holder> HoldersOf(const std::wstring& path);
