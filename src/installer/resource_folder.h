// Entries of the OCR resource folder, judged through the handle that was opened rather than by
// name, so that a link, or a name swapped for one, never leads a write, rename or delete out of
// the folder; and waited for, briefly, while another program holds one for a moment.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "host/win32.h"

// On a real machine the installer is never alone in the folder: on-access malware scanners,
// search indexers, backup and sync agents open a file right after it is written or renamed and
// keep it for tens to hundreds of milliseconds, often without delete sharing. The functions
// below that open, create, rename or remove an entry wait such holders out, retrying after 10,
// 20, 40, 80 and then every 100 ms, until this much waiting in all is spent; a refusal that
// outlasts it is final, and is that of a file in use, whatever code the system gave. A run
// spends it while it installs; an undo is given it afresh.
inline constexpr DWORD kHolderWaitMilliseconds = 3'000;

// The folder the installer works in, held open for the run.
struct ResourceFolder {
  std::wstring path;        // as the installer uses it, ending in a backslash
  std::wstring final_path;  // as the system resolves it, ending in a backslash; may be empty
  UniqueHandle handle;
  DWORD holder_wait_ms = kHolderWaitMilliseconds;  // what is left of the wait for holders
};

// Opens `path` (ending in a backslash) as the resource folder. Fails when it is missing or is
// not a folder; nothing is created.
std::optional<Failure> OpenResourceFolder(const std::wstring& path, ResourceFolder& folder);

// A failed call's error code, and for an access denial the system's own status behind it,
// which tells a file still being deleted from a lack of rights.
struct SystemError {
  DWORD code = ERROR_SUCCESS;
  LONG status = 0;
};
SystemError LastSystemError();

// Whether another program holding the entry for now explains the error: a sharing or lock
// violation, or an access denial because the file is being deleted or is mapped. An access
// denial for want of rights is not.
bool HeldForNow(const SystemError& error);

// Whether a step failed with `code` because another program has the file open or mapped.
bool IsInUse(DWORD code);

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

struct Entry {
  EntryKind kind = EntryKind::kAbsent;
  bool read_only = false;
  bool opened_as_link = false;  // the handle is the link itself, not what it points at
  bool behind_filter = false;   // see BehindAFilter
  UniqueHandle handle;          // open for every kind but kAbsent
};

// How many names the open file has: more than one means that it can also be reached from
// outside the folder (a hard link), so nothing but its name in the folder may be changed.
// 0 when the system cannot say.
DWORD NameCount(HANDLE file);

// Marks the open `file` for deletion, so that its name goes as soon as the system allows: at
// once where it can remove a name that others still hold, otherwise when the last holder
// closes it. With `ignore_read_only`, only where the read-only attribute need not be cleared
// first. The error is left for LastSystemError.
bool DeleteThroughHandle(HANDLE file, bool ignore_read_only);

// Opens the folder's entry `name` with `access` (plus the right to read attributes), sharing
// everything, without following a reparse point where the system allows that, and says what it
// is. A name that cannot be opened for another reason is a failure.
std::optional<Failure> InspectEntry(ResourceFolder& folder, const std::wstring& name, DWORD access,
                                    Entry& entry);

// Makes the handle of the file `entry`, judged as the folder's entry `name`, one that reads its
// content: a file behind a filter is opened again by name, through the filter, and must still be
// the file judged. Any other keeps its handle.
std::optional<Failure> ReadThroughFilter(ResourceFolder& folder, const std::wstring& name,
                                         Entry& entry);

// Fills in what the entry `name`, whose handle is open, is.
std::optional<Failure> ClassifyEntry(const ResourceFolder& folder, const std::wstring& name,
                                     Entry& entry);

// Creates the file `name`, which must not exist, opened with `access` and no sharing.
std::optional<Failure> CreateEntry(ResourceFolder& folder, const std::wstring& name, DWORD access,
                                   UniqueHandle& file);

// Whether two names in the folder are the same name to the system (case is ignored).
bool SameName(const std::wstring& a, const std::wstring& b);

// The names of the folder's entries that match the wildcard `pattern`; a failure when the folder
// cannot be listed.
std::optional<Failure> ListEntries(const ResourceFolder& folder, const wchar_t* pattern,
                                   std::vector<std::wstring>& names);

// "is a folder", "is a link ...": why an entry that is not a plain file was left alone.
std::wstring KindText(EntryKind kind);

// Removes the entry `name` if there is one: a file, or a link as itself where the system opens
// links as themselves (the read-only attribute of either cleared first, unless it has another
// name elsewhere). Anything else is left alone and is a failure; so is a link the system
// would only follow. A file that another program keeps open or mapped past the wait fails with
// the code of a file in use.
std::optional<Failure> RemoveEntry(ResourceFolder& folder, const std::wstring& name);

// Opens the plain file `name` of the folder so that it can be moved; absent, or anything but a
// plain file, is a failure.
std::optional<Failure> OpenToMove(ResourceFolder& folder, const std::wstring& name, Entry& entry);

// Renames `from`, opened by OpenToMove as `opened`, to `to` within the folder, written through,
// and then closes `opened`. Replaces an existing `to` only with MOVEFILE_REPLACE_EXISTING in
// `flags`.
std::optional<Failure> MoveOpened(ResourceFolder& folder, Entry& opened, const std::wstring& from,
                                  const std::wstring& to, DWORD flags);

// OpenToMove, then MoveOpened.
std::optional<Failure> MoveEntry(ResourceFolder& folder, const std::wstring& from,
                                 const std::wstring& to, DWORD flags);
