#include "installer/installer.h"

#include <cstdio>
#include <string>

#include "host/locator.h"

namespace {

void PrintLine(const char* message) {
  std::fputs(message, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

// Paths may hold any character: a console gets UTF-16 as is, a file or pipe gets UTF-8.
void PrintError(const std::wstring& message) {
  const std::wstring line = message + L"\r\n";
  const HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(stream, &mode)) {
    WriteConsoleW(stream, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = Utf8(line);
  WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

ExitCode ExitCodeFor(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return kExitAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return kExitFileInUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kExitDiskFull;
    case kLockBusyCode:
      return kExitBusy;
    default:
      return kExitFailed;
  }
}

int RunInstaller() {
  const std::wstring directory = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (directory.empty()) {
    PrintLine(kNotInstalledMessage);
    return kExitHostNotInstalled;
  }

  const InstallResult result =
      InstallPayloads(directory, BuildPayloadTable(), GetModuleHandleW(nullptr));
  if (result.state == InstallState::kInstalled) {
    for (const Failure& problem : result.problems)
      PrintError(L"warning: " + Describe(problem));
    PrintLine(kCompletedMessage);
    return kExitInstalled;
  }
  for (const Failure& problem : result.problems) PrintError(Describe(problem));
  PrintError(result.state == InstallState::kUnchanged
                 ? L"installation failed; " + directory + L" was left unchanged"
                 : L"installation failed and " + directory +
                       L" could not be fully restored; run the installer again to restore it");
  return ExitCodeFor(result.problems.front().code);
}
