#include "daemon/mcp/line_io.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "daemon/mcp/line_splitter.h"
#include "daemon/runtime/process_signals.h"
#include "daemon/utilities/descriptor_io.h"

namespace qd {

ReadGate::ReadGate(const asio::any_io_executor& executor)
    : opened_(executor, asio::steady_timer::time_point::max()) {}

void ReadGate::pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
}

void ReadGate::resume() {
  {
    std::lock_guard lock(mutex_);
    paused_ = false;
  }
  changed_.notify_all();
  opened_.cancel();
}

bool ReadGate::isPaused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

asio::awaitable<void> ReadGate::waitUntilOpen() {
  // Only resume() cancels the timer's waits, and it runs on this thread, so it cannot
  // slip in between the test and the wait.
  while (isPaused()) {
    std::error_code ignored;
    co_await opened_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  }
}

void ReadGate::waitUntilOpenOrStopping(const std::atomic<bool>& stopping) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !paused_ || stopping.load(); });
}

void ReadGate::wakeThreads() {
  { std::lock_guard lock(mutex_); }  // a waiter is either before its test or asleep
  changed_.notify_all();
}

namespace {

// Splits one chunk and hands out what it completed: its lines, then the lines it ended
// that were over the limit.
void deliver(LineSplitter& splitter, std::string_view chunk, const MessageHandler& onMessage,
             const OversizedLineHandler& onOversized) {
  for (auto& line : splitter.append(chunk)) onMessage(std::move(line));
  for (auto& dropped : splitter.takeOversized()) {
    if (onOversized) onOversized(std::move(dropped));
  }
}

}  // namespace

asio::awaitable<void> readLines(std::shared_ptr<asio::posix::stream_descriptor> stream, MessageHandler onMessage,
                                std::shared_ptr<ReadGate> gate, LineLimit limit) {
  LineSplitter splitter(limit.maxBytes);
  auto buffer = std::make_unique<std::array<char, 65536>>();
  while (stream->is_open()) {
    if (gate) {
      co_await gate->waitUntilOpen();
      if (!stream->is_open()) break;
    }
    std::error_code ec;
    const std::size_t n =
        co_await stream->async_read_some(asio::buffer(*buffer), asio::redirect_error(asio::use_awaitable, ec));
    if (n > 0) deliver(splitter, std::string_view(buffer->data(), n), onMessage, limit.onOversized);
    if (ec) break;  // end of input, a read error, or the descriptor was closed
  }
}

struct ThreadLineReader::Shared {
  asio::any_io_executor executor;
  MessageHandler onMessage;
  std::shared_ptr<ReadGate> gate;
  std::function<void()> onEnd;
  OversizedLineHandler onOversized;
  LineSplitter splitter;  // touched on the io thread only
  std::atomic<bool> stopping{false};
};

ThreadLineReader::ThreadLineReader(asio::any_io_executor executor, UniqueFd fd, MessageHandler onMessage,
                                   std::shared_ptr<ReadGate> gate, std::function<void()> onEnd, LineLimit limit)
    : shared_(std::make_shared<Shared>()) {
  shared_->executor = std::move(executor);
  shared_->onMessage = std::move(onMessage);
  shared_->gate = std::move(gate);
  shared_->onEnd = std::move(onEnd);
  shared_->onOversized = std::move(limit.onOversized);
  shared_->splitter = LineSplitter(limit.maxBytes);
  thread_ = std::thread([shared = shared_, fd = std::move(fd)]() mutable {
    std::array<char, 65536> buffer;
    while (!shared->stopping.load()) {
      if (shared->gate) {
        shared->gate->waitUntilOpenOrStopping(shared->stopping);
        if (shared->stopping.load()) break;
      }
      const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      asio::post(shared->executor, [shared, chunk = std::string(buffer.data(), static_cast<std::size_t>(n))] {
        deliver(shared->splitter, chunk, shared->onMessage, shared->onOversized);
      });
    }
    fd.reset();  // closed by the thread that reads it, after its last read
    // Posted after the last chunk, so it comes after the last line.
    if (!shared->stopping.load() && shared->onEnd) {
      asio::post(shared->executor, [shared] {
        if (!shared->stopping.load()) shared->onEnd();
      });
    }
  });
}

ThreadLineReader::~ThreadLineReader() { stop(); }

void ThreadLineReader::stop() {
  shared_->stopping.store(true);
  if (shared_->gate) shared_->gate->wakeThreads();
  if (thread_.joinable()) thread_.join();
}

LineWriter::LineWriter(asio::any_io_executor executor, std::shared_ptr<asio::posix::stream_descriptor> stream)
    : stream_(std::move(stream)), mutex_(std::move(executor)) {
  ignoreSigpipe();
}

LineWriter::LineWriter(asio::any_io_executor executor, UniqueFd plainFd)
    : plainFd_(std::move(plainFd)), mutex_(std::move(executor)) {
  ignoreSigpipe();
}

asio::awaitable<void> LineWriter::writeLine(std::string message) {
  message.push_back('\n');
  auto turn = co_await mutex_.lock();
  if (stream_ && stream_->is_open()) {
    co_await asio::async_write(*stream_, asio::buffer(message), asio::use_awaitable);
    co_return;
  }
  if (!plainFd_) throw std::system_error(asio::error::bad_descriptor);
  if (!writeAllToDescriptor(plainFd_.get(), message)) throw std::system_error(errno, std::system_category());
}

TransportError writeError(const std::error_code& code) {
  if (code == asio::error::bad_descriptor || code == asio::error::operation_aborted) {
    return TransportError::connectionClosed();
  }
  return TransportError::writeFailed(code.message());
}

asio::awaitable<void> sendLine(std::shared_ptr<LineWriter> writer, std::string message) {
  try {
    co_await writer->writeLine(std::move(message));
  } catch (const std::system_error& e) {
    throw writeError(e.code());
  }
}

void LineWriter::close() {
  if (stream_) {
    std::error_code ignored;
    stream_->close(ignored);
  }
  plainFd_.reset();
}

std::shared_ptr<asio::posix::stream_descriptor> tryReactorDescriptor(const asio::any_io_executor& executor,
                                                                     UniqueFd& fd) {
  auto stream = std::make_shared<asio::posix::stream_descriptor>(executor);
  std::error_code ec;
  stream->assign(fd.get(), ec);
  if (ec) return nullptr;
  fd.release();
  return stream;
}

}  // namespace qd
