// Renames the system carries out early at the next restart, before any program can open the
// files again. Windows keeps them in one registry value, which MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT extends by one rename per call; a set of files must appear at
// once, so the installer writes all of its renames into that value in a single write.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/failure.h"

// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager, value PendingFileRenameOperations.
RegistryValue PendingRenames();

// Renames for the next restart that put each file of `names`, staged beside it under its name
// with `suffix` added, in its place, replacing whatever is there then; before them, the files
// of `removals` are deleted. `folder` ends in a backslash and is on a local drive, plain
// ("C:\a\") or extended-length ("\\?\C:\a\"), named as it will be named at boot: by its
// final path, not through a mapped or substituted drive.
struct BootRenames {
  std::wstring folder;
  std::vector<std::wstring> names;
  const wchar_t* suffix;
  std::vector<std::wstring> removals = {};
};

// The renames that put the staged files of `names` in place in `folder` (its final path) at the
// next restart, after the working files of `removals` are deleted.
BootRenames BootRenamesOf(const std::wstring& folder, std::vector<std::wstring> names,
                          std::vector<std::wstring> removals = {});

// Rewrites the list in one write, flushed, so that a run stopped at any point leaves the old list
// or the new one. Every entry whose source is one of `own` (names in `renames.folder`: the
// working names only runs of this program use, every name of `renames` among them) goes,
// whoever scheduled it; then `renames` are added, in order, at the end. Everything else stays
// as it was. A list that this does not change is only read: a user who may not change it (it
// belongs to administrators) is refused only where it has to change, and then nothing changes.
// Where the system refuses the change to this run (the list belongs to administrators, there is
// none to schedule in, the folder cannot be reached at boot), the failure is kRefused.
[[nodiscard]] std::optional<Failure> ScheduleRenames(const RegistryValue& value,
                                                     const BootRenames& renames,
                                                     const std::vector<std::wstring>& own);

// Takes every entry whose source is one of `own` (names in `folder`) out of the list, as
// ScheduleRenames does with nothing to add.
[[nodiscard]] std::optional<Failure> TakeBack(const RegistryValue& value,
                                              const std::wstring& folder,
                                              const std::vector<std::wstring>& own);

// How many of `renames` are scheduled: all of them until the restart, none after it.
[[nodiscard]] std::optional<Failure> CountScheduled(const RegistryValue& value,
                                                    const BootRenames& renames, size_t& count);
