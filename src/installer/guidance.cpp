#include "installer/guidance.h"

#include "host/win32.h"
#include "version.h"

namespace {

enum Phrase {
  kPrompt,
  kPromptTryAgain,
  kPromptCloseForMe,
  kPromptReopenYourself,
  kPromptAnyOtherKey,
  kPromptClosesByItself,
  kDidNotClose,
  kRunAsAdministrator,
  kReadOnly,
  kRefusedToAdministrators,
  kCloseHolders,
  kCloseHost,
  kRestart,
  kFreeSpace,
  kWaitForOtherRun,
  kInUseBy,
  kProcess,
  kService,
  kListSeparator,
  kCannotClose,
  kOtherUser,
  kAdministrator,
  kPartOfWindows,
  kRestartFirst,
  kNotReopened,
  kPhraseCount,
};

// A phrase in each language the program speaks, in the order of Language.
struct Text {
  Phrase phrase;
  const wchar_t* in[3];
};

// Every text a person reads, by phrase, in each language the program speaks, side by side:
// English, Simplified Chinese, Traditional Chinese, in the words Windows itself uses in each.
// "%1" and "%2" stand for what the program fills in, in whatever order a language needs. A
// further language is one more column here and one more case in ChooseLanguage.
// clang-format off
constexpr Text kTexts[] = {
  {kPrompt,
   {L"Press any key to close this window.",
    L"按任意键关闭此窗口。",
    L"按任意鍵關閉此視窗。"}},
  {kPromptTryAgain,
   {L"Close %1, then press R to try again.",
    L"请关闭 %1，然后按字母键 R 重试。",
    L"請關閉 %1，然後按字母鍵 R 重試。"}},
  {kPromptCloseForMe,
   {L"Or press C to have Windows close it now and reopen it when the installation is done.",
    L"或按字母键 C 让 Windows 立即关闭它，并在安装完成后重新打开它。",
    L"或按字母鍵 C 讓 Windows 立即關閉它，並在安裝完成後重新開啟它。"}},
  {kPromptReopenYourself,
   {L"Windows cannot reopen %1 afterwards: reopen it yourself.",
    L"Windows 无法在之后重新打开 %1：请自行重新打开。",
    L"Windows 無法在之後重新開啟 %1：請自行重新開啟。"}},
  {kPromptAnyOtherKey,
   {L"Press any other key to close this window.",
    L"按任意其他键关闭此窗口。",
    L"按任意其他鍵關閉此視窗。"}},
  {kPromptClosesByItself,
   {L"It closes by itself in %1 minutes.",
    L"此窗口将在 %1 分钟后自动关闭。",
    L"此視窗將在 %1 分鐘後自動關閉。"}},
  {kDidNotClose,
   {L"%1 did not close; it may be asking you to save your work.",
    L"%1 未关闭；它可能正在询问您是否保存工作。",
    L"%1 未關閉；它可能正在詢問您是否儲存工作。"}},
  {kRunAsAdministrator,
   {L"To install the pack, run the installer as an administrator: right-click it and choose \"Run as administrator\".",
    L"请以管理员身份运行安装程序：右键单击它，然后选择“以管理员身份运行”。",
    L"請以系統管理員身分執行安裝程式：以滑鼠右鍵按一下它，然後選擇「以系統管理員身分執行」。"}},
  {kReadOnly,
   {L"%1 is read-only. Make it writable, or ask whoever made it read-only, then run the installer again.",
    L"%1 是只读文件。请将其改为可写，或询问将其设为只读的人，然后重新运行安装程序。",
    L"%1 是唯讀檔案。請將其改為可寫入，或詢問將其設為唯讀的人，然後重新執行安裝程式。"}},
  {kRefusedToAdministrators,
   {L"The permissions of %1 refuse even an administrator. Ask whoever manages this computer to allow changes there, then run the installer again.",
    L"%1 的权限连管理员也拒绝。请让此计算机的管理者允许在此处更改，然后重新运行安装程序。",
    L"%1 的權限連系統管理員也拒絕。請讓此電腦的管理者允許在此處變更，然後重新執行安裝程式。"}},
  {kCloseHolders,
   {L"Close %1 and run the installer again.",
    L"请关闭 %1，然后重新运行安装程序。",
    L"請關閉 %1，然後重新執行安裝程式。"}},
  {kCloseHost,
   {L"Close " ORVEX_PRODUCT_NAME L" and any other program that may have its files open, then run the installer again.",
    L"请关闭 " ORVEX_PRODUCT_NAME L" 以及可能正在使用其文件的其他程序，然后重新运行安装程序。",
    L"請關閉 " ORVEX_PRODUCT_NAME L" 以及可能正在使用其檔案的其他程式，然後重新執行安裝程式。"}},
  {kRestart,
   {L"Restart the computer to finish the installation. Choose Restart: where Fast Startup is on, Shut down does not finish it.",
    L"请重新启动计算机以完成安装。请选择“重新启动”：如果启用了快速启动，“关机”不会完成安装。",
    L"請重新啟動電腦以完成安裝。請選擇「重新啟動」：若已開啟快速啟動，「關機」無法完成安裝。"}},
  {kFreeSpace,
   {L"The installation needs %1 MB of free space on %2. Free that much and run the installer again.",
    L"安装需要 %2 上有 %1 MB 可用空间。请释放足够的空间，然后重新运行安装程序。",
    L"安裝需要 %2 上有 %1 MB 可用空間。請釋放足夠的空間，然後重新執行安裝程式。"}},
  {kWaitForOtherRun,
   {L"Another installation of the pack is in progress. Wait for it to finish, then run the installer again.",
    L"另一个语言包安装正在进行。请等待其完成，然后重新运行安装程序。",
    L"另一個語言套件安裝正在進行中。請等候其完成，然後重新執行安裝程式。"}},
  {kInUseBy,
   {L"in use by %1",
    L"正由 %1 使用",
    L"正由 %1 使用中"}},
  {kProcess,
   {L"%1 (process %2)",
    L"%1（进程 %2）",
    L"%1（處理程序 %2）"}},
  {kService,
   {L"the service %1 (process %2)",
    L"服务 %1（进程 %2）",
    L"服務 %1（處理程序 %2）"}},
  {kListSeparator,
   {L", ",
    L"、",
    L"、"}},
  {kCannotClose,
   {L"Windows cannot close %1 for you (%2).",
    L"Windows 无法为您关闭 %1（%2）。",
    L"Windows 無法為您關閉 %1（%2）。"}},
  {kOtherUser,
   {L"another user's program",
    L"另一个用户的程序",
    L"另一個使用者的程式"}},
  {kAdministrator,
   {L"running as administrator",
    L"以管理员身份运行",
    L"以系統管理員身分執行"}},
  {kPartOfWindows,
   {L"part of Windows",
    L"Windows 的一部分",
    L"Windows 的一部分"}},
  {kRestartFirst,
   {L"Windows needs a restart first",
    L"Windows 需要先重新启动",
    L"Windows 需要先重新啟動"}},
  {kNotReopened,
   {L"Windows did not reopen %1: reopen it yourself.",
    L"Windows 未重新打开 %1：请自行重新打开。",
    L"Windows 未重新開啟 %1：請自行重新開啟。"}},
};
// clang-format on

// Whether kTexts holds every phrase once, each in its own place.
constexpr bool EveryPhraseInItsPlace() {
  if (sizeof kTexts / sizeof kTexts[0] != kPhraseCount) return false;
  for (int i = 0; i < kPhraseCount; ++i) {
    if (kTexts[i].phrase != i) return false;
  }
  return true;
}
static_assert(EveryPhraseInItsPlace(), "a text for every phrase, in its place");

// `phrase` in `language`, with %1 and %2 replaced by `first` and `second`.
std::wstring Say(Language language, Phrase phrase, const std::wstring& first = {},
                 const std::wstring& second = {}) {
  std::wstring text = kTexts[phrase].in[static_cast<int>(language)];
  for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at)) {
    const std::wstring& value = text[at + 1] == L'1' ? first : second;
    text.replace(at, 2, value);
    at += value.size();
  }
  return text;
}

// One holder, named with its process id, as a service where it is one.
std::wstring Name(Language language, const Holder& holder) {
  return Say(language, holder.service ? kService : kProcess, holder.name,
             DecimalText(holder.process_id));
}

// The holders that `pick` picks, named.
template <typename Pick>
std::wstring Names(Language language, const std::vector<Holder>& holders, const Pick& pick) {
  std::wstring names;
  for (const Holder& holder : holders) {
    if (!pick(holder)) continue;
    if (!names.empty()) names += Say(language, kListSeparator);
    names += Name(language, holder);
  }
  return names;
}

std::wstring Names(Language language, const std::vector<Holder>& holders) {
  return Names(language, holders, [](const Holder&) { return true; });
}

// Why Windows cannot close a holder, in a few words.
Phrase ReasonOf(NotClosable why) {
  switch (why) {
    case NotClosable::kOtherUser:
      return kOtherUser;
    case NotClosable::kAdministrator:
      return kAdministrator;
    case NotClosable::kPartOfWindows:
      return kPartOfWindows;
    default:
      return kRestartFirst;
  }
}

// A line for each of `holders` that Windows cannot close for a reason of its own, saying why;
// then, where the reason is the list's, one line for the others.
std::wstring CannotCloseLines(Language language, const HolderList& holders) {
  std::wstring lines;
  const auto add = [&](const std::wstring& names, NotClosable why) {
    if (!lines.empty()) lines += L"\r\n";
    lines += Say(language, kCannotClose, names, Say(language, ReasonOf(why)));
  };
  const auto own_reason = [](const Holder& holder) {
    return holder.not_closable != NotClosable::kNo;
  };
  for (const Holder& holder : holders.named) {
    if (own_reason(holder)) add(Name(language, holder), holder.not_closable);
  }
  const std::wstring others =
      Names(language, holders.named, [&](const Holder& holder) { return !own_reason(holder); });
  if (holders.why_not_all != NotClosable::kNo && !others.empty()) add(others, holders.why_not_all);
  return lines;
}

}  // namespace

std::wstring NextStep(Language language, Outcome outcome, const Circumstances& circumstances) {
  constexpr std::uint64_t kMegabyte = 1024 * 1024;
  const std::vector<Holder>& holders = circumstances.holders;
  const std::uint64_t bytes = circumstances.bytes;
  switch (outcome) {
    case Outcome::kRefused:
      // Where running as an administrator cannot help, the cause instead.
      if (!circumstances.read_only_file.empty())
        return Say(language, kReadOnly, circumstances.read_only_file);
      if (circumstances.elevated)
        return Say(language, kRefusedToAdministrators, circumstances.place);
      return Say(language, kRunAsAdministrator);
    case Outcome::kInUse:
      return holders.empty() ? Say(language, kCloseHost)
                             : Say(language, kCloseHolders, Names(language, holders));
    case Outcome::kScheduled:
      return Say(language, kRestart);
    case Outcome::kDiskFull:
      return Say(language, kFreeSpace,
                 DecimalText(static_cast<unsigned long>(
                     bytes > kMegabyte ? (bytes + kMegabyte - 1) / kMegabyte : 1)),
                 circumstances.place);
    case Outcome::kBusy:
      return Say(language, kWaitForOtherRun);
    default:
      return {};
  }
}

std::wstring InUseBy(Language language, const std::vector<Holder>& holders) {
  return Say(language, kInUseBy, Names(language, holders));
}

std::wstring ClosePrompt(Language language, Outcome outcome, const HolderList& holders) {
  const std::wstring closes_by_itself =
      L"\r\n" + Say(language, kPromptClosesByItself, DecimalText(kPromptWaitMinutes));
  if (!FoundInUse(outcome)) return Say(language, kPrompt) + closes_by_itself;
  std::wstring prompt =
      Say(language, kPromptTryAgain,
          holders.named.empty() ? L"" ORVEX_PRODUCT_NAME : Names(language, holders.named));
  if (WindowsCanClose(holders)) {
    prompt += L"\r\n" + Say(language, kPromptCloseForMe);
    const std::wstring not_reopened = Names(
        language, holders.named, [](const Holder& holder) { return !WindowsReopens(holder); });
    if (!not_reopened.empty())
      prompt += L"\r\n" + Say(language, kPromptReopenYourself, not_reopened);
  } else if (!holders.named.empty()) {
    prompt += L"\r\n" + CannotCloseLines(language, holders);
  }
  return prompt + L"\r\n" + Say(language, kPromptAnyOtherKey) + closes_by_itself;
}

std::wstring DidNotClose(Language language, const Closing& closing) {
  if (closing.refused) return CannotCloseLines(language, closing.stayed);
  return Say(language, kDidNotClose, Names(language, closing.stayed.named));
}

std::wstring NotReopened(Language language, const std::vector<Holder>& holders) {
  return Say(language, kNotReopened, Names(language, holders));
}
