#include "installer/file_holders.h"

namespace {

// Room for this many holders at first; a file is rarely held by more than one or two, and where
// more hold it the list is read again with room for all.
constexpr UINT kRoomAtFirst = 4;
// Reads of the list, at most, where it grows between one read and the next.
constexpr int kMostListReads = 4;

// What each of RmGetList's reasons that a restart is needed (RM_REBOOT_REASON) says of the
// holders it concerns.
struct RebootReason {
  DWORD bits;
  NotClosable why;
};
constexpr RebootReason kRebootReasons[] = {
    {RmRebootReasonPermissionDenied, NotClosable::kAdministrator},
    {RmRebootReasonSessionMismatch, NotClosable::kOtherUser},
    {RmRebootReasonCriticalProcess | RmRebootReasonCriticalService, NotClosable::kPartOfWindows},
    // The process that asks, this installer, would have to be closed.
    {RmRebootReasonDetectedSelf, NotClosable::kThisInstaller},
};

constexpr wchar_t kRestartManager[] = L"rstrtmgr.dll";

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
using Act = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);
using SessionCall = DWORD(WINAPI*)(DWORD);

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

bool AnyCritical(const std::vector<Holder>& holders) {
  for (const Holder& holder : holders) {
    if (holder.critical) return true;
  }
  return false;
}

bool Closed(const RM_PROCESS_INFO& info) {
  return (info.AppStatus & (RmStatusStopped | RmStatusStoppedOther)) != 0;
}

// The holder among `holders` with the process id `process_id`; none where there is none.
const Holder* WithId(const std::vector<Holder>& holders, DWORD process_id) {
  for (const Holder& holder : holders) {
    if (holder.process_id == process_id) return &holder;
  }
  return nullptr;
}

// The status `list` gives the process `process_id`; RmStatusUnknown where it gives none.
DWORD StatusIn(const std::optional<std::vector<RM_PROCESS_INFO>>& list, DWORD process_id) {
  if (!list) return RmStatusUnknown;
  for (const RM_PROCESS_INFO& info : *list) {
    if (info.Process.dwProcessId == process_id) return info.AppStatus;
  }
  return RmStatusUnknown;
}

// Whom a shutdown closed, by the list read after it (`after`, in which `stayed` still run): those
// it says closed, as known `before` where they were, and those known before that are gone.
std::vector<Holder> WhomWindowsClosed(const std::vector<Holder>& before,
                                      const std::vector<RM_PROCESS_INFO>& after,
                                      const std::vector<Holder>& stayed) {
  std::vector<Holder> closed;
  for (const RM_PROCESS_INFO& info : after) {
    if (!Closed(info)) continue;
    const Holder* known = WithId(before, info.Process.dwProcessId);
    closed.push_back(known ? *known
                           : Holder{info.strAppName, info.Process.dwProcessId,
                                    info.bRestartable != FALSE, info.ApplicationType == RmService});
  }
  for (const Holder& holder : before) {
    if (!WithId(stayed, holder.process_id) && !WithId(closed, holder.process_id))
      closed.push_back(holder);
  }
  return closed;
}

// The holders `found` names that still run, each with its own reason, and the list's reasons.
HolderList HoldersIn(const std::vector<RM_PROCESS_INFO>& found, DWORD reasons) {
  HolderList holders;
  const DWORD own_session = SessionOf(GetCurrentProcessId());
  const bool self_elevated = IsElevated(GetCurrentProcess());
  for (const RM_PROCESS_INFO& info : found) {
    if (Closed(info)) continue;
    Holder holder{info.strAppName, info.Process.dwProcessId, info.bRestartable != FALSE};
    holder.service = info.ApplicationType == RmService;
    holder.elevated = ProcessElevated(holder.process_id);
    holder.critical = info.ApplicationType == RmCritical;
    HolderFacts facts;
    facts.service = holder.service;
    facts.critical = holder.critical;
    // Services run in session 0 whoever asks; the Restart Manager leaves their session unsaid.
    facts.other_session = !holder.service &&
                          info.TSSessionId != static_cast<DWORD>(RM_INVALID_TS_SESSION) &&
                          info.TSSessionId != own_session;
    facts.elevated = holder.elevated;
    facts.self_elevated = self_elevated;
    facts.unknown_kind = info.ApplicationType == RmUnknownApp;
    holder.not_closable = WhyNotClosable(facts);
    holders.named.push_back(std::move(holder));
  }
  holders.why_not_all = WhyNotAllClosable(reasons, holders.named);
  return holders;
}

}  // namespace

void RestartManagerSessionTraits::Close(DWORD session) {
  // The Restart Manager that started the session is loaded as long as it lasts.
  if (const auto end = ProcedureOf<SessionCall>(GetModuleHandleW(kRestartManager), "RmEndSession"))
    end(session);
}

NotClosable WhyNotClosable(const HolderFacts& facts) {
  if (facts.critical) return NotClosable::kNo;
  if (facts.other_session) return NotClosable::kOtherUser;
  if ((facts.elevated || facts.service) && !facts.self_elevated) return NotClosable::kAdministrator;
  // Such a program is closed only by force, and a program forced to close loses unsaved work.
  if (facts.unknown_kind) return NotClosable::kOnlyByForce;
  return NotClosable::kNo;
}

NotClosable WhyNotAllClosable(DWORD reboot_reasons, const std::vector<Holder>& holders) {
  NotClosable why = NotClosable::kNo;
  DWORD unknown = reboot_reasons;
  for (const RebootReason& reason : kRebootReasons) {
    unknown &= ~reason.bits;
    if ((reboot_reasons & reason.bits) && !AnyHolder(holders, reason.why)) why = why | reason.why;
  }
  if (unknown != 0) why = why | NotClosable::kRestartFirst;
  if (why == NotClosable::kNo && AnyCritical(holders)) return NotClosable::kUnsaid;
  return why;
}

bool ConcernedByTheList(const HolderList& holders, const Holder& holder) {
  if (AnyCritical(holders.named)) return holder.critical;
  return holder.not_closable == NotClosable::kNo;
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
  if (status_after & RmStatusErrorOnRestart) return false;
  if (status_after & RmStatusRestarted) return true;
  return result == ERROR_SUCCESS && WindowsReopens(holder);
}

HolderSession::HolderSession(const std::wstring& path) {
  // Never from the program's own folder, where anyone could have put a DLL of that name.
  module_.reset(LoadLibraryExW(kRestartManager, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module_) return;
  const auto start = ProcedureOf<StartSession>(module_.get(), "RmStartSession");
  const auto register_resources =
      ProcedureOf<RegisterResources>(module_.get(), "RmRegisterResources");
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  LPCWSTR files[] = {path.c_str()};
  DWORD session = 0;
  if (!start || !register_resources || start(&session, 0, key) != ERROR_SUCCESS) return;
  session_.reset(session);
  registered_ = register_resources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

// What RmGetList says of the session's file, the whole list: the applications that hold it or
// held it during the session, each with its status, and in `reasons` why a restart is needed;
// none where it cannot say.
std::optional<std::vector<RM_PROCESS_INFO>> HolderSession::List(DWORD& reasons) {
  reasons = 0;
  const auto get_list = registered_ ? ProcedureOf<GetList>(module_.get(), "RmGetList") : nullptr;
  std::vector<RM_PROCESS_INFO> found(kRoomAtFirst);
  for (int read = 0; get_list && read < kMostListReads; ++read) {
    UINT needed = 0;
    UINT count = static_cast<UINT>(found.size());
    const DWORD result = get_list(session_.get(), &needed, &count, found.data(), &reasons);
    if (result == ERROR_SUCCESS) {
      found.resize(count < found.size() ? count : found.size());
      return found;
    }
    if (result != ERROR_MORE_DATA) break;
    // Room for a few more, who may come before the next read.
    found.resize(needed + kRoomAtFirst);
  }
  reasons = 0;
  return std::nullopt;
}

HolderList HolderSession::Holders() {
  DWORD reasons = 0;
  const std::optional<std::vector<RM_PROCESS_INFO>> found = List(reasons);
  return found ? HoldersIn(*found, reasons) : HolderList{};
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
  const auto shut_down = ProcedureOf<Act>(module_.get(), "RmShutdown");
  if (!shut_down) return closing;
  // Those known before, for where Windows cannot say afterwards whom it closed.
  const std::vector<Holder> before = Holders().named;
  AcquireSRWLockExclusive(&cancel_lock_);
  shutting_down_ = !cancelled_;
  const bool begins = shutting_down_;
  ReleaseSRWLockExclusive(&cancel_lock_);
  if (!begins) return closing;
  // Windows reads the list again and closes whoever holds the file then.
  shutdown_asked_ = true;
  const DWORD result = shut_down(session_.get(), 0, nullptr);
  AcquireSRWLockExclusive(&cancel_lock_);
  shutting_down_ = false;
  ReleaseSRWLockExclusive(&cancel_lock_);
  closing.refused = result == kFailNoActionReboot;
  DWORD reasons = 0;
  const std::optional<std::vector<RM_PROCESS_INFO>> after = List(reasons);
  if (!after) {
    closed_ = before;
    return closing;
  }
  const HolderList stayed = HoldersIn(*after, reasons);
  closed_ = WhomWindowsClosed(before, *after, stayed.named);
  if (result == ERROR_SUCCESS) return closing;
  closing.stayed = stayed;
  if (closing.refused && closing.stayed.why_not_all == NotClosable::kNo)
    closing.stayed.why_not_all = NotClosable::kRestartFirst;
  return closing;
}

void HolderSession::CancelClose() {
  AcquireSRWLockExclusive(&cancel_lock_);
  cancelled_ = true;
  const auto cancel =
      registered_ ? ProcedureOf<SessionCall>(module_.get(), "RmCancelCurrentTask") : nullptr;
  if (shutting_down_ && cancel) cancel(session_.get());
  ReleaseSRWLockExclusive(&cancel_lock_);
}

std::vector<Holder> HolderSession::Reopen() {
  AcquireSRWLockExclusive(&lock_);
  // Programs are never closed after they were to be reopened.
  CancelClose();
  std::vector<Holder> not_reopened;
  if (!reopen_asked_) not_reopened = ReopenClosed();
  reopen_asked_ = true;
  ReleaseSRWLockExclusive(&lock_);
  return not_reopened;
}

std::vector<Holder> HolderSession::ReopenClosed() {
  std::vector<Holder> not_reopened;
  // Even where the shutdown failed, was cancelled or seemed to close nobody, as Windows asks of
  // installers: it may have closed programs all the same.
  if (!shutdown_asked_) return not_reopened;
  const auto restart = ProcedureOf<Act>(module_.get(), "RmRestart");
  const DWORD result = restart ? restart(session_.get(), 0, nullptr) : ERROR_PROC_NOT_FOUND;
  DWORD reasons = 0;
  const std::optional<std::vector<RM_PROCESS_INFO>> after = List(reasons);
  for (const Holder& holder : closed_) {
    if (!WindowsReopened(holder, result, StatusIn(after, holder.process_id)))
      not_reopened.push_back(holder);
  }
  return not_reopened;
}

HolderList HoldersOf(const std::wstring& path) { return HolderSession(path).Holders(); }
