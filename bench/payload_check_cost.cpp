// Times the payload check on its own: the digest of each payload embedded in an installer
// image, computed by the installer's own build of the digest code. Prints three numbers, in
// milliseconds, for all six payloads together: bringing the image's pages in (one read per
// page; the installer's writes pay this whether or not it checks), then the first digest pass
// and the median of the passes after it.
// Usage: payload_check_cost INSTALLER.exe
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "installer/catalogue.h"
#include "payload/digest.h"
#include "payload/writer.h"

constexpr int kPasses = 51;

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: payload_check_cost INSTALLER.exe\n", stderr);
    return 2;
  }
  // Mapped as an image, as the loader maps the installer itself.
  const HMODULE image = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) {
    std::fprintf(stderr, "cannot load %ls (%lu)\n", argv[1], GetLastError());
    return 2;
  }
  const Catalogue catalogue = BuildCatalogue();
  std::vector<Payload> payloads(catalogue.size());
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (auto failure =
            LoadPayload(image, catalogue[i].resource_id, catalogue[i].file_name, payloads[i])) {
      std::fprintf(stderr, "%ls\n", Describe(*failure).c_str());
      return 2;
    }
  }

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const auto milliseconds = [&frequency](const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  };
  volatile std::uint64_t sink = 0;  // keeps the reads and digests from being optimised away
  LARGE_INTEGER start;
  LARGE_INTEGER end;

  QueryPerformanceCounter(&start);
  for (const Payload& payload : payloads) {
    const auto* bytes = static_cast<const volatile unsigned char*>(payload.bytes);
    for (std::size_t offset = 0; offset < payload.size; offset += 4096) sink = sink + bytes[offset];
  }
  QueryPerformanceCounter(&end);
  const double page_in = milliseconds(start, end);

  std::vector<double> passes;
  for (int pass = 0; pass < kPasses + 1; ++pass) {
    QueryPerformanceCounter(&start);
    for (const Payload& payload : payloads)
      sink = sink ^ PayloadDigest(payload.bytes, payload.size);
    QueryPerformanceCounter(&end);
    passes.push_back(milliseconds(start, end));
  }
  // What was timed is the installer's check only if it finds these payloads intact.
  for (size_t i = 0; i < catalogue.size(); ++i) {
    if (PayloadDigest(payloads[i].bytes, payloads[i].size) != catalogue[i].digest) {
      std::fprintf(stderr, "%ls does not match its recorded digest\n",
                   catalogue[i].file_name.c_str());
      return 2;
    }
  }
  const double first = passes.front();
  std::nth_element(passes.begin() + 1, passes.begin() + 1 + kPasses / 2, passes.end());
  std::printf("%.3f %.3f %.3f\n", page_in, first, passes[1 + kPasses / 2]);
  return 0;
}
