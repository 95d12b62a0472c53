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
#include "installer/persons_window.h"
#include "installer/report.h"

namespace {

// One run: finds the host, installs the payloads into its resource folder, says what happened,
// the next step in `language`.
RunOutcome RunOnce(Language language) {
  const std::wstring shown = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (shown.empty()) return ReportHostMissing();
  const std::wstring directory = ExtendedLengthPath(shown);
  return Report(InstallPayloads(directory, BuildPayloadTable(), GetModuleHandleW(nullptr)),
                directory, shown, language);
}

// Has Windows close the programs that hold `file` (none is forced: one that asks to save its
// work stays open, and the person is told), runs the installation again, and has Windows reopen
// them; those it did not reopen are named, for the person to reopen.
RunOutcome CloseHoldersAndRunAgain(const std::wstring& file, Language language) {
  HolderSession session(file);
  const Closing closing = session.Close();
  if (!closing.stayed.empty()) PrintLine(STD_ERROR_HANDLE, DidNotClose(language, closing));
  RunOutcome outcome = RunOnce(language);
  const std::vector<Holder> not_reopened = session.Reopen();
  if (!not_reopened.empty()) PrintLine(STD_ERROR_HANDLE, NotReopened(language, not_reopened));
  return outcome;
}

}  // namespace

// Arguments and environment are not read: the registry is the only input. Started by a person
// from a graphical program, the window stays until they have read what happened; where a file
// is in use, they may finish the installation now rather than at the restart, as often as they
// like.
int wmain(int, wchar_t**, wchar_t**) {
  // Chosen before the first line, since choosing has the system's own messages follow the
  // console too, as Windows' console programs do.
  const Language prompt_language = LanguageFor(STD_OUTPUT_HANDLE);
  const Language language = LanguageFor(STD_ERROR_HANDLE);
  const bool person = StartedByAPerson();
  RunOutcome run = RunOnce(language);
  while (person) {
    EndOnCloseWith(ExitCodeOf(run.outcome));
    const Choice choice = WaitForChoice(ClosePrompt(prompt_language, run.outcome, run.holders));
    if (!FoundInUse(run.outcome)) break;
    if (choice == Choice::kTryAgain) {
      RunBegins();
      run = RunOnce(language);
    } else if (choice == Choice::kCloseForMe && WindowsCanClose(run.holders)) {
      RunBegins();
      run = CloseHoldersAndRunAgain(run.held_file, language);
    } else {
      break;
    }
    if (RunEnded(ExitCodeOf(run.outcome))) break;  // the person asked to close meanwhile
  }
  return ExitCodeOf(run.outcome);
}
