// Entries of the resource folder, judged through the handle that was opened rather than by
// name, so that a link, or a name swapped for one, never leads a write, rename or delete out of
// the folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"
#include "installer/failure.h"
#include "installer/patience.h"
#include "installer/resource_folder.h"

enum class EntryKind {
  kAbsent,
  kFile,    // a regular file in the folder itself
  kFolder,  // a folder (or a link to one)
  kLink,    // a link (symbolic link, junction, mount point), or a name that resolves outside
            // the folder
  kDevice,  // anything that is not a file on a disk
};

// What attributes and a reparse tag, as the system reports them for an entry opened as itself,
// make of it. Only name surrogates lead elsewhere; files that are deduplicated, compressed by
// the system or placeholders of a cloud drive carry reparse points of other kinds and are
// files. Says kFile for anything that further checks of the handle must judge.
EntryKind KindOfAttributes(DWORD attributes, DWORD reparse_tag);

// Whether a file that the system reports, opened as itself, with these attributes and reparse
// tag keeps its content behind a file-system filter (deduplicated, compressed by the system, a
// cloud drive's placeholder): through that handle it reads as the filter's own record, and only
// a handle opened through the filter reads what the file holds.
bool BehindAFilter(DWORD attributes, DWORD reparse_tag);

// "is a folder", "is a link ...": why an entry that is not a plain file was left alone.
std::wstring KindText(EntryKind kind);

struct Entry {
  EntryKind kind = EntryKind::kAbsent;
  bool read_only = false;
  bool opened_as_link = false;  // the handle is the link itself, not what it points at
  bool behind_filter = false;   // see BehindAFilter
  UniqueHandle handle;          // open for every kind but kAbsent
};

// Opens the folder's entry `name` with `access` (plus the right to read attributes), sharing
// everything, without following a reparse point where the system allows that, waiting out
// momentary holders, and says what it is. A name that cannot be opened for another reason is
// a failure.
[[nodiscard]] std::optional<Failure> InspectEntry(const ResourceFolder& folder, Patience& patience,
                                                  const std::wstring& name, DWORD access,
                                                  Entry& entry);

// Fills in what the entry `name`, whose handle is open, is.
[[nodiscard]] std::optional<Failure> ClassifyEntry(const ResourceFolder& folder,
                                                   const std::wstring& name, Entry& entry);

// Makes the handle of the file `entry`, judged as the folder's entry `name`, one that reads its
// content: a file behind a filter is opened again by name, through the filter, and must still be
// the file judged. Any other keeps its handle.
[[nodiscard]] std::optional<Failure> ReadThroughFilter(const ResourceFolder& folder,
                                                       const std::wstring& name, Entry& entry);

// How many names the open file has: more than one means that it can also be reached from
// outside the folder (a hard link), so nothing but its name in the folder may be changed.
// 0 when the system cannot say.
DWORD NameCount(HANDLE file);
