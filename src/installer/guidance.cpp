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
  kListSeparator,
};

enum Language { kEnglish, kSimplifiedChinese, kTraditionalChinese, kLanguages };

// Every text a person reads, by phrase, in each language the program speaks, side by side:
// English, Simplified Chinese, Traditional Chinese, in the words Windows itself uses in each.
// "%1" and "%2" stand for what the program fills in, in whatever order a language needs. A
// further language is one more column here and one more case in LanguageOfTheDisplay.
// clang-format off
constexpr const wchar_t* kTexts[][kLanguages] = {
  {L"Press any key to close this window.",
   L"按任意键关闭此窗口。",
   L"按任意鍵關閉此視窗。"},
  {L"To install the pack, run the installer as an administrator: right-click it and choose \"Run as administrator\".",
   L"请以管理员身份运行安装程序：右键单击它，然后选择“以管理员身份运行”。",
   L"請以系統管理員身分執行安裝程式：以滑鼠右鍵按一下它，然後選擇「以系統管理員身分執行」。"},
  {L"Close %1 and run the installer again.",
   L"请关闭 %1，然后重新运行安装程序。",
   L"請關閉 %1，然後重新執行安裝程式。"},
  {L"Close Orvex Pro and any other program that may have its files open, then run the installer again.",
   L"请关闭 Orvex Pro 以及可能正在使用其文件的其他程序，然后重新运行安装程序。",
   L"請關閉 Orvex Pro 以及可能正在使用其檔案的其他程式，然後重新執行安裝程式。"},
  {L"Restart the computer to finish the installation. Choose Restart: where Fast Startup is on, Shut down does not finish it.",
   L"请重新启动计算机以完成安装。请选择“重新启动”：如果启用了快速启动，“关机”不会完成安装。",
   L"請重新啟動電腦以完成安裝。請選擇「重新啟動」：若已開啟快速啟動，「關機」無法完成安裝。"},
  {L"The installation needs %1 MB of free space on %2. Free that much and run the installer again.",
   L"安装需要 %2 上有 %1 MB 可用空间。请释放足够的空间，然后重新运行安装程序。",
   L"安裝需要 %2 上有 %1 MB 可用空間。請釋放足夠的空間，然後重新執行安裝程式。"},
  {L"Another installation of the pack is in progress. Wait for it to finish, then run the installer again.",
   L"另一个语言包安装正在进行。请等待其完成，然后重新运行安装程序。",
   L"另一個語言套件安裝正在進行中。請等候其完成，然後重新執行安裝程式。"},
  {L"in use by %1",
   L"正由 %1 使用",
   L"正由 %1 使用中"},
  {L"%1 (process %2)",
   L"%1（进程 %2）",
   L"%1（處理程序 %2）"},
  {L", ",
   L"、",
   L"、"},
};
// clang-format on

// The language of the person's Windows display: Chinese in the script of its region, where
// it is Chinese; otherwise English. Not the console's code page, which says nothing of what a
// person reads.
Language LanguageOfTheDisplay() {
  const LANGID display = GetUserDefaultUILanguage();
  if (PRIMARYLANGID(display) != LANG_CHINESE) return kEnglish;
  switch (SUBLANGID(display)) {
    case SUBLANG_CHINESE_SIMPLIFIED:  // the PRC
    case SUBLANG_CHINESE_SINGAPORE:
      return kSimplifiedChinese;
    case SUBLANG_CHINESE_TRADITIONAL:  // Taiwan
    case SUBLANG_CHINESE_HONGKONG:
    case SUBLANG_CHINESE_MACAU:
      return kTraditionalChinese;
    default:
      return kEnglish;
  }
}

// `phrase` with %1 and %2 replaced by `first` and `second`.
std::wstring Say(Phrase phrase, const std::wstring& first = {}, const std::wstring& second = {}) {
  std::wstring text = kTexts[phrase][LanguageOfTheDisplay()];
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
    if (!names.empty()) names += Say(kListSeparator);
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
