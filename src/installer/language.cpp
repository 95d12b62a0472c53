#include "installer/language.h"

#include "installer/console.h"

namespace {

Language LanguageOfTheDisplay(LANGID display) {
  if (PRIMARYLANGID(display) != LANG_CHINESE) return Language::kEnglish;
  switch (SUBLANGID(display)) {
    case SUBLANG_CHINESE_SIMPLIFIED:  // the PRC
    case SUBLANG_CHINESE_SINGAPORE:
      return Language::kSimplifiedChinese;
    case SUBLANG_CHINESE_TRADITIONAL:  // Taiwan
    case SUBLANG_CHINESE_HONGKONG:
    case SUBLANG_CHINESE_MACAU:
      return Language::kTraditionalChinese;
    default:
      return Language::kEnglish;
  }
}

}  // namespace

Language ChooseLanguage(const LanguageCues& cues) {
  const Language display = LanguageOfTheDisplay(cues.display);
  if (display == Language::kEnglish || !cues.to_console) return display;
  const bool shown = display == Language::kSimplifiedChinese
                         ? cues.code_page == 936 || cues.code_page == 54936
                         : cues.code_page == 950;
  return shown && PRIMARYLANGID(cues.console_ui) == LANG_CHINESE ? display : Language::kEnglish;
}

Language LanguageFor(DWORD which) {
  LanguageCues cues;
  cues.display = GetUserDefaultUILanguage();
  cues.to_console = IsConsole(which);
  // For a console, whatever the display: SetThreadUILanguage(0) also has the system's own
  // messages come in the language that console shows best, as Windows' console programs do.
  if (cues.to_console) {
    cues.code_page = GetConsoleOutputCP();
    cues.console_ui = SetThreadUILanguage(0);
  }
  return ChooseLanguage(cues);
}
