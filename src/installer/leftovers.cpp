#include "installer/leftovers.h"

#include <utility>

#include "installer/entry_changes.h"
#include "installer/working_names.h"

void Leftovers::Remove(const ResourceFolder& folder, Patience& patience, const std::wstring& name) {
  if (auto failure = RemoveEntry(folder, patience, name)) {
    const bool held = failure->outcome == Outcome::kInUse;
    Add(name, std::move(*failure), held);
  }
}

// A name already held is held once: a second entry for it only adds its warning.
void Leftovers::Add(const std::wstring& name, Failure warning, bool held) {
  const State state = held && !IsHeld(name) ? State::kHeld : State::kStays;
  leftovers_.push_back({name, state, std::move(warning)});
}

void Leftovers::Hold(const std::wstring& name) {
  if (!IsHeld(name)) leftovers_.push_back({name, State::kHeld, std::nullopt});
}

void Leftovers::Gone(const std::wstring& name) {
  for (Leftover& leftover : leftovers_) {
    if (leftover.state == State::kHeld && SameName(leftover.name, name))
      leftover.state = State::kGone;
  }
}

void Leftovers::Warn(Failure warning) { Add(L"", std::move(warning)); }

bool Leftovers::Warned(const std::wstring& name) const {
  for (const Leftover& leftover : leftovers_) {
    if (leftover.warning && SameName(leftover.name, name)) return true;
  }
  return false;
}

bool Leftovers::IsHeld(const std::wstring& name) const {
  for (const Leftover& leftover : leftovers_) {
    if (leftover.state == State::kHeld && SameName(leftover.name, name)) return true;
  }
  return false;
}

std::vector<std::wstring> Leftovers::NotWarnedOf(const std::vector<std::wstring>& names) const {
  std::vector<std::wstring> unnamed;
  for (const std::wstring& name : names) {
    if (!Warned(name)) unnamed.push_back(name);
  }
  return unnamed;
}

std::vector<std::wstring> Leftovers::HeldNames() const {
  std::vector<std::wstring> names;
  for (const Leftover& leftover : leftovers_) {
    if (leftover.state == State::kHeld) names.push_back(leftover.name);
  }
  return names;
}

std::vector<Failure> Leftovers::warnings() const {
  std::vector<Failure> warnings;
  for (const Leftover& leftover : leftovers_) {
    if (leftover.warning) warnings.push_back(*leftover.warning);
  }
  return warnings;
}

std::optional<Failure> OwnEntries(const ResourceFolder& folder, const Catalogue& catalogue,
                                  bool with_lock, std::vector<std::wstring>& present) {
  std::vector<std::wstring> listed;
  present.clear();
  if (auto failure = ListEntries(folder, with_lock ? kOwnFilePattern : kWorkingFilePattern, listed))
    return failure;
  for (const std::wstring& name : listed) {
    if (IsOwnName(name, catalogue, with_lock)) present.push_back(name);
  }
  return std::nullopt;
}

// One that cannot be removed is only a warning; it stops a later run only if that run needs
// its name, and then only that run, with the reason. Usually there are none, and one look at
// the folder says so; a folder that cannot be listed has each name tried.
void RemoveLeftovers(const ResourceFolder& folder, Patience& patience, const Catalogue& catalogue,
                     Leftovers& leftovers) {
  std::vector<std::wstring> names;
  if (auto failure = OwnEntries(folder, catalogue, false, names))
    names = WorkingNames(catalogue);
  else
    names = leftovers.NotWarnedOf(names);
  for (const std::wstring& name : names) leftovers.Remove(folder, patience, name);
}
