#include "app/program_run.h"

#include <signal.h>

#include "daemon/runtime/child_process.h"
#include "daemon/runtime/collect_output.h"
#include "platform/executable_search.h"

namespace qd {

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const platform::Environment& env, bool collectOutput, std::chrono::milliseconds limit) {
  ProgramRun run;
  std::string executable = program;
  if (program.find('/') == std::string::npos) {
    const auto found = platform::findExecutableOnPath(program, env);
    if (!found) {
      run.launchError = "The program " + program + " was not found.";
      return run;
    }
    executable = found->string();
  }
  SpawnOptions options = spawnOptions(executable, arguments);
  options.stdinMode = StdioMode::null;
  options.stdoutMode = collectOutput ? StdioMode::pipe : StdioMode::null;
  options.stderrMode = collectOutput ? StdioMode::pipe : StdioMode::null;
  std::unique_ptr<ChildProcess> child;
  try {
    child = ChildProcess::spawn(options);
  } catch (const ChildProcessError& e) {
    run.launchError = e.description();
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  if (collectOutput) {
    CollectedOutput output = collectUntilExit(*child, deadline);
    run.timedOut = output.timedOut;
    run.standardOutput = std::move(output.standardOutput);
    run.standardError = std::move(output.standardError);
  } else {
    run.timedOut = !child->waitForExit(std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()));
  }
  if (run.timedOut) {
    child->signalGroup(SIGKILL);
    child->reap();
    return run;
  }
  const ExitStatus status = child->reap();
  if (!status.signaled) run.status = status.code;
  return run;
}

}  // namespace qd
