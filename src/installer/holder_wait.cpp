#include "installer/holder_wait.h"

#include <algorithm>
#include <utility>

namespace {

// ntdll keeps the status behind the last error; it is looked up once, at start-up, so that the
// look-up itself cannot overwrite a status about to be read.
using LastStatusFunction = LONG(WINAPI*)();
const LastStatusFunction kLastStatus = reinterpret_cast<LastStatusFunction>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));

}  // namespace

SystemError LastSystemError() {
  SystemError error{GetLastError(), 0};
  if (error.code == ERROR_ACCESS_DENIED && kLastStatus != nullptr) error.status = kLastStatus();
  return error;
}

bool HeldForNow(const SystemError& error) {
  switch (error.code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return true;
    case ERROR_ACCESS_DENIED:
      return error.status == kStatusDeletePending || error.status == kStatusCannotDelete;
    default:
      return false;
  }
}

Failure FailureOf(std::wstring what, const SystemError& error) {
  if (error.outlasted_wait) return {std::move(what), error.code, FailureKind::kInUse};
  return {std::move(what), error.code};
}

bool HolderWait::Pause(DWORD& pause) {
  if (left_ms_ == 0) return false;
  const DWORD wait = std::min(pause, left_ms_);
  Sleep(wait);
  left_ms_ -= wait;
  pause = std::min(2 * pause, kLongestPauseMilliseconds);
  return true;
}

SystemError HolderWait::Outlasted(SystemError error) {
  error.outlasted_wait = true;
  return error;
}
