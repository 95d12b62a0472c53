// The language of the lines a person reads: that of their Windows display (English, or Chinese
// in either script), where what the line goes to can show it.
#pragma once

#include <windows.h>

enum class Language { kEnglish, kSimplifiedChinese, kTraditionalChinese };

// What the choice of a language rests on.
struct LanguageCues {
  LANGID display = 0;       // the Windows display language (GetUserDefaultUILanguage)
  bool to_console = false;  // the line goes to a console, not to a file or pipe
  UINT code_page = 0;       // the console's output code page
  LANGID console_ui = 0;  // what Windows' own console programs show there (SetThreadUILanguage(0))
};

// The display's language, Chinese in the script of its region where it is Chinese, otherwise
// English. A console can show only the characters of its code page, in a font that has them:
// Chinese goes to one whose code page is of that script, and where Windows' own console programs
// would choose Chinese for it too; anything else shows English, which every console can. What
// goes to a file or pipe follows the display.
Language ChooseLanguage(const LanguageCues& cues);

// ChooseLanguage for lines that go to the standard stream `which`, as this process finds it.
// Where that is a console, the thread's language for the system's own messages is filtered for
// it (SetThreadUILanguage(0)): call it before the first of them is formatted.
Language LanguageFor(DWORD which);
