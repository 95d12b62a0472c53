// Which programs hold a file, as Windows' Restart Manager knows them: what a person needs to
// close before a file in use can be replaced.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Holder {
  std::wstring name;  // as the system shows the application, e.g. "Orvex Pro"
  DWORD process_id = 0;
};

// The applications that hold `path` open; none where the Restart Manager is missing, fails or
// names nobody. The Restart Manager is loaded for this alone, and only from the system folder.
std::vector<Holder> HoldersOf(const std::wstring& path);
