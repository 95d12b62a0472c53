// What a run came to, and the exit status that tells a deployment tool. The run decides its
// outcome where it finds it; this table alone turns outcomes into numbers.
#pragma once

#include <windows.h>

enum class Outcome {
  kInstalled,    // the folder holds the new set (or already did)
  kScheduled,    // a file is in use: the new set replaces the old at the next restart
  kHostMissing,  // the host is not recorded in the registry
  kFailed,       // the folder is missing, a name is taken by a folder or link, an I/O error
  kDamaged,      // this copy of the installer does not hold what it was built with
  kRefused,      // access denied: not run as an administrator, or a read-only target
  kInUse,        // a file is in use, and its replacement at the restart could not be scheduled
  kDiskFull,     // not enough space for the new files, or for the record of the restart
  kBusy,         // another installation into the same folder did not finish in time
};

// The exit status of each outcome. 3010 is the code Windows Installer uses for "restart to
// finish", which deployment tools take as success with a restart to come.
constexpr int ExitCodeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kInstalled:
      return 0;
    case Outcome::kHostMissing:
      return 1;
    case Outcome::kFailed:
    case Outcome::kDamaged:
      return 2;
    case Outcome::kRefused:
      return 3;
    case Outcome::kInUse:
      return 4;
    case Outcome::kDiskFull:
      return 5;
    case Outcome::kBusy:
      return 6;
    case Outcome::kScheduled:
      return ERROR_SUCCESS_REBOOT_REQUIRED;
  }
  return 2;
}

// Whether the run installed, at once or at the next restart.
constexpr bool Succeeded(Outcome outcome) {
  return outcome == Outcome::kInstalled || outcome == Outcome::kScheduled;
}

// Whether the run found a file in use, so that a person may finish it by closing the program
// that holds it.
constexpr bool FoundInUse(Outcome outcome) {
  return outcome == Outcome::kScheduled || outcome == Outcome::kInUse;
}
