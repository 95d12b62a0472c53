#include "installer/file_holders.h"

namespace {

// At most this many holders are named; a file is rarely held by more than one or two.
constexpr UINT kMostHolders = 4;

// RmGetList's reasons that a restart is needed (RM_REBOOT_REASON), and the codes with which
// RmShutdown says it closed nothing for one of them and RmRestart that it reopened not all.
constexpr DWORD kPermissionDenied = 0x1;
constexpr DWORD kSessionMismatch = 0x2;
constexpr DWORD kCriticalProcess = 0x4;
constexpr DWORD kCriticalService = 0x8;
constexpr DWORD kNoActionRestartNeeded = 350;  // ERROR_FAIL_NOACTION_REBOOT
constexpr DWORD kFailRestart = 352;            // ERROR_FAIL_RESTART

constexpr wchar_t kRestartManager[] = L"rstrtmgr.dll";

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

bool AnyHolder(const std::vector<Holder>& holders, NotClosable why) {
  for (const Holder& holder : holders) {
    if (holder.not_closable == why) return true;
  }
  return false;
}

}  // namespace

void RestartManagerSessionTraits::Close(DWORD session) {
  // The Restart Manager that started the session is loaded as long as it lasts.
  if (const auto end = Find<EndSession>(GetModuleHandleW(kRestartManager), "RmEndSession"))
    end(session);
}

NotClosable WhyNotClosable(const HolderFacts& facts) {
  if (facts.critical) return NotClosable::kPartOfWindows;
  if (facts.other_session) return NotClosable::kOtherUser;
  if ((facts.elevated || facts.service) && !facts.self_elevated) return NotClosable::kAdministrator;
  return NotClosable::kNo;
}

NotClosable WhyNotAllClosable(DWORD reboot_reasons, const std::vector<Holder>& holders) {
  DWORD unexplained = reboot_reasons;
  if (AnyHolder(holders, NotClosable::kPartOfWindows))
    unexplained &= ~(kCriticalProcess | kCriticalService);
  if (AnyHolder(holders, NotClosable::kOtherUser)) unexplained &= ~kSessionMismatch;
  if (AnyHolder(holders, NotClosable::kAdministrator)) unexplained &= ~kPermissionDenied;
  if (unexplained & (kCriticalProcess | kCriticalService)) return NotClosable::kPartOfWindows;
  if (unexplained & kSessionMismatch) return NotClosable::kOtherUser;
  if (unexplained & kPermissionDenied) return NotClosable::kAdministrator;
  if (unexplained != 0) return NotClosable::kRestartFirst;
  return NotClosable::kNo;
}

bool WindowsCanClose(const HolderList& holders) {
  if (holders.named.empty() || holders.why_not_all != NotClosable::kNo) return false;
  for (const Holder& holder : holders.named) {
    if (holder.not_closable != NotClosable::kNo) return false;
  }
  return true;
}

bool WindowsReopens(const Holder& holder) {
  return holder.service || (holder.restartable && !holder.elevated);
}

bool WindowsReopened(const Holder& holder, DWORD result, DWORD status_after) {
  if (!WindowsReopens(holder)) return false;
  if (result == ERROR_SUCCESS) return true;
  return result == kFailRestart && (status_after & RmStatusRestarted) &&
         !(status_after & RmStatusErrorOnRestart);
}

HolderSession::HolderSession(const std::wstring& path) {
  // Never from the program's own folder, where anyone could have put a DLL of that name.
  module_.reset(LoadLibraryExW(kRestartManager, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module_) return;
  const auto start = Find<StartSession>(module_.get(), "RmStartSession");
  const auto register_resources = Find<RegisterResources>(module_.get(), "RmRegisterResources");
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  LPCWSTR files[] = {path.c_str()};
  DWORD session = 0;
  if (!start || !register_resources || start(&session, 0, key) != ERROR_SUCCESS) return;
  session_.reset(session);
  registered_ = register_resources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

// What RmGetList says of the session's file: the applications that hold it, and in
// `reasons` why a restart is needed; none where more hold it than there is room for.
std::vector<RM_PROCESS_INFO> HolderSession::List(DWORD& reasons) {
  reasons = 0;
  const auto get_list = registered_ ? Find<GetList>(module_.get(), "RmGetList") : nullptr;
  std::vector<RM_PROCESS_INFO> found(kMostHolders);
  UINT needed = 0;
  UINT count = kMostHolders;
  if (!get_list ||
      get_list(session_.get(), &needed, &count, found.data(), &reasons) != ERROR_SUCCESS)
    count = 0;
  found.resize(count < kMostHolders ? count : kMostHolders);
  return found;
}

HolderList HolderSession::Holders() {
  HolderList holders;
  DWORD reasons = 0;
  const std::vector<RM_PROCESS_INFO> found = List(reasons);
  const DWORD own_session = SessionOf(GetCurrentProcessId());
  const bool self_elevated = IsElevated(GetCurrentProcess());
  for (const RM_PROCESS_INFO& info : found) {
    // Those that closed are no longer holders.
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
    holder.not_closable = WhyNotClosable(facts);
    holders.named.push_back(std::move(holder));
  }
  holders.why_not_all = WhyNotAllClosable(reasons, holders.named);
  return holders;
}

Closing HolderSession::Close() {
  Closing closing;
  if (!registered_) return closing;
  AcquireSRWLockExclusive(&lock_);
  closing = CloseHolders();
  ReleaseSRWLockExclusive(&lock_);
  return closing;
}

Closing HolderSession::CloseHolders() {
  Closing closing;
  closed_ = Holders().named;
  const auto shut_down = Find<Act>(module_.get(), "RmShutdown");
  const DWORD result = shut_down ? shut_down(session_.get(), 0, nullptr) : ERROR_PROC_NOT_FOUND;
  if (result == ERROR_SUCCESS) return closing;
  closing.refused = result == kNoActionRestartNeeded;
  closing.stayed = Holders();
  if (closing.refused && closing.stayed.why_not_all == NotClosable::kNo)
    closing.stayed.why_not_all = NotClosable::kRestartFirst;
  for (const Holder& holder : closing.stayed.named) {
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
  AcquireSRWLockExclusive(&lock_);
  std::vector<Holder> not_reopened;
  if (!reopen_asked_) not_reopened = ReopenClosed();
  reopen_asked_ = true;
  ReleaseSRWLockExclusive(&lock_);
  return not_reopened;
}

std::vector<Holder> HolderSession::ReopenClosed() {
  std::vector<Holder> not_reopened;
  if (closed_.empty()) return not_reopened;
  const auto restart = Find<Act>(module_.get(), "RmRestart");
  const DWORD result = restart ? restart(session_.get(), 0, nullptr) : ERROR_PROC_NOT_FOUND;
  DWORD reasons = 0;
  const std::vector<RM_PROCESS_INFO> after =
      result == kFailRestart ? List(reasons) : std::vector<RM_PROCESS_INFO>{};
  for (const Holder& holder : closed_) {
    DWORD status = 0;
    for (const RM_PROCESS_INFO& info : after) {
      if (info.Process.dwProcessId == holder.process_id) status = info.AppStatus;
    }
    if (!WindowsReopened(holder, result, status)) not_reopened.push_back(holder);
  }
  return not_reopened;
}

HolderList HoldersOf(const std::wstring& path) { return HolderSession(path).Holders(); }
