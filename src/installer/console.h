// The console: lines of any text to standard output or error, and the window a person opened
// by starting the program from Explorer, which must not close before they have read it.
#pragma once

#include <windows.h>

#include <string>

// Whether the standard stream `which` is a console.
bool IsConsole(DWORD which);

// Writes `line` and a line break to the standard stream `which` (STD_OUTPUT_HANDLE or
// STD_ERROR_HANDLE): to a console as UTF-16, whatever its code page; to a file or pipe as
// UTF-8.
void PrintLine(DWORD which, const std::wstring& line);

// Whether a person started the program from Explorer (a double-click, "Run as administrator",
// a shortcut), so that its console window was opened for it alone and closes when it ends:
// Explorer started it, in a user's session, and its input and output are a console that no
// other process shares. Anything unattended fails one of these: a deployment tool or service
// runs in session 0 or redirects the output, a shell shares its console, and any other parent
// is not Explorer. Ask at start-up, while the parent is surely still there.
bool StartedFromExplorer();

// Shows `prompt` and returns once a key is pressed (a modifier key alone does not count): its
// virtual-key code ('A' to 'Z' for letters, whatever the keyboard's language), or 0 for a key
// pressed with Ctrl or Alt and when the console cannot be read. Closing the window or Ctrl+C
// instead ends the program with `status`.
WORD WaitForKey(const std::wstring& prompt, int status);
