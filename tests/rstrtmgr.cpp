// A stand-in for Windows' Restart Manager (rstrtmgr.dll), which Wine provides only as stubs
// that name nobody. It names one application, registered to be reopened, as holding whatever
// file is registered: the one ORVEX_TEST_HOLDER names ("NAME|PROCESS-ID|HOW") in the environment
// of the process that loads it, or "a planted DLL" when it was loaded from anywhere but the
// system folder. Asked to shut it down, it ends that process, as one that agrees to close; asked
// to restart it, it creates the file ORVEX_TEST_REOPENED names. RmGetList gives each one's
// status as Windows keeps it: running, stopped after the shutdown, restarted (or not) after the
// restart. HOW plays what Wine cannot show: "u" another user's program (in another session,
// which RmGetList says), "w" one slow to close (a second and a half), "s" a service, "f" a
// restart that Windows says failed for it, "p" one it says failed for some, though not for it,
// "?" one of a kind Windows cannot tell (RmUnknownApp), "r" one Windows cannot close for want
// of rights (RmCritical, the list saying permission denied), "m" four more applications
// named before it, more than the installer has room for at first, "b" a shutdown that closes
// nobody and waits until RmCancelCurrentTask (ten seconds at most), having set the event
// "orvex-test-shutdown-waits" where there is one, "l" RmGetList failing once a shutdown was
// asked.
#include <windows.h>

#include <restartmanager.h>

#include <cwchar>

#include "installer/file_holders.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Where the session has come to, for each application's status.
enum class Stage { kListed, kShutDown, kRestarted };
Stage stage = Stage::kListed;
HANDLE cancelled = nullptr;
volatile LONG shutting_down = 0;

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

// Whether the shutdown closed the holders.
bool ShutDown() { return stage != Stage::kListed && !Plays(L'b'); }

// Fills `app` for the application `name`, process `process_id`, in `session`.
void Describe(RM_PROCESS_INFO& app, const wchar_t* name, DWORD process_id, DWORD session) {
  ZeroMemory(&app, sizeof app);
  app.Process.dwProcessId = process_id;
  lstrcpynW(app.strAppName, name, CCH_RM_MAX_APP_NAME + 1);
  app.bRestartable = TRUE;
  app.ApplicationType = Plays(L's')   ? RmService
                        : Plays(L'?') ? RmUnknownApp
                        : Plays(L'r') ? RmCritical
                                      : RmMainWindow;
  app.TSSessionId = Plays(L'u') ? session + 1 : session;
  app.AppStatus = !ShutDown()                 ? RmStatusRunning
                  : stage == Stage::kShutDown ? RmStatusStopped
                  : Plays(L'f')               ? RmStatusErrorOnRestart
                                              : RmStatusRestarted;
}

}  // namespace

extern "C" {

DWORD WINAPI RmStartSession(DWORD* session, DWORD, WCHAR key[]) {
  *session = 1;
  key[0] = L'\0';
  stage = Stage::kListed;
  if (cancelled == nullptr) cancelled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRegisterResources(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                 LPCWSTR[]) {
  return ERROR_SUCCESS;
}

DWORD WINAPI RmGetList(DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO apps[], LPDWORD reasons) {
  *reasons = 0;
  if (Plays(L'l') && stage != Stage::kListed) return ERROR_WRITE_FAULT;
  wchar_t holder[300];
  const DWORD size = GetEnvironmentVariableW(L"ORVEX_TEST_HOLDER", holder, 300);
  const UINT others = Plays(L'm') ? 4 : 0;
  *needed = size > 0 && size < 300 ? others + 1 : 0;
  if (*count < *needed) return ERROR_MORE_DATA;
  *count = *needed;
  if (*needed == 0) return ERROR_SUCCESS;
  wchar_t* separator = wcschr(holder, L'|');
  if (separator != nullptr) *separator = L'\0';
  const DWORD process_id = HolderProcess();
  DWORD session = 0;
  ProcessIdToSessionId(process_id, &session);
  // Programs that are not there: no process id is odd.
  for (UINT i = 0; i < others; ++i) {
    wchar_t name[] = L"Orvex Helper 0";
    name[13] = static_cast<wchar_t>(L'1' + i);
    Describe(apps[i], name, 0x7FFF0001 + i, session);
  }
  wchar_t module[MAX_PATH];
  wchar_t system[MAX_PATH];
  GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), module, MAX_PATH);
  *wcsrchr(module, L'\\') = L'\0';
  GetSystemDirectoryW(system, MAX_PATH);
  Describe(apps[others], lstrcmpiW(module, system) == 0 ? holder : L"a planted DLL", process_id,
           session);
  if (Plays(L'u')) *reasons = RmRebootReasonSessionMismatch;
  if (Plays(L'r')) *reasons = RmRebootReasonPermissionDenied;
  return ERROR_SUCCESS;
}

DWORD WINAPI RmShutdown(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK) {
  stage = Stage::kShutDown;
  if (Plays(L'b')) {
    ResetEvent(cancelled);
    InterlockedExchange(&shutting_down, 1);
    const HANDLE waits = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"orvex-test-shutdown-waits");
    SetEvent(waits);
    CloseHandle(waits);
    const DWORD waited = WaitForSingleObject(cancelled, 10'000);
    InterlockedExchange(&shutting_down, 0);
    return waited == WAIT_OBJECT_0 ? ERROR_CANCELLED : ERROR_TIMEOUT;
  }
  if (Plays(L'w')) Sleep(1'500);
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, HolderProcess());
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10'000);
  CloseHandle(process);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmCancelCurrentTask(DWORD) {
  if (InterlockedCompareExchange(&shutting_down, 0, 0) != 0) SetEvent(cancelled);
  return ERROR_SUCCESS;
}

DWORD WINAPI RmRestart(DWORD, DWORD, RM_WRITE_STATUS_CALLBACK) {
  wchar_t record[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ORVEX_TEST_REOPENED", record, MAX_PATH);
  CloseHandle(CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  stage = Stage::kRestarted;
  return Plays(L'f') || Plays(L'p') ? kFailRestart : ERROR_SUCCESS;
}

DWORD WINAPI RmEndSession(DWORD) { return ERROR_SUCCESS; }

}  // extern "C"
