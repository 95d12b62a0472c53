// Copies one payload embedded in an executable image into one file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"

// Writes the raw-data resource `resource_id` of `module` to a new file at `path`, replacing
// any file there, in one write straight from the loaded image, and flushes it to disk.
// A short write counts as a full disk. On failure the file may hold part of the payload;
// the caller decides what to do with it.
std::optional<Failure> ExtractResourceToFile(HMODULE module, WORD resource_id,
                                             const std::wstring& path);
