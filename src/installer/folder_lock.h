// Runs on the same resource folder take turns through a lock file in that folder. The file
// also records which targets a run is replacing, so that the next run can undo exactly those
// if this one is stopped part-way, or whose replacement it scheduled for the next restart.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/failure.h"
#include "installer/resource_folder.h"

// How long a run waits for another one on the same folder before giving up.
inline constexpr DWORD kLockWaitMilliseconds = 60'000;

// What a run leaves in the lock file for the runs after it.
struct RunRecord {
  // The targets being replaced: a run that stops before it clears them is undone by the next.
  // With `for_restart`, the targets whose new files wait beside them for the next restart.
  std::vector<std::wstring> names;
  bool for_restart = false;
};

// Holds the lock file open with no sharing. Closing it, or the holder's death, frees the lock.
// Released with nothing recorded, the file is removed; with something recorded it stays for
// the next run to act on.
class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { Release(); }

  // Waits up to `wait_ms` for the lock; a lock file left by a dead run does not block. Fails
  // kBusy where another run kept it for the whole wait.
  [[nodiscard]] std::optional<Failure> Acquire(const ResourceFolder& folder, DWORD wait_ms);
  // Lets the next run in; the file goes unless something is recorded in it.
  void Release();

  // What an earlier run left recorded; no names when there is nothing.
  [[nodiscard]] std::optional<Failure> ReadRecord(RunRecord& record) const;
  // Records `record` (no names clears it) and flushes it to disk.
  [[nodiscard]] std::optional<Failure> Record(const RunRecord& record);

 private:
  std::wstring path_;
  UniqueHandle file_;
};
