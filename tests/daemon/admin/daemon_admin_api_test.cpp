#include "daemon/admin/daemon_admin_api.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "daemon/core/listener_socket.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

// A scripted daemon on a thread of its own: takes one connection, reads one line, hands
// it to the script and writes what the script answers (nothing at all: it hangs up).
class ScriptedDaemon {
 public:
  using Script = std::function<std::optional<std::string>(const std::string& requestLine)>;

  ScriptedDaemon(const std::string& path, Script script) : listener_(openListeningSocket(path)) {
    thread_ = std::thread([this, script = std::move(script)] { serveOne(script); });
  }
  ~ScriptedDaemon() { thread_.join(); }

  std::string requestLine;

 private:
  void serveOne(const Script& script) {
    pollfd entry{listener_.get(), POLLIN, 0};
    if (::poll(&entry, 1, 120000) <= 0) return;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) return;
    char byte;
    while (::read(client.get(), &byte, 1) == 1 && byte != '\n') requestLine.push_back(byte);
    const std::optional<std::string> reply = script(requestLine);
    if (!reply) return;  // hangs up
    (void)::send(client.get(), reply->data(), reply->size(), MSG_NOSIGNAL);
    // Keeps the connection open until the client is done with it.
    while (::read(client.get(), &byte, 1) > 0) {
    }
  }

  UniqueFd listener_;
  std::thread thread_;
};

std::string idOf(const std::string& requestLine) { return std::to_string(Json::parse(requestLine)["id"].get<std::int64_t>()); }

class DaemonAdminAPITest : public ::testing::Test {
 protected:
  // The error the request ends with, as "<code>: <text>", or the result.
  std::string outcome(const ScriptedDaemon::Script& script, const std::optional<Json>& params = std::nullopt,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    auto daemon = std::make_unique<ScriptedDaemon>(socketPath, script);
    std::string result;
    try {
      result = dumpJson(DaemonAdminAPI::request(socketPath, "app_get_settings", params, timeout));
    } catch (const DaemonAdminAPIError& e) {
      result = std::to_string(static_cast<int>(e.code())) + ": " + e.description();
    } catch (const JsonParseError&) {
      result = "parse error";
    }
    const std::string received = daemon->requestLine;
    daemon.reset();  // the client has closed: the daemon's thread ends
    lastRequest = received;
    std::filesystem::remove(socketPath);
    return result;
  }

  test::TempDir temp{"admin-api"};
  std::string socketPath = (temp / "admin.sock").string();
  std::string lastRequest;
};

TEST_F(DaemonAdminAPITest, RepliesBecomeResultsOrTheirErrorCodes) {
  struct Case {
    std::string reply;  // after {"id":<id>,
    std::string outcome;
  };
  const Case cases[] = {
      {R"("result":{"saved":true}})", R"({"saved":true})"},
      {R"("error":"Daemon unavailable"})", "14: Daemon unavailable"},
      {R"("error":"Invalid parameter: settings","result":{"saved":true}})", "14: Invalid parameter: settings"},
      {R"("result":[1,2]})", "11: Invalid daemon admin response JSON"},
      {R"("result":"text"})", "11: Invalid daemon admin response JSON"},
      {R"("result":null})", "15: Daemon admin returned empty response"},
      {R"("other":1})", "15: Daemon admin returned empty response"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome([&](const std::string& line) { return R"({"id":)" + idOf(line) + "," + c.reply + "\n"; }),
              c.outcome)
        << c.reply;
  }
  EXPECT_EQ(outcome([](const std::string&) { return std::string("not json\n"); }), "parse error");
}

TEST_F(DaemonAdminAPITest, SendsParamsOnlyWhenThereAreSome) {
  const auto answer = [](const std::string& line) { return R"({"id":)" + idOf(line) + R"(,"result":{}})" "\n"; };
  outcome(answer);
  EXPECT_FALSE(Json::parse(lastRequest).contains("params")) << lastRequest;
  EXPECT_EQ(Json::parse(lastRequest)["method"], "app_get_settings");
  outcome(answer, Json{{"settings", Json::object()}});
  EXPECT_EQ(Json::parse(lastRequest)["params"], Json::parse(R"({"settings":{}})"));
}

TEST_F(DaemonAdminAPITest, ARefusedOrMissingDaemonAndASilentOneAreTheirOwnErrors) {
  EXPECT_EQ(outcome([](const std::string&) { return std::nullopt; }), "16: XPC connection to daemon was rejected");
  EXPECT_EQ(outcome([](const std::string&) { return std::string(R"({"id":-1,"result":{}})" "\n"); },
                    std::nullopt, std::chrono::milliseconds(300)),
            "13: Timed out waiting for daemon admin response");
}

// The health monitor tells a peer-check refusal (accepted, then closed unanswered) from a
// daemon that is not listening yet; both are code 16, the cause tells them apart.
TEST_F(DaemonAdminAPITest, ARefusedConnectIsNoRejectionByTheDaemon) {
  using Cause = DaemonAdminAPIError::Cause;
  const auto failure = [](const std::string& path) -> std::optional<DaemonAdminAPIError> {
    try {
      DaemonAdminAPI::request(path, "app_get_health", std::nullopt, std::chrono::seconds(60));
    } catch (const DaemonAdminAPIError& e) {
      return e;
    }
    return std::nullopt;
  };

  auto missing = failure((temp / "absent.sock").string());
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->code(), DaemonAdminAPIError::Code::connectionRejected);
  EXPECT_EQ(missing->cause(), Cause::connectFailed);
  EXPECT_EQ(missing->underlyingError(), "No such file or directory");

  {  // a socket file that nobody listens on any more, as a crashed daemon leaves it
    UniqueFd stale = openListeningSocket(socketPath);
  }
  auto refused = failure(socketPath);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->cause(), Cause::connectFailed);
  EXPECT_EQ(refused->underlyingError(), "Connection refused");
  std::filesystem::remove(socketPath);

  std::optional<DaemonAdminAPIError> hungUp;
  {
    ScriptedDaemon daemon(socketPath, [](const std::string&) { return std::nullopt; });
    hungUp = failure(socketPath);
  }
  ASSERT_TRUE(hungUp);
  EXPECT_EQ(hungUp->cause(), Cause::closedWithoutReply);
  EXPECT_EQ(hungUp->underlyingError(), "Connection closed by the daemon");

  auto unusable = failure("/tmp/" + std::string(200, 'x'));
  ASSERT_TRUE(unusable);
  EXPECT_EQ(unusable->code(), DaemonAdminAPIError::Code::setupFailed);
  EXPECT_EQ(unusable->description(), "Failed to create daemon admin XPC proxy");
}

}  // namespace
}  // namespace qd
