// Starting a program through the shell, hidden, in a given directory, and waiting for it.
#pragma once

#include <string>

namespace orbek::platform {

// Runs `program` with `parameters` (split at blanks on posix) in `workingDirectory` (a path as
// the updater names it), with no window, and waits for it to end without a time limit. False
// when it could not be started.
bool RunHiddenAndWait(const std::string& program, const std::string& parameters,
                      const std::string& workingDirectory);

}  // namespace orbek::platform
