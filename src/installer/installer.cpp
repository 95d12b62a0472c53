#include "installer/installer.h"

#include <cstdio>
#include <string>

#include "host/locator.h"
#include "installer/long_paths.h"

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

// The run works on the extended-length form of the folder, so that a path past 260 characters
// works; messages show the folder the way the user knows it.
std::wstring AsShown(std::wstring message, const std::wstring& used, const std::wstring& shown) {
  if (used == shown) return message;
  for (size_t at = message.find(used); at != std::wstring::npos;
       at = message.find(used, at + shown.size()))
    message.replace(at, used.size(), shown);
  return message;
}

}  // namespace

ExitCode ExitCodeFor(DWORD code) {
  if (IsInUse(code)) return kExitFileInUse;
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return kExitAccessDenied;
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
  const std::wstring shown = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (shown.empty()) {
    PrintLine(kNotInstalledMessage);
    return kExitHostNotInstalled;
  }
  const std::wstring directory = ExtendedLengthPath(shown);
  const auto print = [&](const std::wstring& message) {
    PrintError(AsShown(message, directory, shown));
  };

  const InstallResult result =
      InstallPayloads(directory, BuildPayloadTable(), GetModuleHandleW(nullptr));
  if (result.state == InstallState::kInstalled || result.state == InstallState::kScheduled) {
    for (const Failure& problem : result.problems) print(L"warning: " + Describe(problem));
    if (result.state == InstallState::kScheduled) {
      PrintLine(kRestartMessage);
      return kExitRestartRequired;
    }
    PrintLine(kCompletedMessage);
    return kExitInstalled;
  }
  for (const Failure& problem : result.problems) print(Describe(problem));
  print(result.state == InstallState::kUnchanged
            ? L"installation failed; " + directory + L" was left unchanged"
            : L"installation failed and " + directory +
                  L" could not be fully restored; run the installer again to restore it");
  return ExitCodeFor(result.problems.front().code);
}
