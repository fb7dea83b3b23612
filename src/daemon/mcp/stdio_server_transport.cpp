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

asio::awaitable<void> readThenReportEnd(std::shared_ptr<asio::posix::stream_descriptor> input,
                                        MessageHandler onMessage, std::shared_ptr<ReadGate> gate, LineLimit limit,
                                        std::shared_ptr<std::function<void()>> inputEnded) {
  co_await readLines(input, std::move(onMessage), std::move(gate), std::move(limit));
  // A copy: the handler may close the transport, which empties the shared one.
  if (auto handler = *inputEnded) handler();
}
}  // namespace

StdioServerTransport::StdioServerTransport(asio::any_io_executor executor, int inputFd, int outputFd)
    : executor_(std::move(executor)),
      inputFd_(inputFd),
      outputFd_(outputFd),
      gate_(std::make_shared<ReadGate>(executor_)) {
  ignoreSigpipe();
}

StdioServerTransport::~StdioServerTransport() {
  stopReading();
  if (writer_) writer_->close();
}

asio::awaitable<void> StdioServerTransport::start(MessageHandler onMessage) {
  isRunning_ = true;
  LineLimit limit{maxLineBytes, [oversized = oversized_](OversizedLine line) {
                    if (auto handler = *oversized) handler(std::move(line));
                  }};
  UniqueFd input = duplicate(inputFd_);
  if (input) {
    input_ = tryReactorDescriptor(executor_, input);
    if (input_) {
      startTask(executor_, readThenReportEnd(input_, std::move(onMessage), gate_, std::move(limit), inputEnded_),
                component, "read stdin");
    } else {
      auto inputEnded = inputEnded_;
      threadReader_ = std::make_unique<ThreadLineReader>(
          executor_, std::move(input), std::move(onMessage), gate_,
          [inputEnded] {
            if (auto handler = *inputEnded) handler();
          },
          std::move(limit));
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

void StdioServerTransport::setInputEndedHandler(std::function<void()> handler) { *inputEnded_ = std::move(handler); }

void StdioServerTransport::setOversizedLineHandler(OversizedLineHandler handler) { *oversized_ = std::move(handler); }

void StdioServerTransport::pauseReading() { gate_->pause(); }

void StdioServerTransport::resumeReading() { gate_->resume(); }

void StdioServerTransport::stopReading() {
  *inputEnded_ = nullptr;
  *oversized_ = nullptr;
  if (input_) {
    std::error_code ignored;
    input_->close(ignored);
    input_.reset();
    gate_->resume();  // a reader waiting at the gate then sees the closed descriptor and ends
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
