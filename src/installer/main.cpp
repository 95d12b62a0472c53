#include <vector>

#include "host/locator.h"
#include "installer/catalogue.h"
#include "installer/console.h"
#include "installer/exit_status.h"
#include "installer/file_holders.h"
#include "installer/guidance.h"
#include "installer/install.h"
#include "installer/language.h"
#include "installer/long_paths.h"
#include "installer/report.h"

namespace {

// One run: finds the host, installs the payloads into its resource folder, says what happened.
RunOutcome RunOnce() {
  const std::wstring shown = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (shown.empty()) return ReportHostMissing();
  const std::wstring directory = ExtendedLengthPath(shown);
  return Report(InstallPayloads(directory, BuildPayloadTable(), GetModuleHandleW(nullptr)),
                directory, shown);
}

// Has Windows close the programs that hold `file` (none is forced: one that asks to save its
// work stays open, and the person is told), runs the installation again, and has Windows reopen
// them.
RunOutcome CloseHoldersAndRunAgain(const std::wstring& file) {
  HolderSession session(file);
  const std::vector<Holder> stayed = session.Close();
  if (!stayed.empty())
    PrintLine(STD_ERROR_HANDLE, DidNotClose(LanguageFor(STD_ERROR_HANDLE), stayed));
  RunOutcome outcome = RunOnce();
  session.Reopen();
  return outcome;
}

}  // namespace

// Arguments and environment are not read: the registry is the only input. Started from
// Explorer, the window stays until the person has read what happened; where a file is in use,
// they may finish the installation now rather than at the restart, as often as they like.
int wmain(int, wchar_t**, wchar_t**) {
  const bool person = StartedFromExplorer();
  RunOutcome run = RunOnce();
  while (person) {
    const WORD key =
        WaitForKey(ClosePrompt(LanguageFor(STD_OUTPUT_HANDLE), run.outcome, run.holders),
                   ExitCodeOf(run.outcome));
    if (!FoundInUse(run.outcome)) break;
    if (key == kTryAgainKey) {
      run = RunOnce();
    } else if (key == kCloseForMeKey && !run.holders.empty()) {
      run = CloseHoldersAndRunAgain(run.held_file);
    } else {
      break;
    }
  }
  return ExitCodeOf(run.outcome);
}
