#include "daemon/mcp/stdio_server_transport.h"

#include <fcntl.h>

#include <system_error>

#include "daemon/logging/logger.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_signals.h"

namespace qd {
namespace {
constexpr const char* component = "StdioServerTransport";

UniqueFd duplicate(int fd) { return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)); }
}  // namespace

StdioServerTransport::StdioServerTransport(asio::any_io_executor executor, int inputFd, int outputFd)
    : executor_(std::move(executor)), inputFd_(inputFd), outputFd_(outputFd) {
  ignoreSigpipe();
}

StdioServerTransport::~StdioServerTransport() {
  stopReading();
  if (writer_) writer_->close();
}

asio::awaitable<void> StdioServerTransport::start(MessageHandler onMessage) {
  isRunning_ = true;
  UniqueFd input = duplicate(inputFd_);
  if (input) {
    input_ = tryReactorDescriptor(executor_, input);
    if (input_) {
      startTask(executor_, readLines(input_, std::move(onMessage)), component, "read stdin");
    } else {
      threadReader_ = std::make_unique<ThreadLineReader>(executor_, std::move(input), std::move(onMessage));
    }
  }
  UniqueFd output = duplicate(outputFd_);
  if (auto stream = tryReactorDescriptor(executor_, output)) {
    writer_ = std::make_shared<LineWriter>(executor_, std::move(stream));
  } else {
    writer_ = std::make_shared<LineWriter>(executor_, std::move(output));
  }
  Logger::info(component, "Listening on stdin/stdout");
  co_return;
}

asio::awaitable<void> StdioServerTransport::send(std::string message) {
  if (!isRunning_ || !writer_) throw TransportError::connectionClosed();
  auto writer = writer_;  // the writer outlives a close() that happens during the write
  try {
    co_await writer->writeLine(std::move(message));
  } catch (const std::system_error& e) {
    if (!isRunning_) throw TransportError::connectionClosed();
    isRunning_ = false;
    throw TransportError::writeFailed(e.code().message());
  }
}

void StdioServerTransport::stopReading() {
  if (input_) {
    std::error_code ignored;
    input_->close(ignored);
    input_.reset();
  }
  if (threadReader_) {
    threadReader_->stop();
    threadReader_.reset();
  }
}

asio::awaitable<void> StdioServerTransport::close() {
  stopReading();
  isRunning_ = false;
  co_return;
}

}  // namespace qd
