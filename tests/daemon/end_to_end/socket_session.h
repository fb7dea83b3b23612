#pragma once

// A daemon program in a temporary HOME, in a given tier and with a tool-settings.json the
// test writes before start, driven over its socket by call_tool lines, and stopped with
// SIGTERM at the end of the test.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <string>

#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "support/daemon_process.h"
#include "support/temp_dir.h"

namespace qd::test {

class SocketSession : public ::testing::Test {
 protected:
  // Settings the test gives override the defaults key by key (a missing key keeps its
  // default when the daemon reads the file). `environment` is added to the daemon's (and
  // wins), e.g. TINDERBOX_MCP_PATH with TINDERBOX_DISABLE=0, or PATH with a fake program
  // first; whatever HOME should hold the test writes under home_ before the start.
  // `shellCommands` run before the daemon (DaemonProcess::startThroughShell), e.g. a ulimit.
  void startDaemon(const std::string& tier, const Json& toolSettings,
                   std::map<std::string, std::string> environment = {}, const std::string& shellCommands = {}) {
    environment["TINDERBOX_FEATURE_TIER"] = tier;
    daemon_ = std::make_unique<DaemonProcess>(home_.path(), std::move(environment));
    if (!shellCommands.empty()) daemon_->startThroughShell(shellCommands);
    const std::filesystem::path settings = daemon_->configuration().appSupportDir() / "tool-settings.json";
    writeFileAtomically(settings, dumpJson(toolSettings), AtomicWriteOptions{}.creatingFolder());
    daemon_->startAndWait();
  }

  // Every daemon still running ends as a user's does, on SIGTERM, and is waited for, so it
  // stops and reaps what it started (the note app's server). The SIGKILL of DaemonProcess's
  // destructor would leave those behind, as orphans that a later test may count as its own.
  // A call still running holds the stop for the queue's drain (30 s) first.
  void TearDown() override {
    if (!daemon_ || daemon_->pid() <= 0) return;
    daemon_->signal(SIGTERM);
    EXPECT_TRUE(daemon_->waitForExit(std::chrono::seconds(120)))
        << "the daemon did not stop on SIGTERM; stderr: " << daemon_->stderrText();
  }

  std::unique_ptr<SocketLineClient> connect() { return std::make_unique<SocketLineClient>(daemon_->socketPath()); }

  // The parsed reply to one call_tool line (a missing reply fails the test).
  Json call(SocketLineClient& client, const std::string& tool, const Json& arguments = Json::object()) {
    const Json request{{"method", "call_tool"},
                       {"params", {{"name", tool}, {"arguments", arguments}}},
                       {"_requestId", ++requestId_}};
    std::optional<std::string> reply = client.request(dumpJson(request));
    EXPECT_TRUE(reply) << "no reply to " << tool << "; daemon stderr: " << daemon_->stderrText();
    return parseJson(reply.value_or("null"));
  }

  // The text of a successful reply, or a marker that shows what came instead.
  static std::string text(const Json& reply) {
    if (!reply.is_object() || !reply.contains("content")) return "<not a result: " + dumpJson(reply) + ">";
    return reply["content"][0]["text"].get<std::string>();
  }
  static std::string error(const Json& reply) {
    if (!reply.is_object() || !reply.contains("error")) return "<not an error: " + dumpJson(reply) + ">";
    return reply["error"].get<std::string>();
  }

  TempDir home_{"e2e"};
  std::unique_ptr<DaemonProcess> daemon_;
  std::int64_t requestId_ = 0;
};

}  // namespace qd::test
