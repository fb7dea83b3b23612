#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "daemon/mcp/line_io.h"
#include "daemon/mcp/mcp_transport.h"
#include "daemon/runtime/child_process.h"

namespace qd {

// A child process spoken to over its standard input and output: the MCP client's way to
// a server program. The child runs in its own process group; its standard error is read
// and logged at debug level, one line per chunk. When the child ends by itself the
// transport stays running (sends fail once a write fails) until its owner closes it.
//
// A child that writes a line longer than maxLineBytes is broken: the transport stops
// reading it, kills its group and reports the end of its output, so its client fails what
// waits at once and the child counts as ended. Its memory stays near the limit meanwhile.
class StdioTransport final : public MCPTransport {
 public:
  // Far above any answer a server gives, so only a runaway line meets it.
  static constexpr std::size_t maxLineBytes = 64 << 20;

  // `environment` entries are laid over the program's environment; absent: inherited.
  // `terminationGrace` is how long close() waits after SIGTERM before SIGKILL.
  // `parentDeathSignal`: the signal the child gets when the io thread (the daemon) ends,
  // for servers that do not stop at the end of their input; start() must then run on the
  // io thread, which it does.
  StdioTransport(asio::any_io_executor executor, std::string command, std::vector<std::string> arguments,
                 std::optional<std::map<std::string, std::string>> environment = std::nullopt,
                 std::chrono::milliseconds terminationGrace = std::chrono::seconds(5),
                 std::optional<int> parentDeathSignal = std::nullopt);
  ~StdioTransport() override;

  // No child or not running: connectionClosed. A write error: writeFailed with the
  // system's text; the running state stays.
  asio::awaitable<void> send(std::string message) override;
  // Starts the child; processStartFailed with the system's text when it cannot.
  // Logs "Process started" (command, pid).
  asio::awaitable<void> start(MessageHandler onMessage) override;
  // Stops reading (the reads are cancelled, the pipes stay open), then ends the child's
  // group: SIGTERM, up to the grace, then SIGKILL with the warning "Process did not exit
  // after terminate, sending SIGKILL"; logs "Process terminated" (exitCode, layer
  // "transport"). Only then are the pipes closed, so a child that writes while it shuts
  // down (a goodbye line, a flush) does not die of SIGPIPE. A child that has already ended
  // gets no signal and no log line. The child is always reaped.
  asio::awaitable<void> close() override;
  // Called when the child's standard output ends before close().
  void setInputEndedHandler(std::function<void()> handler) override;

  // True while a child is held and has not ended.
  bool processIsRunning() const;
  // The child's pid while a child is held.
  std::optional<pid_t> processPID() const;

 private:
  asio::any_io_executor executor_;
  std::string command_;
  std::vector<std::string> arguments_;
  std::optional<std::map<std::string, std::string>> environment_;
  std::chrono::milliseconds terminationGrace_;
  std::optional<int> parentDeathSignal_;
  std::function<void()> onInputEnded_;
  // Shared with the output's reader, which outlives neither a close() nor the transport.
  struct OutputState {
    bool closing = false;           // set by close(): the end it causes is not reported
    ChildProcess* child = nullptr;  // the running child, while not closing
  };
  std::shared_ptr<OutputState> output_ = std::make_shared<OutputState>();
  static asio::awaitable<void> readChildOutput(std::shared_ptr<asio::posix::stream_descriptor> stream,
                                               MessageHandler onMessage, std::function<void()> onEnded,
                                               std::shared_ptr<OutputState> state);

  std::unique_ptr<ChildProcess> process_;
  std::shared_ptr<LineWriter> stdin_;
  std::shared_ptr<asio::posix::stream_descriptor> stdout_;
  std::shared_ptr<asio::posix::stream_descriptor> stderr_;
  bool isRunning_ = false;
};

}  // namespace qd
