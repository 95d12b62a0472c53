#include "installer/installer.h"

#include <string>
#include <vector>

#include "host/locator.h"
#include "installer/console.h"
#include "installer/file_holders.h"
#include "installer/guidance.h"
#include "installer/long_paths.h"

namespace {

// The run works on the extended-length form of the folder, so that a path past 260 characters
// works; messages show the folder the way the user knows it.
std::wstring AsShown(std::wstring message, const std::wstring& used, const std::wstring& shown) {
  if (used == shown) return message;
  for (size_t at = message.find(used); at != std::wstring::npos;
       at = message.find(used, at + shown.size()))
    message.replace(at, used.size(), shown);
  return message;
}

// Who holds the file in use, `held_file`, where Windows can tell: named in the line that says
// it is in use, the first.
std::vector<Holder> NameHolders(InstallResult& result, const std::wstring& held_file) {
  if (held_file.empty()) return {};
  std::vector<Holder> holders = HoldersOf(held_file);
  if (!holders.empty()) result.problems.front().what += L"; " + InUseBy(holders);
  return holders;
}

// The drive, or the share, that holds `directory`.
std::wstring DriveOf(const std::wstring& directory) {
  std::wstring volume(directory.size() + 1, L'\0');
  if (!GetVolumePathNameW(directory.c_str(), volume.data(), static_cast<DWORD>(volume.size())))
    return DisplayPath(directory);
  volume.resize(volume.find(L'\0'));
  return DisplayPath(volume);
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

ExitCode ExitCodeOf(const InstallResult& result) {
  switch (result.state) {
    case InstallState::kInstalled:
      return kExitInstalled;
    case InstallState::kScheduled:
      return kExitRestartRequired;
    default:
      return ExitCodeFor(result.status_code.value_or(result.problems.front().code));
  }
}

RunOutcome RunInstaller() {
  RunOutcome outcome;
  const std::wstring shown = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (shown.empty()) {
    PrintLine(STD_OUTPUT_HANDLE, kNotInstalledMessage);
    outcome.status = kExitHostNotInstalled;
    return outcome;
  }
  const std::wstring directory = ExtendedLengthPath(shown);
  const auto print = [&](const std::wstring& message) {
    PrintLine(STD_ERROR_HANDLE, AsShown(message, directory, shown));
  };

  InstallResult result = InstallPayloads(directory, BuildPayloadTable(), GetModuleHandleW(nullptr));
  const ExitCode status = ExitCodeOf(result);
  Circumstances circumstances;
  outcome.held_file = DisplayPath(result.held_file);
  if (FoundInUse(status)) circumstances.holders = NameHolders(result, outcome.held_file);
  if (status == kExitInstalled || status == kExitRestartRequired) {
    for (const Failure& problem : result.problems) print(L"warning: " + Describe(problem));
    PrintLine(STD_OUTPUT_HANDLE, status == kExitInstalled ? kCompletedMessage : kRestartMessage);
  } else {
    for (const Failure& problem : result.problems) print(Describe(problem));
    print(result.state == InstallState::kUnchanged
              ? L"installation failed; " + directory + L" was left unchanged"
              : L"installation failed and " + directory +
                    L" could not be fully restored; run the installer again to restore it");
  }
  // What a person can do about it, after the lines that say what happened.
  circumstances.bytes = result.bytes_needed;
  circumstances.place = status == kExitDiskFull ? DriveOf(directory) : directory;
  circumstances.read_only_file = std::move(result.read_only_file);
  const std::wstring next = NextStep(status, circumstances);
  if (!next.empty()) print(next);
  outcome.status = status;
  outcome.holders = std::move(circumstances.holders);
  return outcome;
}
