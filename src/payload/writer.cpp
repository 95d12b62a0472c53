#include "payload/writer.h"

namespace {

Failure WriteFailure(const std::wstring& path, DWORD code) {
  return SystemFailure(L"could not write " + path, code);
}

}  // namespace

std::optional<Failure> LoadPayload(HMODULE module, WORD resource_id, const std::wstring& name,
                                   Payload& payload) {
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resource_id), RT_RCDATA);
  if (resource == nullptr) {
    return SystemFailure(L"could not find payload " + DecimalText(resource_id) + L" for " + name,
                         GetLastError());
  }
  payload.size = SizeofResource(module, resource);
  const HGLOBAL loaded = LoadResource(module, resource);
  payload.bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (payload.bytes == nullptr) {
    return SystemFailure(L"could not load payload " + DecimalText(resource_id) + L" for " + name,
                         GetLastError());
  }
  return std::nullopt;
}

std::optional<Failure> ExtractResourceToFile(const Payload& payload, UniqueHandle file,
                                             const std::wstring& path) {
  DWORD written = 0;
  if (!WriteFile(file.get(), payload.bytes, payload.size, &written, nullptr))
    return WriteFailure(path, GetLastError());
  // A full disk can come back as success with fewer bytes written and no error code.
  if (written != payload.size) return Finding(L"could not write " + path, Outcome::kDiskFull);
  if (!FlushFileBuffers(file.get())) return WriteFailure(path, GetLastError());
  if (!CloseHandle(file.release())) return WriteFailure(path, GetLastError());
  return std::nullopt;
}
