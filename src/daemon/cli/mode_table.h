#pragma once

// The program's front: the mode table that turns a command line into a mode, the usage
// text, and the entry that runs a mode and reports what escapes it.

#include <string>
#include <string_view>
#include <vector>

namespace qd {

enum class ExecutionMode { daemon, client, notify, syncHook, restartTinderbox, startTinderbox, stopTinderbox, help,
                           defaultMode };

// The first row of the table (--daemon, --client, --notify, --sync-hook,
// --restart-tinderbox, --start-tinderbox, --stop-tinderbox, --help, -h) whose flag equals
// any argument, the program path and option values included; defaultMode when none does.
// The table's order decides, not the command line's.
ExecutionMode executionMode(const std::vector<std::string>& args);

// The usage text, printed as it is by --help and after the default mode's lines. It names
// the program "quarvel-toolbox".
std::string_view usageText();

// Runs the mode and returns the exit status; a mode's failure is thrown.
int run(ExecutionMode mode, const std::vector<std::string>& args);

// The whole program: hands a "--tier" value over to TINDERBOX_FEATURE_TIER, picks and
// runs the mode, and turns an error that escapes it into "Error: <description>" on
// standard output and status 1.
int runMain(int argc, const char* const* argv);

}  // namespace qd
