#include "installer/guidance.h"

#include "host/win32.h"
#include "installer/installer.h"

namespace {

enum Phrase {
  kPrompt,
  kRunAsAdministrator,
  kCloseHolders,
  kCloseHost,
  kRestart,
  kFreeSpace,
  kWaitForOtherRun,
  kInUseBy,
  kProcess,
};

// Every text a person reads, by phrase. "%1" and "%2" stand for what the program fills in.
constexpr const wchar_t* kTexts[] = {
    L"Press any key to close this window.",
    L"To install the pack, run the installer as an administrator: right-click it and choose "
    L"\"Run as administrator\".",
    L"Close %1 and run the installer again.",
    L"Close Orvex Pro and any other program that may have its files open, then run the "
    L"installer again.",
    L"Restart the computer to finish the installation. Choose Restart: where Fast Startup is "
    L"on, Shut down does not finish it.",
    L"The installation needs %1 MB of free space on %2. Free that much and run the installer "
    L"again.",
    L"Another installation of the pack is in progress. Wait for it to finish, then run the "
    L"installer again.",
    L"in use by %1",
    L"%1 (process %2)",
};

// `phrase` with %1 and %2 replaced by `first` and `second`.
std::wstring Say(Phrase phrase, const std::wstring& first = {}, const std::wstring& second = {}) {
  std::wstring text = kTexts[phrase];
  for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at)) {
    const std::wstring& value = text[at + 1] == L'1' ? first : second;
    text.replace(at, 2, value);
    at += value.size();
  }
  return text;
}

std::wstring Names(const std::vector<Holder>& holders) {
  std::wstring names;
  for (const Holder& holder : holders) {
    if (!names.empty()) names += L", ";
    names += Say(kProcess, holder.name, DecimalText(holder.process_id));
  }
  return names;
}

}  // namespace

std::wstring NextStep(int status, const std::vector<Holder>& holders, std::uint64_t bytes,
                      const std::wstring& drive) {
  constexpr std::uint64_t kMegabyte = 1024 * 1024;
  switch (status) {
    case kExitAccessDenied:
      return Say(kRunAsAdministrator);
    case kExitFileInUse:
      return holders.empty() ? Say(kCloseHost) : Say(kCloseHolders, Names(holders));
    case kExitRestartRequired:
      return Say(kRestart);
    case kExitDiskFull:
      return Say(kFreeSpace,
                 DecimalText(static_cast<unsigned long>(
                     bytes > kMegabyte ? (bytes + kMegabyte - 1) / kMegabyte : 1)),
                 drive);
    case kExitBusy:
      return Say(kWaitForOtherRun);
    default:
      return {};
  }
}

std::wstring InUseBy(const std::vector<Holder>& holders) { return Say(kInUseBy, Names(holders)); }

std::wstring ClosePrompt() { return Say(kPrompt); }
