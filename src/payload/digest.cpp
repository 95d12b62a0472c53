#include "payload/digest.h"

#include <memory>

// Header-only: the whole of xxHash is compiled into this file and nothing else sees it. The
// header is the build machine's copy, placed in the generated folder by the build.
#define XXH_INLINE_ALL
#include "xxhash.h"

// One code path for both uses: the one-shot function would inline a second copy of XXH3
// (several KiB of the image) for no measurable gain.
std::uint64_t PayloadDigest(const void* bytes, std::size_t size) {
  XXH3_state_t state;
  XXH3_64bits_reset(&state);
  XXH3_64bits_update(&state, bytes, size);
  return XXH3_64bits_digest(&state);
}

std::optional<Failure> FileHasDigest(HANDLE file, const std::wstring& path, std::uint64_t size,
                                     std::uint64_t digest, bool& same) {
  same = false;
  DWORD error = ERROR_SUCCESS;
  LARGE_INTEGER file_size{};
  if (!GetFileSizeEx(file, &file_size)) {
    error = GetLastError();
  } else if (static_cast<std::uint64_t>(file_size.QuadPart) == size) {
    // Read, not mapped: a read error (a share gone away) comes back as an error, not a crash.
    // Small chunks stay in the cache; under Wine 64 KiB reads took a third of the time of 1 MiB
    // ones, and mapping the file was slower than either.
    constexpr DWORD kChunk = 64 * 1024;
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    DWORD read = 0;
    for (std::uint64_t done = 0; done < size; done += read) {
      if (!ReadFile(file, buffer.get(), kChunk, &read, nullptr)) {
        error = GetLastError();
        break;
      }
      if (read == 0) return std::nullopt;  // shrunk while being read
      XXH3_64bits_update(&state, buffer.get(), read);
    }
    same = error == ERROR_SUCCESS && XXH3_64bits_digest(&state) == digest;
  }
  // Said in one place: this file is compiled for speed, not size.
  if (error != ERROR_SUCCESS) return SystemFailure(L"could not read " + path, error);
  return std::nullopt;
}
