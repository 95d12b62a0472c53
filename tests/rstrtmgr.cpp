// A stand-in for Windows' Restart Manager (rstrtmgr.dll), which Wine provides only as stubs
// that name nobody. It names one application, registered to be reopened, as holding whatever
// file is registered: the one ORVEX_TEST_HOLDER names ("NAME|PROCESS-ID|HOW") in the environment
// of the process that loads it, or "a planted DLL" when it was loaded from anywhere but the
// system folder. Asked to shut it down, it ends that process, as one that agrees to close; asked
// to restart it, it creates the file ORVEX_TEST_REOPENED names. HOW plays what Wine cannot
// show: "u" another user's program (in another session, which RmGetList says), "w" one slow to
// close (a second and a half), "s" a service, "f" a restart that Windows says failed for it, "p"
// one it says failed for some, though not for it.
#include <windows.h>

#include <restartmanager.h>

#include <cwchar>

extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" {

DWORD WINAPI RmStartSession(DWORD* session, DWORD, WCHAR key[]) {
  *session = 1;
  key[0] = L'\0';
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRegisterResources(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                 LPCWSTR[]) {
  return ERROR_SUCCESS;
}

namespace {

bool restart_asked = false;

DWORD HolderProcess() {
  wchar_t holder[300] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder, 300);
  const wchar_t* separator = wcschr(holder, L'|');
  return separator ? wcstoul(separator + 1, nullptr, 10) : 0;
}

// Whether ORVEX_TEST_HOLDER's HOW holds `how`.
bool Plays(wchar_t how) {
  wchar_t holder[300] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder, 300);
  const wchar_t* last = wcsrchr(holder, L'|');
  return last != nullptr && last != wcschr(holder, L'|') && wcschr(last, how) != nullptr;
}

}  // namespace

DWORD WINAPI RmGetList(DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO apps[], LPDWORD reasons) {
  wchar_t holder[300];
  const DWORD size = GetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder, 300);
  *needed = size > 0 && size < 300 ? 1 : 0;
  *reasons = 0;
  if (*count < *needed) return ERROR_MORE_DATA;
  *count = *needed;
  if (*needed == 0) return ERROR_SUCCESS;
  ZeroMemory(&apps[0], sizeof apps[0]);
  apps[0].bRestartable = TRUE;
  apps[0].ApplicationType = Plays(L's') ? RmService : RmMainWindow;
  if (restart_asked)
    apps[0].AppStatus = Plays(L'p') ? RmStatusRestarted : Plays(L'f') ? RmStatusErrorOnRestart : 0;
  wchar_t* separator = wcschr(holder, L'|');
  if (separator != nullptr) {
    *separator = L'\0';
    apps[0].Process.dwProcessId = wcstoul(separator + 1, nullptr, 10);
  }
  DWORD session = 0;
  ProcessIdToSessionId(apps[0].Process.dwProcessId, &session);
  apps[0].TSSessionId = Plays(L'u') ? session + 1 : session;
  if (Plays(L'u')) *reasons = RmRebootReasonSessionMismatch;
  wchar_t module[MAX_PATH];
  wchar_t system[MAX_PATH];
  GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), module, MAX_PATH);
  *wcsrchr(module, L'\\') = L'\0';
  GetSystemDirectoryW(system, MAX_PATH);
  lstrcpynW(apps[0].strAppName, lstrcmpiW(module, system) == 0 ? holder : L"a planted DLL",
            CCH_RM_MAX_APP_NAME + 1);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmShutdown(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK) {
  if (Plays(L'w')) Sleep(1'500);
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, HolderProcess());
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10'000);
  CloseHandle(process);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRestart(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK) {
  wchar_t record[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", record, MAX_PATH);
  CloseHandle(CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  restart_asked = true;
  return Plays(L'f') || Plays(L'p') ? 352 : ERROR_SUCCESS;  // ERROR_FAIL_RESTART
}

DWORD WINAPI RmEndSession(DWORD) { return ERROR_SUCCESS; }

}  // extern "C"
