#pragma once

#include <functional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/mcp/line_splitter.h"

namespace qd {

// Receives one line, without its line feed. Called on the io thread, one line at a time and
// in the order received; it must be quick (the MCP client and server start a task per line).
using MessageHandler = std::function<void(std::string line)>;

// Receives what is left of a line longer than a transport keeps (see LineSplitter).
using OversizedLineHandler = std::function<void(OversizedLine line)>;

// A newline-framed byte stream to one MCP peer. Transports move opaque lines; JSON belongs
// to the client and server that own them. All three operations run on the io thread.
class MCPTransport {
 public:
  virtual ~MCPTransport() = default;
  // Writes the message followed by one line feed. The message must not contain a raw line
  // feed (compact JSON never does). Throws TransportError.
  virtual asio::awaitable<void> send(std::string message) = 0;
  // Opens the channel and starts delivering every received non-empty line to `onMessage`.
  virtual asio::awaitable<void> start(MessageHandler onMessage) = 0;
  // Stops reading and releases the channel. Never fails.
  virtual asio::awaitable<void> close() = 0;
  // Set before start(): called once, on the io thread, after the last line was delivered,
  // when the peer's output ended (end of input, a read error) without close(). A client
  // then fails what waits for an answer at once instead of at its time-out. Transports
  // that cannot tell never call it.
  virtual void setInputEndedHandler(std::function<void()> handler) { (void)handler; }
  // Set before start(): called on the io thread for each received line longer than the
  // transport keeps, which it dropped as the line came, after the lines read with its end.
  // Transports without a line limit never call it.
  virtual void setOversizedLineHandler(OversizedLineHandler handler) { (void)handler; }
  // Flow control for a reader that cannot keep up: while paused, no further input is read
  // (lines already read are still delivered). A transport without it ignores both.
  virtual void pauseReading() {}
  virtual void resumeReading() {}
};

}  // namespace qd
