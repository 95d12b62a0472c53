#include "installer/folder_lock.h"

#include "installer/entry_changes.h"
#include "installer/folder_entries.h"
#include "installer/patience.h"
#include "installer/working_names.h"

namespace {

constexpr DWORD kRetryMilliseconds = 50;
constexpr int kVanishedTries = 20;
// First line of a record of targets scheduled for the next restart; no file name has "<".
constexpr wchar_t kRestartLine[] = L"<next restart>";

HANDLE OpenLockFile(const std::wstring& path, DWORD disposition) {
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void FolderLock::Release() {
  if (!file_) return;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file_.get(), &size) && size.QuadPart == 0)
    DeleteThroughHandle(file_.get(), false);
  file_.reset();
}

std::optional<Failure> FolderLock::Acquire(const ResourceFolder& folder, DWORD wait_ms) {
  path_ = folder.path + kLockFileName;
  const ULONGLONG start = GetTickCount64();
  int vanished = 0;
  int relinked = 0;
  for (;;) {
    // Only ever created as a new file or opened as an existing one, never created through a
    // name that is taken (a link planted there, say).
    file_.reset(OpenLockFile(path_, CREATE_NEW));
    SystemError error = LastSystemError();
    if (file_) {
      if (auto failure = CheckCreatedInFolder(folder, kLockFileName, file_)) return failure;
      break;
    }
    if (error.code == ERROR_FILE_EXISTS) {
      file_.reset(OpenLockFile(path_, OPEN_EXISTING));
      error = LastSystemError();
      // Taken, yet not there to open: once is another run removing it, every time is a link
      // that leads nowhere.
      if (error.code == ERROR_FILE_NOT_FOUND && ++vanished == kVanishedTries)
        return Finding(path_ +
                       L" is taken by something that cannot be opened, such as a "
                       L"broken link; remove it");
      // A file with another name (a hard link planted here) is not this folder's alone: the
      // record would be written into a file elsewhere. Its name here goes, and a new file is
      // made; the file itself is never written.
      if (file_ && NameCount(file_.get()) > 1) {
        const bool removed = DeleteThroughHandle(file_.get(), false);
        file_.reset();
        if (!removed || ++relinked == kVanishedTries)
          return Finding(path_ +
                         L" has another name outside the folder (a hard link) "
                         L"and could not be removed; remove it");
        continue;
      }
    }
    if (file_) break;
    // Held by another run, or by another program for a moment, or being removed by the run
    // before: worth waiting for. Anything else, a lack of rights above all, is final at once.
    if (error.code != ERROR_FILE_NOT_FOUND && OutcomeOfError(error) != Outcome::kInUse)
      return SystemFailure(L"could not lock the resource folder with " + path_, error.code);
    if (GetTickCount64() - start >= wait_ms) {
      return Finding(L"another installation is in progress in " + folder.path +
                         L" and did not finish within " + DecimalText(wait_ms / 1000) + L" seconds",
                     Outcome::kBusy);
    }
    Sleep(kRetryMilliseconds);
  }

  // Opened, so it is not held by anyone; but it must be a plain file of this folder.
  Entry entry;
  entry.handle = std::move(file_);
  std::optional<Failure> failure = ClassifyEntry(folder, kLockFileName, entry);
  if (!failure && entry.kind != EntryKind::kFile)
    failure = Finding(path_ + L" " + KindText(entry.kind) + L"; remove it");
  if (failure) return failure;
  file_ = std::move(entry.handle);
  return std::nullopt;
}

std::optional<Failure> FolderLock::ReadRecord(RunRecord& record) const {
  record = RunRecord{};
  std::vector<std::wstring>& names = record.names;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file_.get(), &size))
    return SystemFailure(L"could not read " + path_, GetLastError());
  if (size.QuadPart == 0) return std::nullopt;
  // Nothing this program writes there is larger; anything else is not a record of ours.
  if (size.QuadPart > 64 * 1024) return std::nullopt;
  std::wstring text(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t), L'\0');
  DWORD read = 0;
  if (SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(file_.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read,
                nullptr))
    return SystemFailure(L"could not read " + path_, GetLastError());
  text.resize(read / sizeof(wchar_t));
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  record.for_restart = !names.empty() && names.front() == kRestartLine;
  if (record.for_restart) names.erase(names.begin());
  return std::nullopt;
}

std::optional<Failure> FolderLock::Record(const RunRecord& record) {
  std::wstring text;
  if (record.for_restart && !record.names.empty()) text = std::wstring(kRestartLine) + L"\n";
  for (const std::wstring& name : record.names) text += name + L"\n";
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !WriteFile(file_.get(), text.data(), bytes, &written, nullptr))
    return SystemFailure(L"could not write " + path_, GetLastError());
  // A full disk can come back as success with fewer bytes written and no error code.
  if (written != bytes) return Finding(L"could not write " + path_, Outcome::kDiskFull);
  if (!SetEndOfFile(file_.get()) || !FlushFileBuffers(file_.get()))
    return SystemFailure(L"could not write " + path_, GetLastError());
  return std::nullopt;
}
