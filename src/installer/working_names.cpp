#include "installer/working_names.h"

#include "installer/resource_folder.h"

namespace {

constexpr const wchar_t* kSuffixes[] = {kStagedSuffix, kBackupSuffix, kAbsentSuffix};

}  // namespace

std::vector<std::wstring> WorkingNames(const Catalogue& catalogue) {
  std::vector<std::wstring> names;
  for (const PayloadEntry& entry : catalogue) {
    for (const wchar_t* suffix : kSuffixes) names.push_back(entry.file_name + suffix);
  }
  return names;
}

bool IsOwnName(const std::wstring& name, const Catalogue& catalogue, bool with_lock) {
  if (with_lock && SameName(name, kLockFileName)) return true;
  for (const std::wstring& working : WorkingNames(catalogue)) {
    if (SameName(name, working)) return true;
  }
  return false;
}
