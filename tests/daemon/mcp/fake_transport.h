#pragma once

// An MCPTransport whose peer is the test: it records what is sent, delivers lines the
// test gives, and can refuse sends.

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "daemon/mcp/mcp_transport.h"
#include "daemon/utilities/json.h"

namespace qd::test {

class FakeTransport : public MCPTransport {
 public:
  asio::awaitable<void> send(std::string message) override {
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

  void deliver(const std::string& line) { onMessage(line); }
  Json sentJson(std::size_t i) const { return parseJson(sent.at(i)); }

  std::vector<std::string> sent;
  MessageHandler onMessage;
  std::function<void(const std::string&)> onSend;
  std::exception_ptr sendError;
  bool started = false;
  bool closed = false;
};

}  // namespace qd::test
