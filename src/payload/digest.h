// The digest the build records for each payload and the installer checks before writing it.
#pragma once

#include <cstddef>
#include <cstdint>

// XXH3-64 with seed 0: the value `xxhsum -H3` prints for the same bytes, which is how the build
// records it. Guards against accidental damage (a bad download, a failing disk), not tampering.
std::uint64_t PayloadDigest(const void* bytes, std::size_t size);
