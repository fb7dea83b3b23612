#pragma once

// Short runs of the service manager's programs (systemctl, systemd-analyze), looked up on
// PATH at every run. A silent run sends both outputs to /dev/null and only tells whether
// the program exited with status 0; a reporting run reads both pipes while it waits, so a
// chatty program never blocks. Every run stops after its limit (60 s): the program's group
// is killed and the run counts as failed, so a hung program never freezes the application.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace qd {

inline constexpr std::chrono::seconds programRunLimit{60};

struct ProgramRun {
  std::optional<std::string> launchError;  // the program could not be started (or found)
  bool timedOut = false;
  int status = -1;  // the exit status; -1 when it did not exit by itself
  std::string standardOutput, standardError;

  bool succeeded() const { return !launchError && !timedOut && status == 0; }
};

// Runs `program` (a name looked up on the environment's PATH, or a path) to its end.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const platform::Environment& env, bool collectOutput,
                      std::chrono::milliseconds limit = programRunLimit);

inline bool runProgramSilently(const std::string& program, const std::vector<std::string>& arguments,
                               const platform::Environment& env, std::chrono::milliseconds limit = programRunLimit) {
  return runProgram(program, arguments, env, false, limit).succeeded();
}

}  // namespace qd
