// A stand-in for what is never absent from a real Windows machine: an on-access malware
// scanner, a search indexer, a sync agent. It watches a folder and, for each file that appears,
// is renamed in or is written, opens it for reading without delete sharing (retrying for a
// moment while the writer still has it), reads it, and holds it for 40 to 250 ms; one thread
// per file.
// Usage: scanner FOLDER READY-EVENT  (sets the named event once it watches; runs until killed)
#include <windows.h>

#include <string>

namespace {

std::wstring folder;
LONG scans = 0;

DWORD WINAPI Scan(void* parameter) {
  std::wstring* name = static_cast<std::wstring*>(parameter);
  const std::wstring path = folder + *name;
  delete name;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 20 && file == INVALID_HANDLE_VALUE; ++tries) {
    file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_SHARING_VIOLATION) return 0;
      Sleep(5);
    }
  }
  if (file == INVALID_HANDLE_VALUE) return 0;
  static char buffer[64 * 1024];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0) {
  }
  // Spread over 40 to 250 ms, the same sequence on every run.
  const LONG scan = InterlockedIncrement(&scans);
  Sleep(40 + static_cast<DWORD>(scan * 97 % 211));
  CloseHandle(file);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  folder = argv[1];
  if (folder.back() != L'\\') folder += L'\\';
  HANDLE directory = CreateFileW(
      folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (directory == INVALID_HANDLE_VALUE || ready == nullptr) return 2;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  alignas(DWORD) static BYTE changes[64 * 1024];
  for (;;) {
    ResetEvent(overlapped.hEvent);
    if (!ReadDirectoryChangesW(
            directory, changes, sizeof changes, FALSE,
            FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE,
            nullptr, &overlapped, nullptr))
      return 2;
    // The watch is in place once the first request is made.
    if (ready != nullptr) {
      SetEvent(ready);
      CloseHandle(ready);
      ready = nullptr;
    }
    DWORD bytes = 0;
    if (!GetOverlappedResult(directory, &overlapped, &bytes, TRUE)) return 2;
    for (DWORD offset = 0; bytes != 0;) {
      const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(changes + offset);
      if (change->Action == FILE_ACTION_ADDED || change->Action == FILE_ACTION_MODIFIED ||
          change->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        auto* name = new std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t));
        HANDLE thread = CreateThread(nullptr, 0, Scan, name, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
      }
      if (change->NextEntryOffset == 0) break;
      offset += change->NextEntryOffset;
    }
  }
}
