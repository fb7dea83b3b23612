// What the daemon program logs of its clients, read from its standard error: clients that
// hang up after their calls leave no warning, and a peer that connects and closes in a loop
// while the daemon is full leaves about one line a second, not one per refusal.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "socket_session.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class SocketLogsEndToEnd : public test::SocketSession {
 protected:
  // A connection that the daemon has taken on, shown by an answered health_check: with one
  // client allowed, a connection made before the last one was dropped is refused.
  std::unique_ptr<test::SocketLineClient> connectWhenFree() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
      auto client = connect();
      const Json reply = call(*client, "health_check");
      if (!reply.is_object() || !reply.contains("error")) return client;
      EXPECT_EQ(error(reply), "Too many clients (max 1)");
    }
    ADD_FAILURE() << "the daemon never took a connection; stderr: " << daemon_->stderrText();
    return nullptr;
  }
};

TEST_F(SocketLogsEndToEnd, HangUpsLeaveNoWarningAndRefusalsAtTheLimitLeaveALineASecond) {
  const auto start = std::chrono::steady_clock::now();
  startDaemon("release", Json::object(), {{"TINDERBOX_MAX_CLIENTS", "1"}});

  for (int i = 0; i < 5; ++i) {
    auto client = connectWhenFree();
    ASSERT_TRUE(client);
  }  // each closes after its answered call
  auto held = connectWhenFree();
  ASSERT_TRUE(held);
  constexpr int refusals = 300;
  for (int i = 0; i < refusals; ++i) {
    test::SocketLineClient refused(daemon_->socketPath());
    EXPECT_EQ(refused.readLine(30s), R"j({"error":"Too many clients (max 1)"})j");
  }
  // The held connection still answers, so every refusal above has been handled and logged.
  EXPECT_NE(text(call(*held, "health_check")).find("status"), std::string::npos);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);

  const std::string log = daemon_->stderrText();
  EXPECT_EQ(occurrences(log, "Client connection error"), 0u) << log;
  const std::size_t refusalLines = occurrences(log, "Max clients reached, rejecting connection");
  EXPECT_GE(refusalLines, 1u);
  EXPECT_LE(refusalLines, static_cast<std::size_t>(seconds.count()) + 1) << log;
  EXPECT_NE(log.find("\"omitted\":"), std::string::npos) << log;
}

}  // namespace
}  // namespace qd
