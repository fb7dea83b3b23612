#include "daemon/providers/script_runner.h"

#include <cerrno>
#include <cstring>

#include "daemon/runtime/process_runner.h"
#include "platform/executable_search.h"

namespace qd {

asio::awaitable<std::string> OsascriptRunner::run(ScriptRun run) {
  const platform::Environment environment = environment_ ? *environment_ : platform::Environment::current();
  const auto osascript = platform::findExecutableOnPath("osascript", environment);
  if (!osascript) {
    // The text the child-process layer gives for a program that is not there.
    throw ProcessRunnerError(run.errorDomain, 1, run.failureDescription + ": " + std::strerror(ENOENT));
  }
  // Every argument is a named value: g++ 12 destroys a temporary passed by value to an
  // awaited coroutine twice.
  std::string executable = osascript->string();
  co_return co_await ProcessRunner::runAsync(pool_, std::move(executable), std::move(run.arguments), std::move(run.lane),
                                             run.timeoutSeconds, std::move(run.errorDomain),
                                             std::move(run.failureDescription));
}

}  // namespace qd
