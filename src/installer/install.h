// Installs a set of payload files into one folder as a whole or not at all.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/exit_status.h"
#include "installer/failure.h"
#include "installer/folder_lock.h"
#include "installer/patience.h"
#include "installer/replacing_gate.h"
#include "installer/restart_schedule.h"

// What a run came to, and what it found that the person at the machine may need to know.
struct InstallReport {
  Outcome outcome = Outcome::kInstalled;
  // After a failure, whether the folder holds what it held before the run; where it could not
  // be put back, the next run finishes the undo.
  bool restored = true;
  // In the order they happened; after a failure, the first is its cause. After an installation
  // these are warnings only (working files that could not be removed); with kScheduled the
  // first says which file is in use.
  std::vector<Failure> problems;
  // What the files the run writes take, in bytes.
  std::uint64_t bytes_needed = 0;
  // The file another program holds, where that decided the outcome.
  std::wstring held_file;
  // The read-only target that refused the run, where that is why it failed.
  std::wstring read_only_file;
};

// How long a run waits, where it schedules work for the next restart, and who may wait for its
// replacing to end. Tests narrow these.
struct InstallSettings {
  DWORD lock_wait_ms = kLockWaitMilliseconds;  // for another run on the same folder
  DWORD patience_ms = kPatienceMilliseconds;   // for programs that open a file for a moment
  RegistryValue restart_renames = PendingRenames();
  ReplacingGate* replacing = nullptr;
};

// Writes every payload of `catalogue` from `module` into `directory` (ending in a backslash),
// taking turns with other runs on the same folder. Targets that already hold their payload are
// left alone. The others are first staged beside their targets and flushed; only when all are
// staged are the targets replaced, and any failure undoes what was done. A target that another
// program keeps open has all of them replaced at the next restart instead, where the system
// allows that. A run that was stopped part-way is undone first. Files in the folder other than
// the targets, the working files and the lock file are never touched.
InstallReport InstallPayloads(const std::wstring& directory, const Catalogue& catalogue,
                              HMODULE module, const InstallSettings& settings = {});
