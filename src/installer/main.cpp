#include <vector>

#include "installer/console.h"
#include "installer/file_holders.h"
#include "installer/guidance.h"
#include "installer/installer.h"

namespace {

// Has Windows close the programs that hold `file` (none is forced: one that asks to save its
// work stays open, and the person is told), runs the installation again, and has Windows reopen
// them.
RunOutcome CloseHoldersAndRunAgain(const std::wstring& file) {
  HolderSession session(file);
  const std::vector<Holder> stayed = session.Close();
  if (!stayed.empty()) PrintLine(STD_ERROR_HANDLE, DidNotClose(stayed));
  RunOutcome outcome = RunInstaller();
  session.Reopen();
  return outcome;
}

}  // namespace

// Arguments and environment are not read: the registry is the only input. Started from
// Explorer, the window stays until the person has read what happened; where a file is in use,
// they may finish the installation now rather than at the restart, as often as they like.
int wmain(int, wchar_t**, wchar_t**) {
  const bool person = StartedFromExplorer();
  RunOutcome outcome = RunInstaller();
  while (person) {
    const std::vector<Holder>& holders = outcome.holders;
    const WORD key = WaitForKey(ClosePrompt(outcome.status, holders), outcome.status);
    if (!FoundInUse(outcome.status)) break;
    if (key == kTryAgainKey) {
      outcome = RunInstaller();
    } else if (key == kCloseForMeKey && !holders.empty()) {
      outcome = CloseHoldersAndRunAgain(outcome.held_file);
    } else {
      break;
    }
  }
  return outcome.status;
}
