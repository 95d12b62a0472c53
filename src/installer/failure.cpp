#include "installer/failure.h"

#include <utility>

#include "host/win32.h"

namespace {

// ntdll keeps the status behind the last error; it is looked up once, at start-up, so that the
// look-up itself cannot overwrite a status about to be read.
using LastStatusFunction = LONG(WINAPI*)();
const LastStatusFunction kLastStatus =
    ProcedureOf<LastStatusFunction>(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus");

}  // namespace

Failure::Failure(std::wstring what, DWORD code, Outcome outcome)
    : what(std::move(what)), code(code), outcome(outcome) {}
Failure::Failure(DWORD code, Outcome outcome) : code(code), outcome(outcome) {}
Failure::Failure(Failure&& other) noexcept = default;
Failure::Failure(const Failure& other) = default;
Failure& Failure::operator=(Failure&& other) noexcept = default;
Failure& Failure::operator=(const Failure& other) = default;
Failure::~Failure() = default;

Failure Finding(std::wstring what, Outcome outcome) {
  return {std::move(what), ERROR_SUCCESS, outcome};
}

SystemError LastSystemError() {
  SystemError error{GetLastError(), 0};
  if (error.code == ERROR_ACCESS_DENIED && kLastStatus != nullptr) error.status = kLastStatus();
  return error;
}

Outcome OutcomeOfError(const SystemError& error) {
  switch (error.code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_DELETE_PENDING:
      return Outcome::kInUse;
    case ERROR_ACCESS_DENIED:
      return error.status == kStatusDeletePending || error.status == kStatusCannotDelete
                 ? Outcome::kInUse
                 : Outcome::kRefused;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Outcome::kDiskFull;
    default:
      return Outcome::kFailed;
  }
}

Failure SystemFailure(std::wstring what, DWORD code) {
  return {std::move(what), code, OutcomeOfError({code, 0})};
}

std::wstring Describe(const Failure& failure) {
  if (failure.code == ERROR_SUCCESS) return failure.what;
  return failure.what + L": " + SystemMessage(failure.code);
}
