#include "installer/console.h"
#include "installer/guidance.h"
#include "installer/installer.h"

// Arguments and environment are not read: the registry is the only input. Started from
// Explorer, the window stays until the person has read what happened.
int wmain(int, wchar_t**, wchar_t**) {
  const bool person = StartedFromExplorer();
  const int status = RunInstaller();
  if (person) WaitForKey(ClosePrompt(), status);
  return status;
}
