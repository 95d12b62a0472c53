// Installs a set of payload files into one folder as a whole or not at all.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"
#include "installer/resource_folder.h"
#include "installer/restart_schedule.h"

enum class InstallState {
  kInstalled,     // all files are the new ones
  kUnchanged,     // the folder holds what it held before the run
  kInconsistent,  // a failure could not be fully undone; the next run will finish the undo
  kScheduled,     // a target stays in use: the folder holds the old set, and the new one
                  // waits beside it to replace it at the next restart
};

struct InstallResult {
  InstallState state = InstallState::kInstalled;
  // In the order they happened; after a failure, the first is its cause. With kInstalled
  // these are warnings only (working files that could not be removed); with kScheduled the
  // first says which file is in use.
  std::vector<Failure> problems;
  // Where set, the error that decides the outcome's status instead of the first problem's: a
  // file in use whose replacement at the restart could not be recorded for want of disk space
  // is a full disk.
  std::optional<DWORD> status_code;
  // What the files the run writes take, in bytes.
  std::uint64_t bytes_needed = 0;
  // The file another program holds, where that is why the run did not install at once.
  std::wstring held_file;
  // The read-only target that refused the run, where that is why it failed.
  std::wstring read_only_file;
};

// How long a run waits, and where it schedules work for the next restart. Tests narrow these.
struct InstallSettings {
  DWORD lock_wait_ms = kLockWaitMilliseconds;      // for another run on the same folder
  DWORD holder_wait_ms = kHolderWaitMilliseconds;  // for programs holding a file for a moment
  RegistryValue restart_renames = PendingRenames();
};

// Writes every payload of `table` from `module` into `directory` (ending in a backslash),
// taking turns with other runs on the same folder. Targets that already hold their payload are
// left alone. The others are first staged beside their targets and flushed; only when all are
// staged are the targets replaced, and any failure undoes what was done. A target that another
// program keeps open has all of them replaced at the next restart instead, where the system
// allows that. A run that was stopped part-way is undone first. Files in the folder other than
// the targets, the working files and the lock file are never touched.
InstallResult InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module, const InstallSettings& settings = {});
