#include "installer/entry_changes.h"

namespace {

// Deleting with POSIX semantics drops the name at once even while others hold the file
// (Windows 10 and later, on NTFS); older systems, FAT, some network shares and Wine refuse it.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

}  // namespace

std::optional<Failure> CreateEntry(const ResourceFolder& folder, Patience& patience,
                                   const std::wstring& name, DWORD access, UniqueHandle& file) {
  const std::wstring path = folder.path + name;
  if (auto failure = patience.Retry([&] {
        file.reset(CreateFileW(path.c_str(), access | DELETE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
      })) {
    failure->what = L"could not create " + path;
    return failure;
  }
  return CheckCreatedInFolder(folder, name, file);
}

std::optional<Failure> CheckCreatedInFolder(const ResourceFolder& folder, const std::wstring& name,
                                            UniqueHandle& file) {
  if (folder.final_path.empty() || SameName(FinalPath(file.get()), folder.final_path + name))
    return std::nullopt;
  DeleteThroughHandle(file.get(), false);
  file.reset();
  return Finding(L"the resource folder " + folder.path +
                 L" was moved or replaced while the installer worked in it");
}

bool DeleteThroughHandle(HANDLE file, bool ignore_read_only) {
  DWORD flags = kDispositionDelete | kDispositionPosixSemantics;
  if (ignore_read_only) flags |= kDispositionIgnoreReadOnly;
  if (SetFileInformationByHandle(file, kFileDispositionInfoEx, &flags, sizeof flags)) return true;
  if (ignore_read_only) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

std::optional<Failure> RemoveEntry(const ResourceFolder& folder, Patience& patience,
                                   const std::wstring& name) {
  const std::wstring path = folder.path + name;
  Entry entry;
  // Passed up whole, said as the removal it was for.
  if (auto failure = InspectEntry(folder, patience, name, DELETE | FILE_WRITE_ATTRIBUTES, entry)) {
    failure->what = L"could not remove " + path;
    return failure;
  }
  if (entry.kind == EntryKind::kAbsent) return std::nullopt;
  const bool removable =
      entry.kind == EntryKind::kFile || (entry.kind == EntryKind::kLink && entry.opened_as_link);
  if (!removable) return Finding(path + L" " + KindText(entry.kind) + L"; it was left alone");
  // The attribute belongs to the file, not to the name: one with a name elsewhere keeps it. A
  // link opened as itself has an attribute of its own, which its handle clears.
  bool read_only = entry.read_only;
  const bool keep_read_only = read_only && NameCount(entry.handle.get()) > 1;
  if (read_only && !keep_read_only) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic))
      return SystemFailure(L"could not remove " + path, GetLastError());
    read_only = false;
  }
  // While the attribute is on, the system refuses the deletion for it with the status that a
  // mapped file gets: that is the attribute, not another program.
  const auto outcome_of = [&](const SystemError& error) {
    if (read_only && error.status == kStatusCannotDelete) return Outcome::kRefused;
    return OutcomeOfError(error);
  };
  // Deleting through the checked handle removes exactly what was checked.
  std::optional<Failure> failure = patience.Retry(
      [&] { return DeleteThroughHandle(entry.handle.get(), read_only); }, outcome_of);
  if (!failure) return std::nullopt;
  // Left alone for the attribute: refused, as a read-only target is.
  if (read_only && failure->outcome != Outcome::kInUse)
    return Finding(
        path + L" is read-only and has another name outside the folder; it was left alone",
        Outcome::kRefused);
  failure->what = L"could not remove " + path;
  return failure;
}

std::optional<Failure> OpenToMove(const ResourceFolder& folder, Patience& patience,
                                  const std::wstring& name, const std::wstring& attempt,
                                  Entry& entry) {
  // Passed up whole, said as the attempt it was for.
  if (auto failure = InspectEntry(folder, patience, name, DELETE, entry)) {
    failure->what = attempt;
    return failure;
  }
  if (entry.kind == EntryKind::kAbsent) return SystemFailure(attempt, ERROR_FILE_NOT_FOUND);
  if (entry.kind != EntryKind::kFile)
    return Finding(folder.path + name + L" " + KindText(entry.kind) + L"; it was left alone");
  return std::nullopt;
}

std::optional<Failure> MoveOpened(const ResourceFolder& folder, Patience& patience, Entry& opened,
                                  const std::wstring& from, const std::wstring& to, DWORD flags) {
  const std::wstring source = folder.path + from;
  const std::wstring target = folder.path + to;
  // Replacing a file that another program has open is refused as "access denied" even when it
  // shares deletion; opening the target as the rename would tells that from a lack of rights.
  const auto outcome_of = [&](const SystemError& error) {
    const Outcome outcome = OutcomeOfError(error);
    if (outcome != Outcome::kRefused || (flags & MOVEFILE_REPLACE_EXISTING) == 0) return outcome;
    const UniqueHandle probe(CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (probe || OutcomeOfError(LastSystemError()) == Outcome::kInUse) return Outcome::kInUse;
    return outcome;
  };
  // The checked handle stays open (sharing deletion) until the name has moved.
  std::optional<Failure> failure = patience.Retry(
      [&] {
        return MoveFileExW(source.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH) != FALSE;
      },
      outcome_of);
  opened.handle.reset();
  if (failure) failure->what = L"could not move " + source + L" to " + target;
  return failure;
}

std::optional<Failure> MoveEntry(const ResourceFolder& folder, Patience& patience,
                                 const std::wstring& from, const std::wstring& to, DWORD flags) {
  Entry entry;
  const std::wstring attempt = L"could not move " + folder.path + from + L" to " + folder.path + to;
  if (auto failure = OpenToMove(folder, patience, from, attempt, entry)) return failure;
  return MoveOpened(folder, patience, entry, from, to, flags);
}
