// The working files runs keep beside the targets, cleared once no run uses them, and never
// left behind unsaid.
#pragma once

#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"
#include "installer/resource_folder.h"
#include "installer/restart_schedule.h"

// Names of the working files kept beside each target while a run is under way.
inline constexpr wchar_t kStagedSuffix[] = L".orvex-new";   // the new bytes, flushed
inline constexpr wchar_t kBackupSuffix[] = L".orvex-old";   // the file it replaces
inline constexpr wchar_t kAbsentSuffix[] = L".orvex-none";  // marks that there was none

// Working files that could not be removed, each named once: warnings after a success. Those
// that another program keeps open or mapped are held: their removal waits for the next
// restart, and a run that needs one of their names treats its target as in use.
class Leftovers {
 public:
  // Removes the folder's entry `name`; one that stays is named with the reason.
  void Remove(ResourceFolder& folder, const std::wstring& name);
  void Add(const std::wstring& name, Failure warning, bool held = false);
  // Counts `name` as held, without a warning of its own.
  void Hold(const std::wstring& name);
  // `name` has gone after all: it is no longer held.
  void Gone(const std::wstring& name);
  // A warning about no one name.
  void Warn(Failure warning);
  bool Named(const std::wstring& name) const;
  bool Held(const std::wstring& name) const;
  const std::vector<std::wstring>& held() const { return held_; }
  std::vector<Failure>& warnings() { return warnings_; }

 private:
  std::vector<std::wstring> names_;
  std::vector<std::wstring> held_;
  std::vector<Failure> warnings_;
};

// The names of every working file of `table`'s targets: those whose entries in the list of
// renames for the next restart only runs of this program make, and so only they rewrite.
std::vector<std::wstring> WorkingNames(const PayloadTable& table);

// Removes the working files of `table`'s targets that no run is using any more: of a finished
// run, or of one stopped before it began replacing. Call it holding the lock.
void RemoveLeftovers(ResourceFolder& folder, const PayloadTable& table, Leftovers& leftovers);

// The renames that put the staged files of `names` in place at the next restart, after the
// working files of `removals` are deleted; named by the folder's final path, which is how the
// system can reach it at boot.
BootRenames BootRenamesOf(const ResourceFolder& folder, std::vector<std::wstring> names,
                          std::vector<std::wstring> removals = {});

// Releases `lock` at the end of a successful run, then makes sure that no working file and no
// lock file stays in the folder unnamed, and schedules the removal of those that are held for
// the next restart in `restart_renames`, where the system allows that. Where that last look
// cannot be made, one warning says why.
void ConfirmNothingLeft(ResourceFolder& folder, const PayloadTable& table, FolderLock& lock,
                        Leftovers& leftovers, const RegistryValue& restart_renames);
