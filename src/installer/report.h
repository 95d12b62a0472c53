// Saying what a run came to: the line on standard output that scripts read, one line on
// standard error for each problem, and what a person can do next.
#pragma once

#include <string>
#include <vector>

#include "installer/exit_status.h"
#include "installer/file_holders.h"
#include "installer/install.h"
#include "installer/language.h"

// What a person at the machine may act on after a run: its outcome and, where it found a file
// in use, that file (as the Restart Manager takes it) and who holds it, where Windows can tell.
struct ReportedRun {
  Outcome outcome = Outcome::kInstalled;
  std::wstring held_file;
  HolderList holders;
};

// Says that the host is not installed.
ReportedRun ReportHostMissing();

// Says what the run on `directory`, the extended-length form of the folder `shown`, came to:
// the folder as the user knows it in every line, what a person can do next in `language`.
ReportedRun ReportRun(InstallReport report, const std::wstring& directory,
                      const std::wstring& shown, Language language);
