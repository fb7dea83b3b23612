#include "daemon/providers/script_runner.h"

#include "daemon/runtime/child_process.h"
#include "daemon/runtime/process_runner.h"
#include "platform/executable_search.h"

namespace qd {

asio::awaitable<std::string> OsascriptRunner::run(ScriptRun run) {
  const platform::Environment environment = environment_ ? *environment_ : platform::Environment::current();
  const auto osascript = platform::findExecutableOnPath("osascript", environment);
  if (!osascript) {
    // As a program that cannot be started fails (code 1), naming the missing program.
    throw ProcessRunnerError(run.errorDomain, 1,
                             run.failureDescription + ": " + ChildProcessError::notOnPath("osascript").description());
  }
  // Every argument is a named value: g++ 12 destroys a temporary passed by value to an
  // awaited coroutine twice.
  std::string executable = osascript->string();
  co_return co_await ProcessRunner::runAsync(pool_, std::move(executable), std::move(run.arguments), std::move(run.lane),
                                             run.timeoutSeconds, std::move(run.errorDomain),
                                             std::move(run.failureDescription));
}

}  // namespace qd
