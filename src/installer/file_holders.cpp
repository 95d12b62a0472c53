#include "installer/file_holders.h"

#include <restartmanager.h>

namespace {

// At most this many holders are named; a file is rarely held by more than one or two.
constexpr UINT kMostHolders = 4;

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using Act = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
using EndSession = DWORD(WINAPI*)(DWORD);

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

HolderSession::HolderSession(const std::wstring& path) {
  // Never from the program's own folder, where anyone could have put a DLL of that name.
  module_ = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module_ == nullptr) return;
  const auto start = Find<StartSession>(module_, "RmStartSession");
  const auto register_resources = Find<RegisterResources>(module_, "RmRegisterResources");
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  LPCWSTR files[] = {path.c_str()};
  started_ = start && register_resources && start(&session_, 0, key) == ERROR_SUCCESS;
  registered_ =
      started_ && register_resources(session_, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

HolderSession::~HolderSession() {
  if (module_ == nullptr) return;
  const auto end = Find<EndSession>(module_, "RmEndSession");
  if (started_ && end) end(session_);
  FreeLibrary(module_);
}

std::vector<Holder> HolderSession::Holders() {
  std::vector<Holder> holders;
  if (!registered_) return holders;
  const auto get_list = Find<GetList>(module_, "RmGetList");
  RM_PROCESS_INFO found[kMostHolders];
  UINT needed = 0;
  UINT count = kMostHolders;
  DWORD reasons = 0;
  // More holders than there is room for are named as if there were none; those that closed are
  // no longer holders.
  if (get_list && get_list(session_, &needed, &count, found, &reasons) == ERROR_SUCCESS) {
    for (UINT i = 0; i < count && i < kMostHolders; ++i) {
      if (found[i].AppStatus & (RmStatusStopped | RmStatusStoppedOther)) continue;
      holders.push_back(
          {found[i].strAppName, found[i].Process.dwProcessId, found[i].bRestartable != FALSE});
    }
  }
  return holders;
}

std::vector<Holder> HolderSession::Close() {
  if (!registered_) return {};
  const auto shut_down = Find<Act>(module_, "RmShutdown");
  if (shut_down && shut_down(session_, 0, nullptr) == ERROR_SUCCESS) return {};
  return Holders();
}

void HolderSession::Reopen() {
  const auto restart = registered_ ? Find<Act>(module_, "RmRestart") : nullptr;
  if (restart) restart(session_, 0, nullptr);
}

std::vector<Holder> HoldersOf(const std::wstring& path) { return HolderSession(path).Holders(); }
