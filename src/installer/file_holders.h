// Which programs hold a file, as Windows' Restart Manager knows them: what a person needs to
// close before a file in use can be replaced, and what Windows can close and reopen for them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Holder {
  std::wstring name;  // as the system shows the application, e.g. "Orvex Pro"
  DWORD process_id = 0;
  bool restartable = false;  // registered to be reopened by the Restart Manager
};

// A Restart Manager session on one file. The Restart Manager is loaded for this alone, and only
// from the system folder; where it is missing or fails, the session knows of nobody.
class HolderSession {
 public:
  explicit HolderSession(const std::wstring& path);
  ~HolderSession();
  HolderSession(const HolderSession&) = delete;
  HolderSession& operator=(const HolderSession&) = delete;

  // The applications that hold the file open; none where more hold it than are named.
  std::vector<Holder> Holders();
  // Asks them to close, without forcing: one that asks to save its work or refuses stays
  // open. Returns those still running where not all closed.
  std::vector<Holder> Close();
  // Reopens those that closed and were registered to be reopened.
  void Reopen();

 private:
  HMODULE module_ = nullptr;
  DWORD session_ = 0;
  bool started_ = false;
  bool registered_ = false;
};

// HolderSession(path).Holders().
std::vector<Holder> HoldersOf(const std::wstring& path);
