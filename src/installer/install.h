// Installs a set of payload files into one folder as a whole or not at all.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"

// Names of the working files kept beside each target while a run is under way.
inline constexpr wchar_t kStagedSuffix[] = L".orvex-new";   // the new bytes, flushed
inline constexpr wchar_t kBackupSuffix[] = L".orvex-old";   // the file it replaces
inline constexpr wchar_t kAbsentSuffix[] = L".orvex-none";  // marks that there was none

enum class InstallState {
  kInstalled,     // all files are the new ones
  kUnchanged,     // the folder holds what it held before the run
  kInconsistent,  // a failure could not be fully undone; the next run will finish the undo
};

struct InstallResult {
  InstallState state = InstallState::kInstalled;
  // In the order they happened; after a failure, the first is its cause. With kInstalled
  // these are warnings only (working files that could not be removed).
  std::vector<Failure> problems;
};

// Writes every payload of `table` from `module` into `directory` (ending in a backslash),
// taking turns with other runs on the same folder (waiting up to `lock_wait_ms`). Targets that
// already hold their payload are left alone. The others are first staged beside their targets
// and flushed; only when all are staged are the targets replaced, and any failure undoes what
// was done. A run that was stopped part-way is undone first. Files in the folder other than
// the targets, the working files and the lock file are never touched.
InstallResult InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module, DWORD lock_wait_ms = kLockWaitMilliseconds);
