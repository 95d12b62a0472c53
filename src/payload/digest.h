// The digest the build records for each payload and the installer checks before writing it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "installer/failure.h"

// XXH3-64 with seed 0: the value `xxhsum -H3` prints for the same bytes, which is how the build
// records it. Guards against accidental damage (a bad download, a failing disk), not tampering.
std::uint64_t PayloadDigest(const void* bytes, std::size_t size);

// Whether the open `file` (read from its start) holds exactly `size` bytes whose digest is
// `digest`: sizes first, then the bytes. Comparing digests rather than bytes leaves the
// payload's pages of the image untouched, which is most of what a repeat run costs.
[[nodiscard]] std::optional<Failure> FileHasDigest(HANDLE file, const std::wstring& path,
                                                   std::uint64_t size, std::uint64_t digest,
                                                   bool& same);
