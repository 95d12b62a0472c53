#include <optional>
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
// the next step in `language`. Its replacing goes through `replacing`, where someone may wait
// for it to end.
ReportedRun RunOnce(Language language, ReplacingGate* replacing = nullptr) {
  const std::wstring shown = GetOcrResourceDirectory(kOcrResourceSubdir);
  if (shown.empty()) return ReportHostMissing();
  const std::wstring directory = ExtendedLengthPath(shown);
  InstallSettings settings;
  settings.replacing = replacing;
  return ReportRun(
      InstallPayloads(directory, BuildCatalogue(), GetModuleHandleW(nullptr), settings), directory,
      shown, language);
}

// The window a person opened: its prompt in the person's language, its keys, and the runs they
// ask for.
class Window {
 public:
  Window(Language prompt_language, Language language)
      : prompt_language_(prompt_language), language_(language) {}

  void Prompt(const ReportedRun& run) {
    ShowPrompt(ClosePrompt(prompt_language_, run.outcome, run.holders));
  }
  std::optional<KEY_EVENT_RECORD> Key(ULONGLONG deadline) { return NextKey(deadline); }

  // R runs the installation again; C has Windows close the programs that hold the file first
  // (none is forced: one that asks to save its work stays open, and the person is told), and
  // reopen them after; those it did not reopen are named, for the person to reopen.
  ReportedRun RunAgain(Choice choice, const ReportedRun& run,
                       WindowClosing::RunInProgress& in_progress) {
    ReplacingGate* replacing = &in_progress.Replacing();
    if (choice != Choice::kCloseForMe) return RunOnce(language_, replacing);
    HolderSession& session = in_progress.SessionOn(run.held_file);
    const Closing closing = session.Close();
    if (!closing.stayed.named.empty()) PrintLine(STD_ERROR_HANDLE, DidNotClose(language_, closing));
    ReportedRun outcome = RunOnce(language_, replacing);
    const std::vector<Holder> not_reopened = session.Reopen();
    if (!not_reopened.empty()) PrintLine(STD_ERROR_HANDLE, NotReopened(language_, not_reopened));
    return outcome;
  }

 private:
  const Language prompt_language_;
  const Language language_;
};

}  // namespace

// The registry is the only input: no argument is needed, and one changes only that the window
// never waits, since a double-click passes none and a program may pass any (a file dropped on
// the program counts too). Started by a person from a graphical program, the window stays until
// they have read what happened, or for some minutes; where a file is in use, they may finish the
// installation now rather than at the restart, as often as they like.
int wmain(int argc, wchar_t**, wchar_t**) {
  // Chosen before the first line, since choosing has the system's own messages follow the
  // console too, as Windows' console programs do.
  const Language prompt_language = LanguageFor(STD_OUTPUT_HANDLE);
  const Language language = LanguageFor(STD_ERROR_HANDLE);
  const bool person = StartedByAPerson(argc > 1);
  const ReportedRun run = RunOnce(language);
  if (!person) return ExitCodeOf(run.outcome);
  WindowClosing closing;
  closing.Listen();
  Window window(prompt_language, language);
  return KeepTheWindow(run, window, closing);
}
