// Small helpers over the Win32 API: owners for handles, where a registry value lives, text
// conversions and the system's own message for an error code.
#pragma once

#include <windows.h>

#include <string>

// Move-only owner of a Win32 handle; Traits says which values mean "none" and how to close.
template <typename Traits>
class UniqueHandleOf {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Handle handle) : handle_(handle) {}
  UniqueHandleOf(UniqueHandleOf&& other) noexcept : handle_(other.release()) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
  ~UniqueHandleOf() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::IsValid(handle_); }
  // For out-parameters: closes what is held, then lends the slot.
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() {
    Handle handle = handle_;
    handle_ = Traits::None();
    return handle;
  }
  void reset(Handle handle = Traits::None()) {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::None();
};

struct RegistryKeyTraits {
  using Handle = HKEY;
  static HKEY None() { return nullptr; }
  static bool IsValid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};
using UniqueHkey = UniqueHandleOf<RegistryKeyTraits>;

struct KernelHandleTraits {
  using Handle = HANDLE;
  static HANDLE None() { return nullptr; }
  static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueHandleOf<KernelHandleTraits>;

struct ModuleTraits {
  using Handle = HMODULE;
  static HMODULE None() { return nullptr; }
  static bool IsValid(HMODULE module) { return module != nullptr; }
  static void Close(HMODULE module) { FreeLibrary(module); }
};
using UniqueModule = UniqueHandleOf<ModuleTraits>;

struct FindHandleTraits {
  using Handle = HANDLE;
  static HANDLE None() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { FindClose(handle); }
};
using UniqueFindHandle = UniqueHandleOf<FindHandleTraits>;

// Text the system allocated for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalTextTraits {
  using Handle = wchar_t*;
  static wchar_t* None() { return nullptr; }
  static bool IsValid(wchar_t* text) { return text != nullptr; }
  static void Close(wchar_t* text) { LocalFree(text); }
};
using UniqueLocalText = UniqueHandleOf<LocalTextTraits>;

// The function `name` of the loaded `module`, as the type it is declared with; null where the
// module lacks it.
template <typename Function>
Function ProcedureOf(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Where a registry value lives: root key, sub-key path and value name.
struct RegistryValue {
  HKEY root;
  const wchar_t* key;
  const wchar_t* name;
};

// UTF-16 text as UTF-8.
std::string Utf8(const std::wstring& text);

// `value` in decimal digits.
std::wstring DecimalText(unsigned long value);

// The system's own text for an error code, without the trailing line break.
std::wstring SystemMessage(DWORD code);

// Whether `process` runs with an administrator's full rights; false where that cannot be told.
bool IsElevated(HANDLE process);
