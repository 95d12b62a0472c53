// The working files runs keep beside the targets: cleared once no run uses them, and what could
// not be cleared named, never left unsaid.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "installer/catalogue.h"
#include "installer/failure.h"
#include "installer/patience.h"
#include "installer/resource_folder.h"

// Working files that could not be removed, each named: warnings after a success. Those that
// another program keeps open or mapped are held: their removal waits for the next restart, and
// a run that needs one of their names treats its target as in use.
class Leftovers {
 public:
  // Removes the folder's entry `name`; one that stays is named with the reason.
  void Remove(const ResourceFolder& folder, Patience& patience, const std::wstring& name);
  void Add(const std::wstring& name, Failure warning, bool held = false);
  // Counts `name` as held, without a warning of its own.
  void Hold(const std::wstring& name);
  // `name` has gone after all: it is no longer held.
  void Gone(const std::wstring& name);
  // A warning about no one name.
  void Warn(Failure warning);

  // Whether a warning already names `name`.
  bool Warned(const std::wstring& name) const;
  bool IsHeld(const std::wstring& name) const;
  // Those of `names` that no warning names yet.
  std::vector<std::wstring> NotWarnedOf(const std::vector<std::wstring>& names) const;
  // The names held, in the order they were found held.
  std::vector<std::wstring> HeldNames() const;
  // The warnings, in the order they were given.
  std::vector<Failure> warnings() const;

 private:
  enum class State {
    kStays,  // could not be removed, for a reason of its own
    kHeld,   // another program keeps it: it goes at the next restart
    kGone,   // was held, and has gone since
  };
  struct Leftover {
    std::wstring name;
    State state;
    std::optional<Failure> warning;  // none where the run's own lines say it
  };
  std::vector<Leftover> leftovers_;
};

// The run's own names (the working files of `catalogue`'s targets, and the lock file with
// `with_lock`) that one look at the folder finds there.
[[nodiscard]] std::optional<Failure> OwnEntries(const ResourceFolder& folder,
                                                const Catalogue& catalogue, bool with_lock,
                                                std::vector<std::wstring>& present);

// Removes the working files of `catalogue`'s targets that no run is using any more: of a finished
// run, or of one stopped before it began replacing. Call it holding the lock.
void RemoveLeftovers(const ResourceFolder& folder, Patience& patience, const Catalogue& catalogue,
                     Leftovers& leftovers);
