// What the program tells the person at the machine, beyond the lines scripts and logs read:
// the next step after a run, who holds a file in use, and the prompt before the window closes.
// These are in the language of the person's Windows display (English, or Chinese in either
// script); the lines scripts and logs read stay in English, word for word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "installer/file_holders.h"

// The line that tells a person what to do after a run that ended with exit status `status`;
// empty where there is nothing a person can do. `holders` hold the file in use; the run needs
// `bytes` of free space on `drive`.
std::wstring NextStep(int status, const std::vector<Holder>& holders, std::uint64_t bytes,
                      const std::wstring& drive);

// "in use by Orvex Pro (process 1234)", for the line that names a file in use.
std::wstring InUseBy(const std::vector<Holder>& holders);

// What is shown before the window that was opened for the program alone closes.
std::wstring ClosePrompt();
