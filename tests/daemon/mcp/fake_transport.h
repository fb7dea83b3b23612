#pragma once

// An MCPTransport whose peer is the test: it records what is sent, delivers lines the
// test gives, and can refuse sends.

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/mcp/mcp_transport.h"
#include "daemon/utilities/json.h"

namespace qd::test {

class FakeTransport : public MCPTransport {
 public:
  asio::awaitable<void> send(std::string message) override {
    if (auto hold = sendHold) {
      std::error_code released;
      co_await hold->async_wait(asio::redirect_error(asio::use_awaitable, released));
    }
    if (sendError) std::rethrow_exception(sendError);
    sent.push_back(message);
    if (onSend) onSend(message);
    co_return;
  }
  asio::awaitable<void> start(MessageHandler handler) override {
    onMessage = std::move(handler);
    started = true;
    co_return;
  }
  asio::awaitable<void> close() override {
    closed = true;
    co_return;
  }

  void setOversizedLineHandler(OversizedLineHandler handler) override { onOversized = std::move(handler); }
  void pauseReading() override { readingPaused = true; }
  void resumeReading() override { readingPaused = false; }

  // Makes every send wait until releaseSends(), like a peer that does not read.
  void holdSends(asio::any_io_executor executor) {
    sendHold = std::make_shared<asio::steady_timer>(executor, asio::steady_timer::time_point::max());
  }
  void releaseSends() {
    if (sendHold) sendHold->cancel();
    sendHold.reset();
  }

  void deliver(const std::string& line) { onMessage(line); }
  Json sentJson(std::size_t i) const { return parseJson(sent.at(i)); }

  std::vector<std::string> sent;
  MessageHandler onMessage;
  OversizedLineHandler onOversized;
  std::function<void(const std::string&)> onSend;
  std::exception_ptr sendError;
  std::shared_ptr<asio::steady_timer> sendHold;
  bool readingPaused = false;
  bool started = false;
  bool closed = false;
};

}  // namespace qd::test
