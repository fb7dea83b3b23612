#include "daemon/core/daemon_error.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "daemon/core/server_error.h"

namespace qd {
namespace {

TEST(DaemonErrorTest, DescriptionsAreTheRepliesClientsRead) {
  struct Case {
    DaemonError error;
    DaemonError::Kind kind;
    const char* text;
  };
  const std::vector<Case> cases = {
      {DaemonError::missingParameter("operation"), DaemonError::Kind::missingParameter,
       "Missing required parameter: operation"},
      {DaemonError::invalidParameter("Unknown tool: x"), DaemonError::Kind::invalidParameter,
       "Invalid parameter: Unknown tool: x"},
      {DaemonError::toolDisabled("notes"), DaemonError::Kind::toolDisabled, "Tool is disabled in settings: notes"},
      {DaemonError::featureDisabled("app unavailable for tool: mail"), DaemonError::Kind::featureDisabled,
       "Feature is disabled in settings: app unavailable for tool: mail"},
      {DaemonError::openURLError("bad"), DaemonError::Kind::openURLError, "Failed to open Tinderbox URL: bad"},
      {DaemonError::appleScriptError("-1743"), DaemonError::Kind::appleScriptError,
       "AppleScript command failed: -1743"},
      {DaemonError::authenticationRequired("ada"), DaemonError::Kind::authenticationRequired,
       "Agent 'ada' is registered and requires authentication. Provide 'secret' parameter."},
      {DaemonError::authenticationFailed("wrong secret"), DaemonError::Kind::authenticationFailed,
       "Authentication failed: wrong secret"},
      {DaemonError::rateLimited("ada", 30), DaemonError::Kind::rateLimited,
       "Agent 'ada' is rate limited. Too many failed attempts. Retry after 30 seconds."},
      {DaemonError::notConnected(), DaemonError::Kind::notConnected, "Not connected to Tinderbox"},
      {DaemonError::agentNotIdentified(), DaemonError::Kind::agentNotIdentified,
       "Agent not identified - call identify tool first"},
      {DaemonError::agentNotRegistered("nobody"), DaemonError::Kind::agentNotRegistered, "Agent not registered: nobody"},
      {DaemonError::broadcastDisabled(), DaemonError::Kind::broadcastDisabled,
       "Broadcast notifications are disabled in settings"},
      {DaemonError::internalNavigationError(), DaemonError::Kind::internalNavigationError,
       "Failed to build navigation URL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.kind(), c.kind);
    EXPECT_EQ(c.error.description(), c.text);
  }
}

TEST(DaemonErrorTest, RetryTimeIsCutTowardZero) {
  const std::vector<std::pair<double, std::string>> cases = {
      {29.9, "29"},
      {0.4, "0"},
      {-0.5, "0"},
      {-1.5, "-1"},
      {std::nan(""), "0"},
      {std::numeric_limits<double>::infinity(), "9223372036854774784"},
  };
  for (const auto& [seconds, shown] : cases) {
    SCOPED_TRACE(seconds);
    const DaemonError error = DaemonError::rateLimited("bob", seconds);
    EXPECT_EQ(error.description(),
              "Agent 'bob' is rate limited. Too many failed attempts. Retry after " + shown + " seconds.");
  }
  EXPECT_DOUBLE_EQ(DaemonError::rateLimited("bob", 29.9).retryAfter(), 29.9);
  EXPECT_EQ(DaemonError::rateLimited("bob", 29.9).payload(), "bob");
}

TEST(ServerErrorTest, Texts) {
  EXPECT_STREQ(ServerError::clientNotFound("client-3").what(), "Client not found: client-3");
  EXPECT_STREQ(ServerError::bindFailed("Address already in use").what(),
               "Failed to bind Unix socket: Address already in use");
  EXPECT_STREQ(ServerError::listenFailed("Invalid argument").what(),
               "Failed to listen on Unix socket: Invalid argument");
  EXPECT_STREQ(ServerError::failedToCreateListener().what(), "Failed to create Unix socket listener");
  EXPECT_STREQ(ServerError::socketPathTooLong().what(), "Unix socket path exceeds sockaddr_un limit");
  EXPECT_STREQ(ConnectionError::readFailed("Connection reset by peer").what(),
               "readFailed(\"Connection reset by peer\")");
  EXPECT_STREQ(ConnectionError::writeFailed("Broken pipe").what(), "writeFailed(\"Broken pipe\")");
}

}  // namespace
}  // namespace qd
