#include "installer/file_holders.h"

#include <restartmanager.h>

#include "host/win32.h"

namespace {

// At most this many holders are named; a file is rarely held by more than one or two.
constexpr UINT kMostHolders = 4;

// RmGetList's reasons that a restart is needed (RM_REBOOT_REASON), and the code with which
// RmShutdown says it closed nothing for one of them.
constexpr DWORD kPermissionDenied = 0x1;
constexpr DWORD kSessionMismatch = 0x2;
constexpr DWORD kCriticalProcess = 0x4;
constexpr DWORD kCriticalService = 0x8;
constexpr DWORD kNoActionRestartNeeded = 350;  // ERROR_FAIL_NOACTION_REBOOT

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

DWORD SessionOf(DWORD process_id) {
  DWORD session = 0;
  return ProcessIdToSessionId(process_id, &session) ? session : 0;
}

// Whether the process `process_id` runs elevated, where this process may ask.
bool ProcessElevated(DWORD process_id) {
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  return process && IsElevated(process.get());
}

}  // namespace

NotClosable WhyNotClosable(const HolderFacts& facts) {
  if (facts.critical) return NotClosable::kPartOfWindows;
  if (facts.other_session) return NotClosable::kOtherUser;
  if ((facts.elevated || facts.service) && !facts.self_elevated) return NotClosable::kAdministrator;
  const DWORD reasons = facts.reboot_reasons;
  if (reasons & (kCriticalProcess | kCriticalService)) return NotClosable::kPartOfWindows;
  if (reasons & kSessionMismatch) return NotClosable::kOtherUser;
  if (reasons & kPermissionDenied) return NotClosable::kAdministrator;
  if (reasons != 0) return NotClosable::kRestartFirst;
  return NotClosable::kNo;
}

bool WindowsCanClose(const std::vector<Holder>& holders) {
  for (const Holder& holder : holders) {
    if (holder.not_closable != NotClosable::kNo) return false;
  }
  return !holders.empty();
}

bool WindowsReopens(const Holder& holder) { return holder.restartable && !holder.elevated; }

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
  if (!get_list || get_list(session_, &needed, &count, found, &reasons) != ERROR_SUCCESS)
    return holders;
  const DWORD own_session = SessionOf(GetCurrentProcessId());
  const bool self_elevated = IsElevated(GetCurrentProcess());
  for (UINT i = 0; i < count && i < kMostHolders; ++i) {
    const RM_PROCESS_INFO& info = found[i];
    if (info.AppStatus & (RmStatusStopped | RmStatusStoppedOther)) continue;
    Holder holder{info.strAppName, info.Process.dwProcessId, info.bRestartable != FALSE};
    holder.service = info.ApplicationType == RmService;
    holder.elevated = ProcessElevated(holder.process_id);
    HolderFacts facts;
    facts.service = holder.service;
    facts.critical = info.ApplicationType == RmCritical;
    // Services run in session 0 whoever asks; the Restart Manager leaves their session unsaid.
    facts.other_session = !holder.service &&
                          info.TSSessionId != static_cast<DWORD>(RM_INVALID_TS_SESSION) &&
                          info.TSSessionId != own_session;
    facts.elevated = holder.elevated;
    facts.self_elevated = self_elevated;
    facts.reboot_reasons = reasons;
    holder.not_closable = WhyNotClosable(facts);
    holders.push_back(std::move(holder));
  }
  return holders;
}

Closing HolderSession::Close() {
  Closing closing;
  if (!registered_) return closing;
  closed_ = Holders();
  const auto shut_down = Find<Act>(module_, "RmShutdown");
  const DWORD result = shut_down ? shut_down(session_, 0, nullptr) : ERROR_PROC_NOT_FOUND;
  if (result == ERROR_SUCCESS) return closing;
  closing.refused = result == kNoActionRestartNeeded;
  closing.stayed = Holders();
  for (Holder& holder : closing.stayed) {
    if (closing.refused && holder.not_closable == NotClosable::kNo)
      holder.not_closable = NotClosable::kRestartFirst;
    for (auto closed = closed_.begin(); closed != closed_.end(); ++closed) {
      if (closed->process_id == holder.process_id) {
        closed_.erase(closed);
        break;
      }
    }
  }
  return closing;
}

std::vector<Holder> HolderSession::Reopen() {
  const auto restart = registered_ ? Find<Act>(module_, "RmRestart") : nullptr;
  const bool reopened = restart && restart(session_, 0, nullptr) == ERROR_SUCCESS;
  std::vector<Holder> not_reopened;
  for (const Holder& holder : closed_) {
    if (!reopened || !WindowsReopens(holder)) not_reopened.push_back(holder);
  }
  return not_reopened;
}

std::vector<Holder> HoldersOf(const std::wstring& path) { return HolderSession(path).Holders(); }
