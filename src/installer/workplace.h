// What one run works with, from taking the lock to its last look at the folder: shared by the
// run's steps and by its recovery.
#pragma once

#include <windows.h>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"
#include "installer/patience.h"
#include "installer/resource_folder.h"

struct Workplace {
  ResourceFolder folder;
  FolderLock lock;
  const Catalogue& catalogue;
  RegistryValue restart_renames;  // where the run schedules work for the next restart
  DWORD patience_ms;  // for programs that hold a file for a moment, given afresh to each undo
  Patience patience;  // spent while the run installs
};
