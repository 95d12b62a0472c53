// Which targets a run changes, and the working files each change uses: planned once per run,
// after what an earlier run was replacing is undone, and given as a value to what comes after
// (weighing an earlier run's schedule, the checks, staging, the replacement).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "installer/catalogue.h"
#include "installer/failure.h"
#include "installer/folder_entries.h"
#include "installer/patience.h"
#include "installer/resource_folder.h"
#include "payload/writer.h"

// A target that has to be written, and its working files (names within the folder).
struct Change {
  std::wstring target;
  std::wstring staged;  // the new file, written beside the target
  std::wstring backup;  // where the target moves aside to
  std::wstring absent;  // marks, where there was no target, that there was none
  Payload payload;
  std::uint64_t digest = 0;  // what the build recorded for the payload
  bool target_exists = false;
  Entry opened;  // the target, opened to be moved aside

  // The name the target makes way under: its backup, or the mark that there was none.
  const std::wstring& Aside() const { return target_exists ? backup : absent; }
};

// The target `name` and the names of its working files.
Change ChangeFor(const std::wstring& name);

// What a run changes: the targets that differ from their payloads, in the catalogue's order; and
// what stands in the way of the changes, with the file a person can act on.
struct Plan {
  std::vector<Change> changes;
  // A file another program keeps that the changes have to wait for, where the checks or the
  // opening of the targets found one (then the whole set is replaced at the next restart), and
  // the file; the file, too, where a staged file's name is held, which ends the run.
  std::optional<Failure> in_use;
  std::wstring held_file;
  // The read-only target that keeps the plan from being made, where one does.
  std::wstring read_only_file;

  std::vector<std::wstring> Targets() const;
  // What the files the run writes take, in bytes.
  std::uint64_t Bytes() const;
};

// Plans the changes of `catalogue`, whose payloads `module` carries, in `folder`. A target that
// already holds its payload is left alone; one that another program keeps from being read at
// all has to be written. A target that is not a plain file fails; a read-only one is refused
// (kRefused), and is the plan's read-only file.
[[nodiscard]] std::optional<Failure> PlanChanges(const ResourceFolder& folder, Patience& patience,
                                                 const Catalogue& catalogue, HMODULE module,
                                                 Plan& plan);

// Opens every target of `plan` that is to be moved aside, before any is moved. One that another
// program keeps open becomes the plan's file in use, and nothing is opened; any other failure is
// returned, and then none stays open either.
[[nodiscard]] std::optional<Failure> OpenTargets(const ResourceFolder& folder, Patience& patience,
                                                 Plan& plan);

// Closes the targets OpenTargets opened.
void CloseTargets(Plan& plan);
