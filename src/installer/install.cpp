#include "installer/install.h"

#include <optional>
#include <utility>

#include "payload/writer.h"

namespace {

// A target and the working files kept beside it.
struct TargetFiles {
  std::wstring target;
  std::wstring staged;
  std::wstring backup;
  std::wstring absent;
};

TargetFiles FilesFor(const std::wstring& directory, const PayloadEntry& entry) {
  std::wstring target = directory + entry.file_name;
  return {target, target + kStagedSuffix, target + kBackupSuffix, target + kAbsentSuffix};
}

void Collect(std::vector<Failure>& problems, std::optional<Failure> failure) {
  if (failure) problems.push_back(std::move(*failure));
}

std::optional<Failure> RemoveIfPresent(const std::wstring& path) {
  if (DeleteFileW(path.c_str())) return std::nullopt;
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND) return std::nullopt;
  return Failure{L"could not remove " + path, code};
}

// Moves the target aside (or marks that there was none), then puts the staged file in its
// place. Never overwrites a backup: there is none left from an earlier run at this point.
std::optional<Failure> Replace(const TargetFiles& files) {
  if (!MoveFileExW(files.target.c_str(), files.backup.c_str(), 0)) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND) return Failure{L"could not replace " + files.target, code};
    UniqueHandle marker(CreateFileW(files.absent.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker) return Failure{L"could not create " + files.absent, GetLastError()};
  }
  if (!MoveFileExW(files.staged.c_str(), files.target.c_str(), 0))
    return Failure{L"could not replace " + files.target, GetLastError()};
  return std::nullopt;
}

// Puts back every target whose replacement had begun, then removes the staged files.
std::vector<Failure> RollBack(const std::wstring& directory, const PayloadTable& table) {
  std::vector<Failure> problems;
  for (const PayloadEntry& entry : table) {
    const TargetFiles files = FilesFor(directory, entry);
    if (PathExists(files.backup)) {
      if (!MoveFileExW(files.backup.c_str(), files.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        problems.push_back(
            {L"could not restore " + files.target + L" from " + files.backup, GetLastError()});
      }
    } else if (PathExists(files.absent)) {
      std::optional<Failure> failure = RemoveIfPresent(files.target);
      if (!failure) failure = RemoveIfPresent(files.absent);
      Collect(problems, std::move(failure));
    }
  }
  // While a staged file is left, the next run knows the replacement did not finish and undoes
  // it; so they stay until every target is back.
  if (problems.empty()) {
    for (const PayloadEntry& entry : table)
      Collect(problems, RemoveIfPresent(FilesFor(directory, entry).staged));
  }
  return problems;
}

// Every target has been replaced: the backups and markers have served.
std::vector<Failure> DiscardBackups(const std::wstring& directory, const PayloadTable& table) {
  std::vector<Failure> problems;
  for (const PayloadEntry& entry : table) {
    const TargetFiles files = FilesFor(directory, entry);
    Collect(problems, RemoveIfPresent(files.backup));
    Collect(problems, RemoveIfPresent(files.absent));
  }
  return problems;
}

// A run that was stopped part-way left working files. Staged files left over mean the targets
// were not all replaced: undo. Only backups or markers left over mean they were: finish.
std::vector<Failure> ResolveInterruptedRun(const std::wstring& directory,
                                           const PayloadTable& table) {
  bool staging_left = false;
  bool backups_left = false;
  for (const PayloadEntry& entry : table) {
    const TargetFiles files = FilesFor(directory, entry);
    staging_left = staging_left || PathExists(files.staged);
    backups_left = backups_left || PathExists(files.backup) || PathExists(files.absent);
  }
  if (staging_left) return RollBack(directory, table);
  if (backups_left) return DiscardBackups(directory, table);
  return {};
}

InstallResult Undo(Failure cause, const std::wstring& directory, const PayloadTable& table) {
  InstallResult result{InstallState::kUnchanged, {std::move(cause)}};
  for (Failure& problem : RollBack(directory, table)) {
    result.state = InstallState::kInconsistent;
    result.problems.push_back(std::move(problem));
  }
  return result;
}

}  // namespace

InstallResult InstallPayloads(const std::wstring& directory, const PayloadTable& table,
                              HMODULE module) {
  const DWORD attributes = GetFileAttributesW(directory.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const DWORD code = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
    return {InstallState::kUnchanged, {{L"could not find the resource folder " + directory, code}}};
  }

  std::vector<Failure> leftovers = ResolveInterruptedRun(directory, table);
  if (!leftovers.empty()) return {InstallState::kInconsistent, std::move(leftovers)};

  for (const PayloadEntry& entry : table) {
    std::optional<Failure> failure =
        ExtractResourceToFile(module, entry.resource_id, FilesFor(directory, entry).staged);
    if (failure) return Undo(std::move(*failure), directory, table);
  }
  for (const PayloadEntry& entry : table) {
    std::optional<Failure> failure = Replace(FilesFor(directory, entry));
    if (failure) return Undo(std::move(*failure), directory, table);
  }
  return {InstallState::kInstalled, DiscardBackups(directory, table)};
}
