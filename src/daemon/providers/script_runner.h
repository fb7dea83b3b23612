#pragma once

// The seam through which providers run osascript. Production looks osascript up on PATH
// and runs it through ProcessRunner::runAsync (the lane taken on the io thread, the run on
// the blocking pool); tests record the runs and answer from a scenario.

#include <optional>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/runtime/blocking_pool.h"
#include "platform/environment.h"

namespace qd {

struct ScriptRun {
  std::vector<std::string> arguments;  // osascript's arguments ("-e", line, ...)
  std::string lane;
  double timeoutSeconds = 0;
  std::string errorDomain;
  std::string failureDescription;
};

class ScriptRunner {
 public:
  virtual ~ScriptRunner() = default;
  // osascript's trimmed standard output; failures are ProcessRunnerError (code 1 when it
  // cannot be started, 2 on time-out, else its exit status).
  virtual asio::awaitable<std::string> run(ScriptRun run) = 0;
};

class OsascriptRunner final : public ScriptRunner {
 public:
  // `environment`: where PATH is read; absent, the process environment at each run.
  explicit OsascriptRunner(BlockingPool& pool, std::optional<platform::Environment> environment = std::nullopt)
      : pool_(pool), environment_(std::move(environment)) {}

  // Without osascript on PATH the run fails as a program that cannot be started does:
  // code 1, the failure description, ": " and "Could not start osascript: not found on PATH".
  asio::awaitable<std::string> run(ScriptRun run) override;

 private:
  BlockingPool& pool_;
  std::optional<platform::Environment> environment_;
};

}  // namespace qd
