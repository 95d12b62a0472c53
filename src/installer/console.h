// Lines of any text to standard output or error: to a console in the window's width, to a file
// or pipe as they are.
#pragma once

#include <windows.h>

#include <string>

// Whether the standard stream `which` is a console.
bool IsConsole(DWORD which);

// `line` broken into rows that fit `columns` columns of a console whose output code page is
// `code_page`, as a graphical window would break it: between words, or between any two
// characters where one is Chinese (but never before the punctuation that closes a phrase); a run
// without a place to break, such as a path, that is longer than a row is cut where it must be.
// A row keeps off the last column, where the console would move on to the next row by itself.
// Rows are joined by CR LF.
std::wstring FitToColumns(const std::wstring& line, int columns, UINT code_page);

// Writes `line` and a line break to the standard stream `which` (STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE): to a console as UTF-16, whatever its code page, fitted to its window's
// width; to a file or pipe as UTF-8, unchanged.
void PrintLine(DWORD which, const std::wstring& line);
