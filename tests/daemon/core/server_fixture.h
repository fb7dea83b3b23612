#pragma once

// A socket server in a temporary folder with a recording message handler, and helpers to
// read what the logger wrote.

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/core/unix_socket_server.h"
#include "support/test_io.h"
#include "daemon/utilities/json.h"
#include "support/file_mode.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd::test {

struct HandledLine {
  std::string clientId;
  std::optional<ClientProcessInfo> info;
  std::string line;
};

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    socketPath = dir + "/daemon.sock";
  }

  void TearDown() override {
    if (server) server->shutdown();
    server.reset();
  }

  SocketServerOptions options() {
    SocketServerOptions o;
    o.rateLimitRequests = rateLimit;
    o.clock = &clock;
    o.environment = platform::Environment{{"HOME", dir}};
    o.acceptConnection = acceptConnection;
    o.setSocketFileMode = setSocketFileMode;
    return o;
  }

  std::shared_ptr<UnixSocketServer> makeServer(std::int64_t maxClients = 10) {
    server = UnixSocketServer::create(io.get_executor(), socketPath, maxClients, options());
    return server;
  }

  // Started, with the disconnect handler and then the message handler installed.
  std::shared_ptr<UnixSocketServer> startServer(std::int64_t maxClients = 10) {
    makeServer(maxClients);
    server->start();
    installHandlers();
    return server;
  }

  void installHandlers() {
    server->setDisconnectHandler([this](std::string clientId) { return recordDisconnect(this, std::move(clientId)); });
    server->setMessageHandler([this](std::string clientId, std::optional<ClientProcessInfo> info, std::string line) {
      return recordLine(this, std::move(clientId), std::move(info), std::move(line));
    });
  }

  static asio::awaitable<std::optional<std::string>> recordLine(ServerFixture* self, std::string clientId,
                                                                std::optional<ClientProcessInfo> info,
                                                                std::string line) {
    self->handled.push_back({clientId, info, line});
    co_return self->reply(line);
  }

  static asio::awaitable<void> recordDisconnect(ServerFixture* self, std::string clientId) {
    self->disconnected.push_back(clientId);
    co_return;
  }

  // Runs the io_context until the condition holds (or the test's generous limit passes).
  void runUntil(const std::function<bool()>& condition) { runAwaitable(io, waitFor(condition)); }

  static asio::awaitable<void> waitFor(std::function<bool()> condition) {
    asio::steady_timer timer(co_await asio::this_coro::executor);
    while (!condition()) {
      timer.expires_after(std::chrono::milliseconds(1));
      co_await timer.async_wait(asio::use_awaitable);
    }
  }

  // The logger's lines with this message, parsed.
  std::vector<Json> logLines(const std::string& message) const {
    std::vector<Json> found;
    for (const std::string& line : capture.lines()) {
      Json parsed = Json::parse(line, nullptr, false);
      if (parsed.is_object() && parsed.value("message", "") == message) found.push_back(parsed);
    }
    return found;
  }

  std::vector<std::string> handledLines() const {
    std::vector<std::string> lines;
    for (const auto& h : handled) lines.push_back(h.line);
    return lines;
  }

  StderrCapture capture;
  asio::io_context io{1};
  ManualClock clock;
  std::int64_t rateLimit = 1000;
  std::function<int(int)> acceptConnection;  // empty: the real accept
  std::function<void(const std::string&)> setSocketFileMode;  // empty: the real chmod
  test::TempDir temp{"core"};
  std::string dir = temp.string();
  std::string socketPath;
  std::shared_ptr<UnixSocketServer> server;
  std::function<std::optional<std::string>(const std::string&)> reply = [](const std::string& line) {
    return std::optional<std::string>("re:" + line);
  };
  std::vector<HandledLine> handled;
  std::vector<std::string> disconnected;
};

inline bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace qd::test
