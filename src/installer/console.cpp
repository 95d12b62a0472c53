#include "installer/console.h"

#include "host/win32.h"

namespace {

// Whether `c` is one of the wide characters of East Asian scripts (Chinese among them), two
// columns wide on every console.
bool IsWide(wchar_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

// How many of a console's columns `c` takes where its output code page is `code_page`: two for
// the wide characters, and, on a console with a Chinese code page, for any its code page stores
// in two bytes too (curly quotes, the ellipsis), which such a console draws two cells wide; one
// for any other. GB18030 (54936) is counted as the GBK it extends (936), whose two-byte
// characters it keeps: counting a character too wide only breaks a row early.
int ColumnsOf(wchar_t c, UINT code_page) {
  if (IsWide(c)) return 2;
  if (code_page == 54936) code_page = 936;
  if (c < 0x80 || (code_page != 936 && code_page != 950)) return 1;
  char bytes[2];
  return WideCharToMultiByte(code_page, 0, &c, 1, bytes, 2, nullptr, nullptr) == 2 ? 2 : 1;
}

// Whether `c` is one of the characters of `set`.
bool IsIn(const wchar_t* set, wchar_t c) {
  for (; *set != L'\0'; ++set) {
    if (c == *set) return true;
  }
  return false;
}

// Whether a row may end between `before` and `after`: at a space, or beside a Chinese character
// where the punctuation allows (no row begins with what closes a phrase, nor ends with what
// opens one).
bool MayBreakBetween(wchar_t before, wchar_t after) {
  if (after == L' ') return true;
  if (!IsWide(before) && !IsWide(after)) return false;
  return !IsIn(L"，。、；：？！）」』】》…”’", after) && !IsIn(L"（「『【《“‘", before);
}

// The width of the console window that `stream` writes to, in columns; 0 where it cannot say.
int WindowColumns(HANDLE stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(stream, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// One line without line breaks, fitted.
std::wstring FitRow(const std::wstring& line, int columns, UINT code_page) {
  const int limit = columns - 1;
  std::wstring fitted;
  size_t start = 0;
  for (;;) {
    int width = 0;
    size_t end = start;
    size_t row_end = start;  // the last place the row may end, past `start`
    while (end < line.size() && width + ColumnsOf(line[end], code_page) <= limit) {
      if (end > start && MayBreakBetween(line[end - 1], line[end])) row_end = end;
      width += ColumnsOf(line[end++], code_page);
    }
    if (end == start) ++end;  // a character wider than a row still goes
    if (end >= line.size()) return fitted.append(line, start, std::wstring::npos);
    if (MayBreakBetween(line[end - 1], line[end])) row_end = end;
    if (row_end == start) row_end = end;  // nowhere to break: cut
    size_t next = row_end;
    while (row_end > start && line[row_end - 1] == L' ') --row_end;
    while (next < line.size() && line[next] == L' ') ++next;
    fitted.append(line, start, row_end - start).append(L"\r\n");
    start = next;
  }
}

}  // namespace

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

std::wstring FitToColumns(const std::wstring& line, int columns, UINT code_page) {
  if (columns < 2) return line;
  std::wstring fitted;
  for (size_t start = 0; start <= line.size();) {
    size_t end = line.find(L'\n', start);
    if (end == std::wstring::npos) end = line.size();
    const size_t text_end = end > start && line[end - 1] == L'\r' ? end - 1 : end;
    if (start > 0) fitted += L"\r\n";
    fitted += FitRow(line.substr(start, text_end - start), columns, code_page);
    start = end + 1;
  }
  return fitted;
}

void PrintLine(DWORD which, const std::wstring& line) {
  const HANDLE stream = GetStdHandle(which);
  DWORD written = 0;
  if (IsConsole(which)) {
    const std::wstring text =
        FitToColumns(line, WindowColumns(stream), GetConsoleOutputCP()) + L"\r\n";
    WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = Utf8(line + L"\r\n");
  WriteFile(stream, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
