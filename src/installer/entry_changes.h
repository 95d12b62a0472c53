// Changes to the resource folder's entries: creating a new file, moving one within the folder,
// removing one. Each acts on the entry that was judged through its handle, and waits out
// programs that hold it for a moment.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "host/win32.h"
#include "installer/failure.h"
#include "installer/folder_entries.h"
#include "installer/patience.h"
#include "installer/resource_folder.h"

// Creates the file `name`, which must not exist, opened with `access` and no sharing, and checks
// that it was created in the folder (CheckCreatedInFolder).
[[nodiscard]] std::optional<Failure> CreateEntry(const ResourceFolder& folder, Patience& patience,
                                                 const std::wstring& name, DWORD access,
                                                 UniqueHandle& file);

// Removes the entry `name` if there is one: a file, or a link as itself where the system opens
// links as themselves (the read-only attribute of either cleared first, unless it has another
// name elsewhere). Anything else is left alone and is a failure; so is a link the system
// would only follow. A file that another program keeps open or mapped past the wait is a
// failure of kInUse; a read-only one with another name outside the folder, whose attribute is
// never cleared, is refused as a read-only target is, where the system cannot remove the name
// without clearing it: the only refusal that is the installer's own finding (no code).
[[nodiscard]] std::optional<Failure> RemoveEntry(const ResourceFolder& folder, Patience& patience,
                                                 const std::wstring& name);

// Opens the plain file `name` of the folder so that it can be moved. Absent, or anything but a
// plain file, is a failure; where the system gave a reason, it is said as `attempt` ("could
// not move ...").
[[nodiscard]] std::optional<Failure> OpenToMove(const ResourceFolder& folder, Patience& patience,
                                                const std::wstring& name,
                                                const std::wstring& attempt, Entry& entry);

// Renames `from`, opened by OpenToMove as `opened`, to `to` within the folder, written through,
// and then closes `opened`. Replaces an existing `to` only with MOVEFILE_REPLACE_EXISTING in
// `flags`.
[[nodiscard]] std::optional<Failure> MoveOpened(const ResourceFolder& folder, Patience& patience,
                                                Entry& opened, const std::wstring& from,
                                                const std::wstring& to, DWORD flags);

// OpenToMove, then MoveOpened.
[[nodiscard]] std::optional<Failure> MoveEntry(const ResourceFolder& folder, Patience& patience,
                                               const std::wstring& from, const std::wstring& to,
                                               DWORD flags);

// A file is created by name, and the folder, held open for the run, can still be moved and
// replaced by a link meanwhile by anyone who may change its parent: the name then leads
// elsewhere. So the new `file` must be the folder's entry `name` by its final path; where it is
// not, what was created goes again, through its handle (opened with DELETE), before a byte is
// written, and that is a failure naming the folder.
[[nodiscard]] std::optional<Failure> CheckCreatedInFolder(const ResourceFolder& folder,
                                                          const std::wstring& name,
                                                          UniqueHandle& file);

// Marks the open `file` for deletion, so that its name goes as soon as the system allows: at
// once where it can remove a name that others still hold, otherwise when the last holder
// closes it. With `ignore_read_only`, only where the read-only attribute need not be cleared
// first. The error is left for LastSystemError.
bool DeleteThroughHandle(HANDLE file, bool ignore_read_only);
