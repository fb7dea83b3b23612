#include "daemon/cli/tinderbox_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>

#include "daemon/cli/fake_daemon.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::finishAwaitable;
using test::startAwaitable;

// The description of what `started` failed with; "" when it succeeded.
template <class T>
std::string failureOf(asio::io_context& io, const std::shared_ptr<test::StartedAwaitable<T>>& started) {
  try {
    finishAwaitable(io, started);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

bool logged(const test::StderrCapture& capture, const std::string& level, const std::string& message) {
  for (const auto& line : capture.lines()) {
    try {
      const Json entry = parseJson(line);
      if (entry.value("level", "") == level && entry.value("message", "") == message) return true;
    } catch (const std::exception&) {
    }
  }
  return false;
}

// Options for a client that gives up connecting after 300 ms.
TinderboxClientOptions quickToGiveUp(const std::string& socketPath) {
  TinderboxClientOptions options;
  options.socketPath = socketPath;
  options.connectionTimeout = 300ms;
  options.attemptWindow = 100ms;
  options.retryPause = 50ms;
  return options;
}

struct ClientFixture {
  test::TempDir dir{"cli"};
  asio::io_context io;
  std::string path = (dir / "daemon.sock").string();
  test::FakeDaemon daemon{io, path};
  std::shared_ptr<TinderboxClient> client;

  explicit ClientFixture(std::chrono::milliseconds requestTimeout = 60s) {
    TinderboxClientOptions options;
    options.socketPath = path;
    options.requestTimeout = requestTimeout;
    client = TinderboxClient::create(io.get_executor(), options);
  }
  void connect() {
    auto started = startAwaitable(io, client->start());
    daemon.accept();
    finishAwaitable(io, started);
  }
  auto call(std::string name, Json arguments = Json::object()) {
    return startAwaitable(io, client->callTool(std::move(name), std::move(arguments)));
  }
};

TEST(TinderboxClient, NumbersRequestsFromZeroAndWritesTheProtocolsEnvelopes) {
  ClientFixture f;
  // Refused before connecting: no id is taken.
  EXPECT_EQ(failureOf(f.io, f.call("early")), "Not connected to daemon");
  f.connect();

  auto list = startAwaitable(f.io, f.client->listTools());
  const Json listRequest = f.daemon.readRequest();
  EXPECT_EQ(listRequest, (Json{{"method", "list_tools"}, {"_requestId", 0}}));
  f.daemon.reply(listRequest, {{"tools", {{{"name", "a"}}}}});
  EXPECT_EQ(finishAwaitable(f.io, list), (std::vector<Json>{Json{{"name", "a"}}}));

  auto call = f.call("x", {{"k", 1}});
  const Json callRequest = f.daemon.readRequest();
  EXPECT_EQ(callRequest, (Json{{"method", "call_tool"},
                               {"_requestId", 1},
                               {"params", {{"name", "x"}, {"arguments", {{"k", 1}}}}}}));
  f.daemon.reply(callRequest, {{"content", Json::array()}, {"_requestId", "replaced"}});
  EXPECT_EQ(finishAwaitable(f.io, call), (Json{{"content", Json::array()}}));

  // Arguments with no JSON form fail, and use up their id.
  Json unencodable = Json::object();
  unencodable["blob"] = Json::binary({1, 2});
  EXPECT_EQ(failureOf(f.io, f.call("x", unencodable)), "Failed to serialize request");

  auto notify = startAwaitable(f.io, f.client->sendNotification("*", {{"message", "hi"}}));
  const Json notifyRequest = f.daemon.readRequest();
  EXPECT_EQ(notifyRequest, (Json{{"method", "call_tool"},
                                 {"_requestId", 3},
                                 {"params", {{"name", "notify"}, {"arguments", {{"agents", "*"}, {"data", {{"message", "hi"}}}}}}}}));
  f.daemon.reply(notifyRequest, {{"content", Json::array()}});
  finishAwaitable(f.io, notify);
}

TEST(TinderboxClient, HandsEachReplyToItsOwnCallerWhateverTheOrderAndFraming) {
  ClientFixture f;
  f.connect();
  auto first = f.call("first");
  auto second = f.call("second");
  auto third = f.call("third");
  const Json r1 = f.daemon.readRequest();
  const Json r2 = f.daemon.readRequest();
  const Json r3 = f.daemon.readRequest();
  // The third split over two writes, then the second and the first in one write, one
  // ending with a carriage return.
  const std::string third3 = dumpJson(Json{{"who", 3}, {"_requestId", r3["_requestId"]}});
  f.daemon.write(third3.substr(0, 5));
  f.daemon.write(third3.substr(5) + "\n");
  f.daemon.write(dumpJson(Json{{"who", 2}, {"_requestId", r2["_requestId"]}}) + "\r\n" +
                 dumpJson(Json{{"who", 1}, {"_requestId", r1["_requestId"]}}) + "\n");
  EXPECT_EQ(finishAwaitable(f.io, first), (Json{{"who", 1}}));
  EXPECT_EQ(finishAwaitable(f.io, second), (Json{{"who", 2}}));
  EXPECT_EQ(finishAwaitable(f.io, third), (Json{{"who", 3}}));
  EXPECT_EQ(f.client->pendingRequestCount(), 0u);
}

TEST(TinderboxClient, LogsAndDropsRepliesItCannotMatch) {
  test::StderrCapture capture;
  ClientFixture f;
  f.connect();
  auto call = f.call("x");
  const Json request = f.daemon.readRequest();
  struct Case {
    std::string line;
    const char* level;
    const char* message;
  } cases[] = {
      {"not json", "ERROR", "Error parsing response"},
      {"[1,2]", "ERROR", "Error parsing response"},
      {R"({"ok":true,"_requestId":"0"})", "WARN", "Response missing _requestId"},
      {R"({"ok":true,"_requestId":0.5})", "WARN", "Response missing _requestId"},
      {R"({"error":"Missing method"})", "WARN", "Response missing _requestId"},
      {R"({"ok":true,"_requestId":41})", "WARN", "No handler for response"},
  };
  for (const auto& c : cases) f.daemon.write(c.line + "\n");
  // The request is still pending after all of them and takes its own reply.
  f.daemon.reply(request, {{"error", 5}});
  EXPECT_EQ(finishAwaitable(f.io, call), (Json{{"error", 5}}));
  for (const auto& c : cases) EXPECT_TRUE(logged(capture, c.level, c.message)) << c.line;

  auto failing = f.call("x");
  f.daemon.reply(f.daemon.readRequest(), {{"error", "Unknown tool: x"}});
  EXPECT_EQ(failureOf(f.io, failing), "Daemon error: Unknown tool: x");
}

TEST(TinderboxClient, TimesOutARequestAndDropsItsLateReply) {
  test::StderrCapture capture;
  ClientFixture f(200ms);
  f.connect();
  auto call = f.call("slow");
  const Json request = f.daemon.readRequest();
  EXPECT_EQ(failureOf(f.io, call), "Request timed out");
  f.daemon.reply(request, {{"late", true}});
  test::runUntil(f.io, [&] { return logged(capture, "WARN", "No handler for response"); });
  EXPECT_TRUE(f.client->isRunning());

  // A daemon that stops reading cannot hold a caller past its time-out either (the line is
  // more than the socket's buffers take, and within the daemon's line limit).
  auto stuck = f.call("big", {{"text", std::string(900 << 10, 'x')}});
  EXPECT_EQ(failureOf(f.io, stuck), "Request timed out");
}

TEST(TinderboxClient, FailsEveryPendingCallWhenTheConnectionEndsAndTheNextCallReconnects) {
  struct Case {
    const char* name;
    std::function<void(test::FakeDaemon&)> end;
    const char* pendingFailure;
  } cases[] = {
      {"the daemon closes", [](test::FakeDaemon& d) { d.closeConnection(); }, "Connection to daemon closed"},
      {"a reply line is not UTF-8", [](test::FakeDaemon& d) { d.write("{\"x\":\"\xff\"}\n"); },
       "Connection to daemon closed"},
      {"the daemon says why, then closes",
       [](test::FakeDaemon& d) {
         d.write("{\"error\":\"Too many clients (max 100)\"}\n");
         d.closeConnection();
       },
       "Daemon error: Too many clients (max 100)"},
  };
  for (const auto& c : cases) {
    test::StderrCapture capture;
    ClientFixture f;
    f.connect();
    auto a = f.call("a");
    auto b = f.call("b");
    f.daemon.readRequest();
    f.daemon.readRequest();
    c.end(f.daemon);
    EXPECT_EQ(failureOf(f.io, a), c.pendingFailure) << c.name;
    EXPECT_EQ(failureOf(f.io, b), c.pendingFailure) << c.name;
    EXPECT_FALSE(f.client->isRunning()) << c.name;
    int receiveErrors = 0;
    for (const auto& line : capture.lines()) receiveErrors += line.find("\"Receive error\"") != std::string::npos;
    EXPECT_EQ(receiveErrors, 1) << c.name;

    // The next call makes a new connection and goes on numbering.
    auto later = f.call("later");
    f.daemon.accept();
    const Json request = f.daemon.readRequest();
    EXPECT_EQ(request["_requestId"], 2) << c.name;
    f.daemon.reply(request, {{"ok", true}});
    EXPECT_EQ(finishAwaitable(f.io, later), (Json{{"ok", true}})) << c.name;
    EXPECT_TRUE(f.client->isRunning()) << c.name;
  }
}

TEST(TinderboxClient, CallsMadeWhileTheDaemonIsAwayShareOneReconnectThatMayFail) {
  test::TempDir dir("cli");
  asio::io_context io;
  const TinderboxClientOptions options = quickToGiveUp((dir / "daemon.sock").string());
  auto client = TinderboxClient::create(io.get_executor(), options);
  auto daemon = std::make_unique<test::FakeDaemon>(io, options.socketPath);
  auto started = startAwaitable(io, client->start());
  daemon->accept();
  finishAwaitable(io, started);

  // The daemon goes away: a call made then tries for the connection time-out and fails.
  daemon.reset();
  std::filesystem::remove(options.socketPath);
  test::runUntil(io, [&] { return !client->isRunning(); });
  // A request over the bound is refused before any attempt to connect.
  auto oversized =
      startAwaitable(io, client->callTool("x", {{"text", std::string(TinderboxClient::maxRequestLineBytes, 'a')}}));
  EXPECT_EQ(failureOf(io, oversized), "Request too large for the daemon (over 1 MiB)");
  auto alone = startAwaitable(io, client->callTool("x", Json::object()));
  EXPECT_EQ(failureOf(io, alone), "Failed to connect to daemon");

  // It is back: two calls made together reach it over one new connection.
  daemon = std::make_unique<test::FakeDaemon>(io, options.socketPath);
  auto first = startAwaitable(io, client->callTool("first", Json::object()));
  auto second = startAwaitable(io, client->callTool("second", Json::object()));
  daemon->accept();
  const Json one = daemon->readRequest();
  const Json two = daemon->readRequest();
  daemon->reply(one, {{"n", 1}});
  daemon->reply(two, {{"n", 2}});
  EXPECT_EQ(finishAwaitable(io, first), (Json{{"n", 1}}));
  EXPECT_EQ(finishAwaitable(io, second), (Json{{"n", 2}}));

  // A shutdown while a reconnect is under way fails its callers and nothing connects.
  daemon.reset();
  std::filesystem::remove(options.socketPath);
  test::runUntil(io, [&] { return !client->isRunning(); });
  auto waiting = startAwaitable(io, client->callTool("y", Json::object()));
  io.poll();
  client->shutdown();
  EXPECT_EQ(failureOf(io, waiting), "Not connected to daemon");
  daemon = std::make_unique<test::FakeDaemon>(io, options.socketPath);
  EXPECT_EQ(failureOf(io, startAwaitable(io, client->callTool("z", Json::object()))), "Not connected to daemon");
}

TEST(TinderboxClient, ARequestLineOverTheBridgesBoundIsRefusedUnsentAndTheConnectionGoesOn) {
  ClientFixture f;
  f.connect();
  // call_tool "x" with one string argument, padded so its line (with the line feed) is
  // `lineBytes` long when it carries request id `id`.
  const auto paddedArguments = [](std::size_t lineBytes, std::int64_t id) {
    const Json empty{{"method", "call_tool"}, {"_requestId", id},
                     {"params", {{"name", "x"}, {"arguments", {{"text", ""}}}}}};
    return Json{{"text", std::string(lineBytes - dumpJson(empty).size() - 1, 'a')}};
  };
  // The bound: 1 MiB less one 64 KiB read of the daemon.
  const std::size_t bound = TinderboxClient::maxRequestLineBytes;

  auto over = f.call("x", paddedArguments(bound + 1, 0));
  EXPECT_EQ(failureOf(f.io, over), "Request too large for the daemon (over 1 MiB)");
  auto huge = f.call("x", {{"text", std::string(5 << 20, 'a')}});
  EXPECT_EQ(failureOf(f.io, huge), "Request too large for the daemon (over 1 MiB)");

  // Nothing of them was written: the next line the daemon reads is the next request, at
  // the bound exactly.
  auto atBound = f.call("x", paddedArguments(bound, 2));
  const Json request = f.daemon.readRequest();
  EXPECT_EQ(request["_requestId"], 2);
  EXPECT_EQ(dumpJson(request).size() + 1, bound);
  f.daemon.reply(request, {{"ok", true}});
  EXPECT_EQ(finishAwaitable(f.io, atBound), (Json{{"ok", true}}));
  EXPECT_TRUE(f.client->isRunning());
}

TEST(TinderboxClient, ShutdownFailsPendingCallsAndCanBeRepeated) {
  ClientFixture f;
  f.connect();
  auto call = f.call("x");
  f.daemon.readRequest();
  f.client->shutdown();
  f.client->shutdown();
  EXPECT_EQ(failureOf(f.io, call), "Connection to daemon closed");
  EXPECT_EQ(failureOf(f.io, f.call("y")), "Not connected to daemon");
  EXPECT_FALSE(f.daemon.peer().readLine().has_value());  // the socket was closed
}

TEST(TinderboxClient, GivesUpConnectingOnceTheConnectionTimeOutHasPassed) {
  test::TempDir dir("cli");
  asio::io_context io;
  TinderboxClientOptions options = quickToGiveUp((dir / "nobody.sock").string());
  auto client = TinderboxClient::create(io.get_executor(), options);
  EXPECT_EQ(failureOf(io, startAwaitable(io, client->start())), "Failed to connect to daemon");
  EXPECT_FALSE(client->isRunning());

  options.socketPath = "/tmp/" + std::string(200, 'p');  // can never fit a socket address
  auto tooLong = TinderboxClient::create(io.get_executor(), options);
  EXPECT_EQ(failureOf(io, startAwaitable(io, tooLong->start())), "Failed to connect to daemon");

  // A daemon whose listen backlog is full (it does not accept): refused the same way, and
  // a client started once it accepts again connects.
  options.socketPath = (dir / "busy.sock").string();
  asio::local::stream_protocol::acceptor busy(io, asio::local::stream_protocol::endpoint(options.socketPath));
  busy.listen(0);
  asio::local::stream_protocol::socket waiting(io);
  waiting.connect(busy.local_endpoint());  // takes the one place in the backlog
  auto refused = TinderboxClient::create(io.get_executor(), options);
  EXPECT_EQ(failureOf(io, startAwaitable(io, refused->start())), "Failed to connect to daemon");
  asio::local::stream_protocol::socket accepted = busy.accept();
  auto later = TinderboxClient::create(io.get_executor(), options);
  EXPECT_EQ(failureOf(io, startAwaitable(io, later->start())), "");
  EXPECT_TRUE(later->isRunning());
}

TEST(TinderboxClient, DecodesTypedResultsAndRefusesMalformedToolLists) {
  ClientFixture f;
  f.connect();
  auto typed = startAwaitable(f.io, f.client->callToolTyped("x", Json::object()));
  f.daemon.reply(f.daemon.readRequest(), {{"content", {{{"type", "text"}, {"text", "hi"}}}}, {"isError", true}});
  EXPECT_EQ(finishAwaitable(f.io, typed), CallToolResult::text("hi", true));

  auto fallback = startAwaitable(f.io, f.client->callToolTyped("x", Json::object()));
  f.daemon.reply(f.daemon.readRequest(), {{"answer", 42}});
  EXPECT_EQ(finishAwaitable(f.io, fallback), CallToolResult::text(dumpJson(Json{{"answer", 42}}, 2)));

  auto tools = startAwaitable(f.io, f.client->listToolsTyped());
  f.daemon.reply(f.daemon.readRequest(),
                 {{"tools", {{{"name", "ok"}, {"inputSchema", {{"type", "object"}}}}, {{"name", "no-schema"}}}}});
  EXPECT_NE(failureOf(f.io, tools), "");

  for (Json reply : {Json{{"tools", "many"}}, Json::object(), Json{{"tools", {1}}}}) {
    auto list = startAwaitable(f.io, f.client->listTools());
    f.daemon.reply(f.daemon.readRequest(), reply);
    EXPECT_EQ(failureOf(f.io, list), "Invalid response from daemon") << reply;
  }
}

}  // namespace
}  // namespace qd
