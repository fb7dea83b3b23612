#include "daemon/runtime/run_to_end.h"

#include <memory>

#include "daemon/runtime/child_process.h"

namespace qd {

asio::awaitable<AsyncCollectedOutput> runToEnd(std::string executable, std::vector<std::string> arguments,
                                               RunToEndOptions options) {
  SpawnOptions spawn = spawnOptions(std::move(executable), std::move(arguments));
  spawn.stdinMode = StdioMode::null;
  std::unique_ptr<ChildProcess> child = ChildProcess::spawn(spawn);
  AsyncCollectOptions collect;
  collect.timeout = options.timeout;
  collect.maxStandardOutput = options.maxOutput;
  collect.maxStandardError = options.maxOutput;
  co_return co_await collectUntilExitAsync(*child, collect);
}

}  // namespace qd
