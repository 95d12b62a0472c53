// Entries of the OCR resource folder, judged through the handle that was opened rather than by
// name, so that a link, or a name swapped for one, never leads a write, rename or delete out of
// the folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"

// The folder the installer works in, held open for the run.
struct ResourceFolder {
  std::wstring path;        // as the installer uses it, ending in a backslash
  std::wstring final_path;  // as the system resolves it, without the backslash; may be empty
  UniqueHandle handle;
};

// Opens `path` (ending in a backslash) as the resource folder. Fails when it is missing or is
// not a folder; nothing is created.
std::optional<Failure> OpenResourceFolder(const std::wstring& path, ResourceFolder& folder);

enum class EntryKind {
  kAbsent,
  kFile,    // a regular file in the folder itself
  kFolder,  // a folder (or a link to one)
  kLink,    // a link or other reparse point, or a name that resolves outside the folder
  kDevice,  // anything that is not a file on a disk
};

struct Entry {
  EntryKind kind = EntryKind::kAbsent;
  bool read_only = false;
  bool opened_as_link = false;  // the handle is the link itself, not what it points at
  UniqueHandle handle;          // open for every kind but kAbsent
};

// Opens the folder's entry `name` with `access` (plus the right to read attributes), sharing
// everything, without following a reparse point where the system allows that, and says what it
// is. A name that cannot be opened for another reason is a failure.
std::optional<Failure> InspectEntry(const ResourceFolder& folder, const std::wstring& name,
                                    DWORD access, Entry& entry);

// Fills in what the entry `name`, whose handle is open, is.
std::optional<Failure> ClassifyEntry(const ResourceFolder& folder, const std::wstring& name,
                                     Entry& entry);

// Whether any entry's name matches the wildcard `pattern`; true too when the folder cannot be
// listed, so that a caller checks each name it cares about.
bool AnyEntryMatches(const ResourceFolder& folder, const wchar_t* pattern);

// "is a folder", "is a link ...": why an entry that is not a plain file was left alone.
std::wstring KindText(EntryKind kind);

// Removes the entry `name` if there is one: a file (its read-only attribute cleared first), or
// a link as itself where the system opens links as themselves. Anything else is left alone
// and is a failure; so is a link the system would only follow.
std::optional<Failure> RemoveEntry(const ResourceFolder& folder, const std::wstring& name);

// Renames the file `from` to `to` within the folder, written through, after checking that
// `from` is a plain file of the folder. Replaces an existing `to` only with
// MOVEFILE_REPLACE_EXISTING in `flags`.
std::optional<Failure> MoveEntry(const ResourceFolder& folder, const std::wstring& from,
                                 const std::wstring& to, DWORD flags);
