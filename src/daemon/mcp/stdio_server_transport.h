#pragma once

#include <unistd.h>

#include <functional>
#include <memory>

#include <asio/any_io_executor.hpp>

#include "daemon/mcp/line_io.h"
#include "daemon/mcp/mcp_transport.h"

namespace qd {

// The program's own standard input and output, for the MCP server of client mode. It
// works on copies of the descriptors, so closing it leaves standard input and output open.
// Standard input may be a pipe, a terminal, a regular file or /dev/null. The end of
// standard input changes no state; the owner may ask to be told of it. A line longer than
// maxLineBytes is dropped as it comes, so a peer that never ends its line cannot make us
// hold more than that; the owner may ask to be told of such lines.
class StdioServerTransport final : public MCPTransport {
 public:
  // Far above any request the daemon takes (1 MiB), so only a runaway line meets it.
  static constexpr std::size_t maxLineBytes = 16 << 20;

  // The descriptors are parameters so tests can give pipes; the program uses 0 and 1.
  explicit StdioServerTransport(asio::any_io_executor executor, int inputFd = STDIN_FILENO,
                                int outputFd = STDOUT_FILENO);
  ~StdioServerTransport() override;

  // Not running: TransportError::connectionClosed. A write error stops the transport and
  // throws writeFailed with the system's text; every later send is connectionClosed.
  asio::awaitable<void> send(std::string message) override;
  // Starts reading; logs "Listening on stdin/stdout". Does not fail.
  asio::awaitable<void> start(MessageHandler onMessage) override;
  // Stops reading; standard input and output stay open.
  asio::awaitable<void> close() override;
  void pauseReading() override;
  void resumeReading() override;

  // Called once on the io thread when standard input ends by itself (end of file or a read
  // error), after its last line was delivered; never after close(). Set before start().
  void setInputEndedHandler(std::function<void()> handler) override;
  // Called on the io thread for each line over maxLineBytes, when it goes over and again
  // once it has ended; never after close(). Set before start().
  void setOversizedLineHandler(OversizedLineHandler handler) override;

  bool isRunning() const { return isRunning_; }

 private:
  void stopReading();

  asio::any_io_executor executor_;
  int inputFd_;
  int outputFd_;
  bool isRunning_ = false;
  std::shared_ptr<asio::posix::stream_descriptor> input_;
  std::shared_ptr<ReadGate> gate_;
  // Shared with the reader; close() empties it so a reader that ends later stays quiet.
  std::shared_ptr<std::function<void()>> inputEnded_ = std::make_shared<std::function<void()>>();
  std::shared_ptr<OversizedLineHandler> oversized_ = std::make_shared<OversizedLineHandler>();
  std::unique_ptr<ThreadLineReader> threadReader_;
  std::shared_ptr<LineWriter> writer_;
};

}  // namespace qd
