#include "installer/report.h"

#include "host/win32.h"
#include "installer/console.h"
#include "installer/guidance.h"
#include "installer/language.h"
#include "installer/long_paths.h"
#include "version.h"

namespace {

// The lines on standard output, which scripts read: they never change.
constexpr wchar_t kCompletedMessage[] = L"installation has been completed";
constexpr wchar_t kRestartMessage[] = L"installation will be completed when the computer restarts";
constexpr wchar_t kNotInstalledMessage[] = L"" ORVEX_PRODUCT_NAME L" is not installed";

// The run works on the extended-length form of the folder, so that a path past 260 characters
// works; messages show the folder the way the user knows it.
std::wstring AsShown(std::wstring message, const std::wstring& used, const std::wstring& shown) {
  if (used == shown) return message;
  for (size_t at = message.find(used); at != std::wstring::npos;
       at = message.find(used, at + shown.size()))
    message.replace(at, used.size(), shown);
  return message;
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

ReportedRun ReportHostMissing() {
  PrintLine(STD_OUTPUT_HANDLE, kNotInstalledMessage);
  return {Outcome::kHostMissing, {}, {}};
}

ReportedRun ReportRun(InstallReport report, const std::wstring& directory,
                      const std::wstring& shown, Language language) {
  const auto print = [&](const std::wstring& message) {
    PrintLine(STD_ERROR_HANDLE, AsShown(message, directory, shown));
  };
  ReportedRun outcome{report.outcome, DisplayPath(report.held_file), {}};
  // Who holds the file in use, where Windows can tell: named in the line that says it is in
  // use, the first.
  if (FoundInUse(report.outcome) && !outcome.held_file.empty()) {
    outcome.holders = HoldersOf(outcome.held_file);
    if (!outcome.holders.named.empty())
      report.problems.front().what += L"; " + InUseBy(language, outcome.holders.named);
  }
  if (Succeeded(report.outcome)) {
    for (const Failure& problem : report.problems) print(L"warning: " + Describe(problem));
    PrintLine(STD_OUTPUT_HANDLE,
              report.outcome == Outcome::kInstalled ? kCompletedMessage : kRestartMessage);
  } else {
    for (const Failure& problem : report.problems) print(Describe(problem));
    print(report.restored ? L"installation failed; " + directory + L" was left unchanged"
                          : L"installation failed and " + directory +
                                L" could not be fully restored; run the installer again to "
                                L"restore it");
  }
  // What a person can do about it, after the lines that say what happened.
  Circumstances circumstances;
  circumstances.holders = outcome.holders.named;
  circumstances.bytes = report.bytes_needed;
  circumstances.place = report.outcome == Outcome::kDiskFull ? DriveOf(directory) : directory;
  circumstances.read_only_file = std::move(report.read_only_file);
  circumstances.elevated = report.outcome == Outcome::kRefused && IsElevated(GetCurrentProcess());
  const std::wstring next = NextStep(language, report.outcome, circumstances);
  if (!next.empty()) print(next);
  return outcome;
}
