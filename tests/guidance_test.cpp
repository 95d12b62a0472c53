// What a person reads, in each language the program speaks, and which language a line gets.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/win32.h"
#include "installer/guidance.h"
#include "installer/language.h"

namespace {

constexpr LANGID kUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kPrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr LANGID kSingapore = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE);
constexpr LANGID kTaiwan = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
constexpr LANGID kHongKong = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG);
constexpr LANGID kMacao = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_MACAU);
constexpr LANGID kJapan = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);

// A console shows Chinese only in a code page of that script, and where Windows' own console
// programs would choose Chinese too; a file or pipe gets the display's language.
TEST(LanguageTest, ChineseOnlyWhereWhatTheLineGoesToCanShowIt) {
  struct Row {
    const char* name;
    LanguageCues cues;
    Language expected;
  };
  const Row rows[] = {
      {"English display, console", {kUnitedStates, true, 437, kUnitedStates}, Language::kEnglish},
      {"Japanese display, file", {kJapan, false, 0, 0}, Language::kEnglish},
      {"PRC, file", {kPrc, false, 0, 0}, Language::kSimplifiedChinese},
      {"Singapore, file", {kSingapore, false, 0, 0}, Language::kSimplifiedChinese},
      {"Taiwan, file", {kTaiwan, false, 0, 0}, Language::kTraditionalChinese},
      {"Hong Kong, file", {kHongKong, false, 0, 0}, Language::kTraditionalChinese},
      {"Macao, file", {kMacao, false, 0, 0}, Language::kTraditionalChinese},
      {"PRC, console 936", {kPrc, true, 936, kPrc}, Language::kSimplifiedChinese},
      {"PRC, console 54936", {kPrc, true, 54936, kPrc}, Language::kSimplifiedChinese},
      {"PRC, console 437", {kPrc, true, 437, kPrc}, Language::kEnglish},
      {"PRC, console 936 filtered to English",
       {kPrc, true, 936, kUnitedStates},
       Language::kEnglish},
      {"PRC, console 950", {kPrc, true, 950, kTaiwan}, Language::kEnglish},
      {"Taiwan, console 950", {kTaiwan, true, 950, kTaiwan}, Language::kTraditionalChinese},
      {"Taiwan, console 936", {kTaiwan, true, 936, kPrc}, Language::kEnglish},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ChooseLanguage(row.cues), row.expected);
  }
}

// Each phrase in English, Simplified and Traditional Chinese, with what the program fills in.
TEST(GuidanceTest, EveryPhraseInEveryLanguage) {
  const std::vector<Holder> host{{L"Orvex Pro", 4242, true}};
  const std::vector<Holder> two{{L"Orvex Pro", 4242, true}, {L"Viewer", 17, false}};
  const Holder update{L"Orvex Update", 12, true, true, false, NotClosable::kAdministrator};
  const std::vector<Holder> not_closable{
      {L"Orvex Pro", 4242, true, false, false, NotClosable::kOtherUser}, update};
  const auto next = [&](Language language, Outcome outcome, std::wstring place = {},
                        std::wstring read_only = {}, bool elevated = false,
                        std::vector<Holder> holders = {}) {
    return NextStep(language, outcome,
                    {std::move(holders), 8 * 1024 * 1024 + 1, place, read_only, elevated});
  };
  struct Row {
    std::function<std::wstring(Language)> say;
    const wchar_t* in[3];  // English, Simplified, Traditional
  };
  // clang-format off
  const Row rows[] = {
    {[&](Language l) { return next(l, Outcome::kRefused, L"C:\\r\\", L"C:\\r\\a.ocr"); },
     {L"C:\\r\\a.ocr is read-only. Make it writable, or ask whoever made it read-only, then run the installer again.",
      L"C:\\r\\a.ocr 是只读文件。请将其改为可写，或询问将其设为只读的人，然后重新运行安装程序。",
      L"C:\\r\\a.ocr 是唯讀檔案。請將其改為可寫入，或詢問將其設為唯讀的人，然後重新執行安裝程式。"}},
    {[&](Language l) { return next(l, Outcome::kRefused, L"C:\\r\\", L"", true); },
     {L"The permissions of C:\\r\\ refuse even an administrator. Ask whoever manages this computer to allow changes there, then run the installer again.",
      L"C:\\r\\ 的权限连管理员也拒绝。请让此计算机的管理者允许在此处更改，然后重新运行安装程序。",
      L"C:\\r\\ 的權限連系統管理員也拒絕。請讓此電腦的管理者允許在此處變更，然後重新執行安裝程式。"}},
    {[&](Language l) { return next(l, Outcome::kRefused, L"C:\\r\\"); },
     {L"To install the pack, run the installer as an administrator: right-click it and choose \"Run as administrator\".",
      L"请以管理员身份运行安装程序：右键单击它，然后选择“以管理员身份运行”。",
      L"請以系統管理員身分執行安裝程式：以滑鼠右鍵按一下它，然後選擇「以系統管理員身分執行」。"}},
    {[&](Language l) { return next(l, Outcome::kInUse); },
     {L"Close Orvex Pro and any other program that may have its files open, then run the installer again.",
      L"请关闭 Orvex Pro 以及可能正在使用其文件的其他程序，然后重新运行安装程序。",
      L"請關閉 Orvex Pro 以及可能正在使用其檔案的其他程式，然後重新執行安裝程式。"}},
    {[&](Language l) { return next(l, Outcome::kInUse, L"", L"", false, two); },
     {L"Close Orvex Pro (process 4242), Viewer (process 17) and run the installer again.",
      L"请关闭 Orvex Pro（进程 4242）、Viewer（进程 17），然后重新运行安装程序。",
      L"請關閉 Orvex Pro（處理程序 4242）、Viewer（處理程序 17），然後重新執行安裝程式。"}},
    {[&](Language l) { return next(l, Outcome::kScheduled); },
     {L"Restart the computer to finish the installation. Choose Restart: where Fast Startup is on, Shut down does not finish it.",
      L"请重新启动计算机以完成安装。请选择“重新启动”：如果启用了快速启动，“关机”不会完成安装。",
      L"請重新啟動電腦以完成安裝。請選擇「重新啟動」：若已開啟快速啟動，「關機」無法完成安裝。"}},
    {[&](Language l) { return next(l, Outcome::kDiskFull, L"D:\\"); },
     {L"The installation needs 9 MB of free space on D:\\. Free that much and run the installer again.",
      L"安装需要 D:\\ 上有 9 MB 可用空间。请释放足够的空间，然后重新运行安装程序。",
      L"安裝需要 D:\\ 上有 9 MB 可用空間。請釋放足夠的空間，然後重新執行安裝程式。"}},
    {[&](Language l) { return next(l, Outcome::kBusy); },
     {L"Another installation of the pack is in progress. Wait for it to finish, then run the installer again.",
      L"另一个语言包安装正在进行。请等待其完成，然后重新运行安装程序。",
      L"另一個語言套件安裝正在進行中。請等候其完成，然後重新執行安裝程式。"}},
    {[&](Language l) {
       return next(l, Outcome::kInstalled) + next(l, Outcome::kFailed) +
              next(l, Outcome::kDamaged) + next(l, Outcome::kHostMissing);
     },
     {L"", L"", L""}},
    {[&](Language l) { return InUseBy(l, host); },
     {L"in use by Orvex Pro (process 4242)", L"正由 Orvex Pro（进程 4242） 使用",
      L"正由 Orvex Pro（處理程序 4242） 使用中"}},
    {[&](Language l) { return DidNotClose(l, {{host}, false}); },
     {L"Orvex Pro (process 4242) did not close; it may be asking you to save your work.",
      L"Orvex Pro（进程 4242） 未关闭；它可能正在询问您是否保存工作。",
      L"Orvex Pro（處理程序 4242） 未關閉；它可能正在詢問您是否儲存工作。"}},
    {[&](Language l) { return ClosePrompt(l, Outcome::kFailed, {two}); },
     {L"Press any key to close this window.\r\nIt closes by itself in 5 minutes.",
      L"按任意键关闭此窗口。\r\n此窗口将在 5 分钟后自动关闭。",
      L"按任意鍵關閉此視窗。\r\n此視窗將在 5 分鐘後自動關閉。"}},
    {[&](Language l) { return ClosePrompt(l, Outcome::kInUse, {}); },
     {L"Close Orvex Pro, then press R to try again.\r\nPress any other key to close this window.\r\nIt closes by itself in 5 minutes.",
      L"请关闭 Orvex Pro，然后按字母键 R 重试。\r\n按任意其他键关闭此窗口。\r\n此窗口将在 5 分钟后自动关闭。",
      L"請關閉 Orvex Pro，然後按字母鍵 R 重試。\r\n按任意其他鍵關閉此視窗。\r\n此視窗將在 5 分鐘後自動關閉。"}},
    {[&](Language l) { return ClosePrompt(l, Outcome::kScheduled, {two}); },
     {L"Close Orvex Pro (process 4242), Viewer (process 17), then press R to try again.\r\n"
      L"Or press C to have Windows close it now and reopen it when the installation is done.\r\n"
      L"Windows cannot reopen Viewer (process 17) afterwards: reopen it yourself.\r\n"
      L"Press any other key to close this window.\r\nIt closes by itself in 5 minutes.",
      L"请关闭 Orvex Pro（进程 4242）、Viewer（进程 17），然后按字母键 R 重试。\r\n"
      L"或按字母键 C 让 Windows 立即关闭它，并在安装完成后重新打开它。\r\n"
      L"Windows 无法在之后重新打开 Viewer（进程 17）：请自行重新打开。\r\n"
      L"按任意其他键关闭此窗口。\r\n此窗口将在 5 分钟后自动关闭。",
      L"請關閉 Orvex Pro（處理程序 4242）、Viewer（處理程序 17），然後按字母鍵 R 重試。\r\n"
      L"或按字母鍵 C 讓 Windows 立即關閉它，並在安裝完成後重新開啟它。\r\n"
      L"Windows 無法在之後重新開啟 Viewer（處理程序 17）：請自行重新開啟。\r\n"
      L"按任意其他鍵關閉此視窗。\r\n此視窗將在 5 分鐘後自動關閉。"}},
    {[&](Language l) { return ClosePrompt(l, Outcome::kInUse, {not_closable}); },
     {L"Close Orvex Pro (process 4242), the service Orvex Update (process 12), then press R to try again.\r\n"
      L"Windows cannot close Orvex Pro (process 4242) for you (another user's program).\r\n"
      L"Windows cannot close the service Orvex Update (process 12) for you (running as administrator).\r\n"
      L"Press any other key to close this window.\r\nIt closes by itself in 5 minutes.",
      L"请关闭 Orvex Pro（进程 4242）、服务 Orvex Update（进程 12），然后按字母键 R 重试。\r\n"
      L"Windows 无法为您关闭 Orvex Pro（进程 4242）（另一个用户的程序）。\r\n"
      L"Windows 无法为您关闭 服务 Orvex Update（进程 12）（以管理员身份运行）。\r\n"
      L"按任意其他键关闭此窗口。\r\n此窗口将在 5 分钟后自动关闭。",
      L"請關閉 Orvex Pro（處理程序 4242）、服務 Orvex Update（處理程序 12），然後按字母鍵 R 重試。\r\n"
      L"Windows 無法為您關閉 Orvex Pro（處理程序 4242）（另一個使用者的程式）。\r\n"
      L"Windows 無法為您關閉 服務 Orvex Update（處理程序 12）（以系統管理員身分執行）。\r\n"
      L"按任意其他鍵關閉此視窗。\r\n此視窗將在 5 分鐘後自動關閉。"}},
    // The list's reason, once, for those without one of their own.
    {[&](Language l) {
       std::vector<Holder> three = two;
       three.push_back(update);
       return DidNotClose(l, {{three, NotClosable::kRestartFirst}, true});
     },
     {L"Windows cannot close the service Orvex Update (process 12) for you (running as administrator).\r\n"
      L"Windows cannot close Orvex Pro (process 4242), Viewer (process 17) for you (Windows needs a restart first).",
      L"Windows 无法为您关闭 服务 Orvex Update（进程 12）（以管理员身份运行）。\r\n"
      L"Windows 无法为您关闭 Orvex Pro（进程 4242）、Viewer（进程 17）（Windows 需要先重新启动）。",
      L"Windows 無法為您關閉 服務 Orvex Update（處理程序 12）（以系統管理員身分執行）。\r\n"
      L"Windows 無法為您關閉 Orvex Pro（處理程序 4242）、Viewer（處理程序 17）（Windows 需要先重新啟動）。"}},
    {[&](Language l) { return NotReopened(l, host); },
     {L"Windows did not reopen Orvex Pro (process 4242): reopen it yourself.",
      L"Windows 未重新打开 Orvex Pro（进程 4242）：请自行重新打开。",
      L"Windows 未重新開啟 Orvex Pro（處理程序 4242）：請自行重新開啟。"}},
  };
  // clang-format on
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    for (Language language :
         {Language::kEnglish, Language::kSimplifiedChinese, Language::kTraditionalChinese}) {
      SCOPED_TRACE("row " + std::to_string(i) + ", language " +
                   std::to_string(static_cast<int>(language)));
      EXPECT_EQ(Utf8(rows[i].say(language)), Utf8(rows[i].in[static_cast<int>(language)]));
    }
  }
}

}  // namespace
