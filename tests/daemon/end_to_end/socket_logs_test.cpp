// What the daemon program logs of its clients, read from its standard error: clients that
// hang up after their calls leave no warning, and a peer that connects and closes in a loop
// while the daemon is full leaves about one line a second, not one per refusal, each line
// counting the refusals it left out.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "socket_session.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

const std::string kRefusal = R"j({"error":"Too many clients (max 1)"})j";

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

class SocketLogsEndToEnd : public test::SocketSession {
 protected:
  // A connection that the daemon has taken on, shown by an answered health_check: with one
  // client allowed, a connection made before the last one was dropped is refused. The
  // daemon writes the refusal and closes the connection at once, so the request may meet
  // a closed socket; the refusal is read all the same. Counts the refusals.
  std::unique_ptr<test::SocketLineClient> connectWhenFree() {
    const std::string healthCheck = R"({"method":"call_tool","params":{"name":"health_check","arguments":{}}})";
    for (int attempt = 0; attempt < 1000; ++attempt) {
      auto client = connect();
      const bool sent = client->sendLineUnlessClosed(healthCheck);
      const std::string reply = client->readLine(30s).value_or("<no reply>");
      if (sent && reply != kRefusal) {
        EXPECT_NE(reply.find("status"), std::string::npos) << reply;
        return client;
      }
      EXPECT_EQ(reply, kRefusal);
      ++refusals_;
    }
    ADD_FAILURE() << "the daemon never took a connection; stderr: " << daemon_->stderrText();
    return nullptr;
  }

  void refuseOne() {
    test::SocketLineClient refused(daemon_->socketPath());
    EXPECT_EQ(refused.readLine(30s), kRefusal);
    ++refusals_;
  }

  int refusals_ = 0;
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
  for (int i = 0; i < 300; ++i) refuseOne();
  // One more after the throttle's second has passed: it is logged, with the count of every
  // refusal held back since the line before it.
  std::this_thread::sleep_for(1500ms);
  refuseOne();
  // The held connection still answers, so every refusal above has been handled and logged.
  EXPECT_NE(text(call(*held, "health_check")).find("status"), std::string::npos);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);

  const std::string log = daemon_->stderrText();
  EXPECT_EQ(occurrences(log, "Client connection error"), 0u) << log;
  std::int64_t refusalLines = 0, omitted = 0;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const Json entry = Json::parse(line, nullptr, false);  // a line that is not JSON is discarded
    if (!entry.is_object() || entry.value("message", "") != "Max clients reached, rejecting connection") continue;
    ++refusalLines;
    omitted += entry["metadata"]["omitted"].get<std::int64_t>();
  }
  EXPECT_GE(refusalLines, 2);
  EXPECT_LE(refusalLines, seconds.count() + 1) << log;
  // Each refusal is either a line or counted in the next one.
  EXPECT_EQ(refusalLines + omitted, refusals_) << log;
}

}  // namespace
}  // namespace qd
