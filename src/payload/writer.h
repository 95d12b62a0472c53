// Reaches the payloads embedded in an executable image and copies one into one new file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"
#include "installer/failure.h"

// A payload's bytes where the loaded image holds them; never copied.
struct Payload {
  const void* bytes = nullptr;
  DWORD size = 0;
};

// Finds the raw-data resource `resource_id` of `module`. `name` says in a failure which
// payload it was.
[[nodiscard]] std::optional<Failure> LoadPayload(HMODULE module, WORD resource_id,
                                                 const std::wstring& name, Payload& payload);

// Writes `payload` into `file`, a file the caller has just created at `path` (so nothing is ever
// written through a name that was already there), in one write straight from the image,
// flushes it to disk and closes it. A short write counts as a full disk. On failure the file
// may hold part of the payload; the caller decides what to do with it.
[[nodiscard]] std::optional<Failure> ExtractResourceToFile(const Payload& payload,
                                                           UniqueHandle file,
                                                           const std::wstring& path);
