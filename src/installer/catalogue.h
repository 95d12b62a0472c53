// The catalogue: the payloads the installer carries, and where they go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The OCR engine's resource folder, relative to the host installation directory.
inline constexpr wchar_t kOcrResourceSubdir[] = L"IRIS_OCR\\resources\\";

struct PayloadEntry {
  std::uint8_t resource_id;  // raw-data resource holding the file's bytes
  std::wstring file_name;    // bare name, no directory part
  // PayloadDigest of the file's bytes, taken by the build. A row made without one carries 0,
  // which no intact payload is expected to match.
  std::uint64_t digest = 0;
};

// The payloads, in installation order.
using Catalogue = std::vector<PayloadEntry>;

// The catalogue of the six payloads this installer carries.
Catalogue BuildCatalogue();
