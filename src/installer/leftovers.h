// The working files runs keep beside the targets, cleared once no run uses them, and never
// left behind unsaid.
#pragma once

#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"
#include "installer/resource_folder.h"

// Names of the working files kept beside each target while a run is under way.
inline constexpr wchar_t kStagedSuffix[] = L".orvex-new";   // the new bytes, flushed
inline constexpr wchar_t kBackupSuffix[] = L".orvex-old";   // the file it replaces
inline constexpr wchar_t kAbsentSuffix[] = L".orvex-none";  // marks that there was none

// Working files that could not be removed, each named once: warnings after a success.
class Leftovers {
 public:
  // Removes the folder's entry `name`; one that stays is named with the reason.
  void Remove(ResourceFolder& folder, const std::wstring& name);
  void Add(const std::wstring& name, Failure warning);
  bool Named(const std::wstring& name) const;
  std::vector<Failure>& warnings() { return warnings_; }

 private:
  std::vector<std::wstring> names_;
  std::vector<Failure> warnings_;
};

// Removes the working files of `table`'s targets that no run is using any more: of a finished
// run, or of one stopped before it began replacing. Call it holding the lock.
void RemoveLeftovers(ResourceFolder& folder, const PayloadTable& table, Leftovers& leftovers);

// Releases `lock` at the end of a successful run, then makes sure that no working file and no
// lock file stays in the folder unnamed.
void ConfirmNothingLeft(ResourceFolder& folder, const PayloadTable& table, FolderLock& lock,
                        Leftovers& leftovers);
