#pragma once

#include <optional>
#include <string>

namespace qd {

// The entry point's `--tier` hand-over. The value after the first "--tier" among the
// arguments (argv[0], the program path, is not an argument), unchecked; none when there is
// no "--tier" or it is the last argument.
std::optional<std::string> tierArgument(int argc, const char* const* argv);

// Writes tierArgument() into the process environment as TINDERBOX_FEATURE_TIER, replacing
// any inherited value; changes nothing when there is none. Must run before anything reads
// Configuration::shared() and before other threads start (setenv is not thread-safe).
void applyTierArgument(int argc, const char* const* argv);

}  // namespace qd
