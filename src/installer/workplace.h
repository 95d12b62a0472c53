// What one run works with, from taking the lock to its last look at the folder: shared by the
// run's steps and by its recovery.
#pragma once

#include <windows.h>

#include "host/win32.h"
#include "installer/catalogue.h"
#include "installer/folder_lock.h"
#include "installer/holder_wait.h"
#include "installer/resource_folder.h"

struct Workplace {
  ResourceFolder folder;
  FolderLock lock;
  const PayloadTable& table;
  RegistryValue restart_renames;  // where the run schedules work for the next restart
  DWORD wait_ms;                  // the patience for momentary holders each undo is given afresh
  HolderWait wait;                // spent while the run installs
};
