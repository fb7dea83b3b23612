#pragma once

// Calls a provider on a test io_context with a recording runner, and reads back what ran:
// the golden tables of the scripted providers use it.

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/core/tool_provider.h"
#include "daemon/runtime/process_runner.h"
#include "recording_script_runner.h"
#include "support/test_io.h"

namespace qd::test {

struct ScriptedProviderHarness {
  Json call(ToolProvider& provider, const std::string& tool, Json arguments) {
    auto reply = runAwaitable(io, provider.handle(tool, "client-0", std::move(arguments)));
    EXPECT_TRUE(reply.has_value());
    return reply.value_or(Json());
  }
  std::string text(ToolProvider& provider, const std::string& tool, Json arguments) {
    const Json reply = call(provider, tool, std::move(arguments));
    EXPECT_FALSE(reply.contains("isError"));
    return reply["content"][0]["text"].get<std::string>();
  }
  // What the call threw: "domain code message", or "no error".
  std::string failure(ToolProvider& provider, const std::string& tool, Json arguments) {
    try {
      call(provider, tool, std::move(arguments));
    } catch (const ProviderError& e) {
      return e.domain() + " " + std::to_string(e.code()) + " " + e.message();
    } catch (const ProcessRunnerError& e) {
      return e.domain() + " " + std::to_string(e.code()) + " " + e.message();
    }
    return "no error";
  }
  // The runs that were not a permission preflight.
  std::vector<ScriptRun> scripts() const {
    std::vector<ScriptRun> out;
    for (const auto& run : runner->runs) {
      if (!run.lane.starts_with("permissions-")) out.push_back(run);
    }
    return out;
  }
  std::vector<std::string> preflights() const {
    std::vector<std::string> out;
    for (const auto& run : runner->runs) {
      if (run.lane.starts_with("permissions-")) out.push_back(run.lane);
    }
    return out;
  }
  void refusePreflight(const std::string& lane) {
    runner->fail(lane, ProcessRunnerError("PermissionGuidance", 1, "Permission preflight failed"));
  }

  asio::io_context io;
  std::shared_ptr<RecordingScriptRunner> runner = std::make_shared<RecordingScriptRunner>();
};

// The run's settings and its lines, exactly.
inline void expectRun(const ScriptRun& run, const std::string& lane, double timeout, const std::string& domain,
                      const std::string& failure, const std::vector<std::string>& lines, const std::string& context) {
  EXPECT_EQ(run.lane, lane) << context;
  EXPECT_EQ(run.timeoutSeconds, timeout) << context;
  EXPECT_EQ(run.errorDomain, domain) << context;
  EXPECT_EQ(run.failureDescription, failure) << context;
  EXPECT_EQ(RecordingScriptRunner::lines(run), lines) << context;
}

}  // namespace qd::test
