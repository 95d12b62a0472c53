// A stand-in for Windows' Restart Manager (rstrtmgr.dll), which Wine provides only as stubs
// that name nobody. It names one application, registered to be reopened, as holding whatever
// file is registered: the one ORVEX_TEST_HOLDER names ("NAME|PROCESS-ID|HOW") in the environment
// of the process that loads it, or "a planted DLL" when it was loaded from anywhere but the
// system folder. Asked to shut it down, it ends that process, as one that agrees to close; asked
// to restart it, it creates the file ORVEX_TEST_REOPENED names. HOW plays what Wine cannot
// show: "u" another user's program (in another session, which RmGetList says), "w" one slow to
// close (a second and a half), "s" a service, "f" a restart that Windows says failed for it, "p"
// one it says failed for some, though not for it. "?" one of a kind Windows cannot tell, "r" one
// it may not close (critical, for want of rights), "m" four more named before it (more than the
// installer has room for at first), "l" RmGetList failing once a shutdown was asked, "b" a
// shutdown that closes nobody and waits (ten seconds at most) until RmCancelCurrentTask, having
// set the event "orvex-test-shutdown-waits". RmGetList gives each one's status as Windows keeps it.
#include <windows.h>

#include <restartmanager.h>

#include <cwchar>

#include "installer/file_holders.h"

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

bool shutdown_asked = false;
bool restart_asked = false;
HANDLE cancelled = CreateEventW(nullptr, FALSE, FALSE, nullptr);

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
  const UINT last = Plays(L'm') ? 4 : 0;
  *needed = size > 0 && size < 300 ? last + 1 : 0;
  *reasons = Plays(L'u')   ? RmRebootReasonSessionMismatch
             : Plays(L'r') ? RmRebootReasonPermissionDenied
                           : 0;
  if (Plays(L'l') && shutdown_asked) return ERROR_WRITE_FAULT;
  if (*count < *needed) return ERROR_MORE_DATA;
  *count = *needed;
  if (*needed == 0) return ERROR_SUCCESS;
  wchar_t* separator = wcschr(holder, L'|');
  if (separator != nullptr) *separator = L'\0';
  DWORD session = 0;
  ProcessIdToSessionId(HolderProcess(), &session);
  for (UINT i = 0; i <= last; ++i) {
    ZeroMemory(&apps[i], sizeof apps[i]);
    // The others are programs that are not there: no process id is odd.
    apps[i].Process.dwProcessId = i == last ? HolderProcess() : 0x7FFF0001 + i;
    swprintf(apps[i].strAppName, CCH_RM_MAX_APP_NAME + 1, L"Orvex Helper %u", i + 1);
    apps[i].bRestartable = TRUE;
    apps[i].ApplicationType = Plays(L's')   ? RmService
                              : Plays(L'?') ? RmUnknownApp
                              : Plays(L'r') ? RmCritical
                                            : RmMainWindow;
    apps[i].TSSessionId = Plays(L'u') ? session + 1 : session;
    apps[i].AppStatus = RmStatusRunning;
    if (shutdown_asked && !Plays(L'b')) apps[i].AppStatus = RmStatusStopped;
    if (restart_asked && !Plays(L'b'))
      apps[i].AppStatus = Plays(L'f') ? RmStatusErrorOnRestart : RmStatusRestarted;
  }
  wchar_t module[MAX_PATH];
  wchar_t system[MAX_PATH];
  GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), module, MAX_PATH);
  *wcsrchr(module, L'\\') = L'\0';
  GetSystemDirectoryW(system, MAX_PATH);
  lstrcpynW(apps[last].strAppName, lstrcmpiW(module, system) == 0 ? holder : L"a planted DLL",
            CCH_RM_MAX_APP_NAME + 1);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmShutdown(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK) {
  shutdown_asked = true;
  if (Plays(L'b')) {
    ResetEvent(cancelled);  // a cancellation of no task cancels nothing
    const HANDLE waits = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"orvex-test-shutdown-waits");
    SetEvent(waits);
    CloseHandle(waits);
    return WaitForSingleObject(cancelled, 10'000) == WAIT_OBJECT_0 ? ERROR_CANCELLED
                                                                   : ERROR_TIMEOUT;
  }
  if (Plays(L'w')) Sleep(1'500);
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, HolderProcess());
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10'000);
  CloseHandle(process);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmCancelCurrentTask(DWORD) {
  SetEvent(cancelled);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRestart(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK) {
  wchar_t record[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", record, MAX_PATH);
  CloseHandle(CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  restart_asked = true;
  return Plays(L'f') || Plays(L'p') ? kFailRestart : ERROR_SUCCESS;
}

DWORD WINAPI RmEndSession(DWORD) {
  shutdown_asked = restart_asked = false;
  return ERROR_SUCCESS;
}

}  // extern "C"
