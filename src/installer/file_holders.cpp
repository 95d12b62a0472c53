#include "installer/file_holders.h"

#include <restartmanager.h>

namespace {

// At most this many holders are named; a file is rarely held by more than one or two.
constexpr UINT kMostHolders = 4;

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using EndSession = DWORD(WINAPI*)(DWORD);

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::vector<Holder> HoldersOf(const std::wstring& path) {
  std::vector<Holder> holders;
  // Never from the program's own folder, where anyone could have put a DLL of that name.
  const HMODULE module = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return holders;
  const auto start = Find<StartSession>(module, "RmStartSession");
  const auto register_resources = Find<RegisterResources>(module, "RmRegisterResources");
  const auto get_list = Find<GetList>(module, "RmGetList");
  const auto end = Find<EndSession>(module, "RmEndSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start && register_resources && get_list && end && start(&session, 0, key) == ERROR_SUCCESS) {
    LPCWSTR files[] = {path.c_str()};
    RM_PROCESS_INFO found[kMostHolders];
    UINT needed = 0;
    UINT count = kMostHolders;
    DWORD reasons = 0;
    // More holders than there is room for are named as if there were none.
    if (register_resources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        get_list(session, &needed, &count, found, &reasons) == ERROR_SUCCESS) {
      for (UINT i = 0; i < count && i < kMostHolders; ++i)
        holders.push_back({found[i].strAppName, found[i].Process.dwProcessId});
    }
    end(session);
  }
  FreeLibrary(module);
  return holders;
}
