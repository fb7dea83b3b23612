#pragma once

// A daemon built in a temporary HOME, not started: its catalog is built as start builds
// it, and lines are handed to it as the socket server would hand them.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include <asio/io_context.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/tool_provider.h"
#include "daemon/router/router.h"
#include "daemon/utilities/json.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd::test {

inline platform::Environment daemonEnvironment(const TempDir& home, const std::string& tier) {
  return platform::Environment{{"HOME", home.string()},
                               {"XDG_DATA_HOME", (home / "data").string()},
                               {"XDG_STATE_HOME", (home / "state").string()},
                               {"XDG_CONFIG_HOME", (home / "config").string()},
                               {"TINDERBOX_FEATURE_TIER", tier}};
}

class DaemonFixture : public ::testing::Test {
 protected:
  explicit DaemonFixture(std::string tier = "dev")
      : configuration_(daemonEnvironment(home_, tier)),
        daemon_(TinderboxDaemon::create(io_.get_executor(), configuration_)) {}

  void buildCatalog() { runAwaitable(io_, daemon_->refreshToolCatalog()); }

  // The reply line to one request line, parsed (no reply at all fails the test).
  Json reply(const std::string& line, const std::string& clientId = "client-0") {
    std::optional<std::string> text =
        runAwaitable(io_, daemon_->handleClientMessage(clientId, std::nullopt, line));
    EXPECT_TRUE(text.has_value());
    return parseJson(text.value_or("null"));
  }

  // The reply to a call_tool line with id 1.
  Json call(const std::string& name, const Json& arguments = Json::object(), const std::string& clientId = "client-0") {
    Json request{{"method", "call_tool"}, {"_requestId", 1}, {"params", {{"name", name}, {"arguments", arguments}}}};
    return reply(dumpJson(request), clientId);
  }

  static std::string text(const Json& result) {
    if (!result.contains("content")) return "<no content: " + dumpJson(result) + ">";
    return result["content"][0]["text"].get<std::string>();
  }
  static std::string error(const Json& result) { return result.value("error", std::string("<no error>")); }

  void saveSettings(const std::function<void(ToolSettings&)>& edit) {
    ToolSettings settings = daemon_->toolSettingsStore().current();
    edit(settings);
    daemon_->toolSettingsStore().save(settings);
    buildCatalog();
  }

  TempDir home_{"router"};
  asio::io_context io_;
  Configuration configuration_;
  std::shared_ptr<TinderboxDaemon> daemon_;
};

}  // namespace qd::test
