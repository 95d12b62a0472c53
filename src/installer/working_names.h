// The names the installer gives its own files in the resource folder: the working files kept
// beside each target while a run is under way, and the lock file. Every one of them carries
// the same mark, so that one listing of the folder finds them all.
#pragma once

#include <string>
#include <vector>

#include "installer/catalogue.h"

#define ORVEX_WORKING_MARK L"orvex-"

// Beside each target: the new bytes, flushed; the file it replaces; the mark that there was none.
inline constexpr wchar_t kStagedSuffix[] = L"." ORVEX_WORKING_MARK L"new";
inline constexpr wchar_t kBackupSuffix[] = L"." ORVEX_WORKING_MARK L"old";
inline constexpr wchar_t kAbsentSuffix[] = L"." ORVEX_WORKING_MARK L"none";
// Held by the run that works in the folder, and the record of what it is doing.
inline constexpr wchar_t kLockFileName[] = ORVEX_WORKING_MARK L"install.lock";

// Listing patterns: the working files, and the working files with the lock file.
inline constexpr wchar_t kWorkingFilePattern[] = L"*." ORVEX_WORKING_MARK L"*";
inline constexpr wchar_t kOwnFilePattern[] = L"*" ORVEX_WORKING_MARK L"*";

#undef ORVEX_WORKING_MARK

// The names of every working file of `catalogue`'s targets: those whose entries in the list of
// renames for the next restart only runs of this program make, and so only they rewrite.
std::vector<std::wstring> WorkingNames(const Catalogue& catalogue);

// Whether `name` is a working file of one of `catalogue`'s targets, or with `with_lock` the lock
// file.
bool IsOwnName(const std::wstring& name, const Catalogue& catalogue, bool with_lock);
