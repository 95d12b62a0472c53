// The installer's run: find the host, install the payloads, say what happened.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/guidance.h"
#include "installer/install.h"

// Exit status of a run.
enum ExitCode : int {
  kExitInstalled = 0,
  kExitHostNotInstalled = 1,
  kExitFailed = 2,  // resource folder missing or another I/O error
  kExitAccessDenied = 3,
  kExitFileInUse = 4,
  kExitDiskFull = 5,
  kExitBusy = 6,  // another installation into the same folder did not finish in time
  // The new set replaces the old at the next restart: the code Windows Installer uses, which
  // deployment tools take as success with a restart to come.
  kExitRestartRequired = ERROR_SUCCESS_REBOOT_REQUIRED,
};

// The lines on standard output, which scripts read: they never change.
inline constexpr wchar_t kCompletedMessage[] = L"installation has been completed";
inline constexpr wchar_t kRestartMessage[] =
    L"installation will be completed when the computer restarts";
inline constexpr wchar_t kNotInstalledMessage[] = L"Orvex Pro is not installed";

// Whether a run with exit status `status` found a file in use (and so a person may finish it by
// closing the program that holds it).
inline bool FoundInUse(int status) {
  return status == kExitRestartRequired || status == kExitFileInUse;
}

// The exit status for a run whose first failure had this Win32 error code.
ExitCode ExitCodeFor(DWORD code);

// The exit status of an installation's outcome.
ExitCode ExitCodeOf(const InstallResult& result);

// What a run ended with: its exit status and, where it found a file in use, that file (its path
// as the Restart Manager takes it) and who holds it, where Windows can tell.
struct RunOutcome {
  int status = kExitInstalled;
  std::wstring held_file;
  std::vector<Holder> holders;
};

// The whole run. Prints one line to standard output on success, when the installation waits
// for a restart, or when the host is not installed; on failure prints one line per problem to
// standard error instead. Then, on standard error, what a person can do next, if anything.
RunOutcome RunInstaller();
