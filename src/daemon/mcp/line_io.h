#pragma once

// The reading loop and the writer shared by the three transports.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/mcp/line_splitter.h"
#include "daemon/mcp/mcp_transport.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/unique_fd.h"

namespace qd {

// Flow control of a reader: while paused, the reader does not start another read, so the
// peer's writes back up in the kernel instead of our memory. pause() and resume() are
// called on the io thread; a reading thread may wait on it too.
class ReadGate {
 public:
  explicit ReadGate(const asio::any_io_executor& executor);
  void pause();
  void resume();
  bool isPaused() const;
  // Returns once the gate is open (at once when it is).
  asio::awaitable<void> waitUntilOpen();
  // For a reading thread: blocks while the gate is paused and `stopping` is false.
  void waitUntilOpenOrStopping(const std::atomic<bool>& stopping);
  // Wakes a blocked reading thread so it can see `stopping`.
  void wakeThreads();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool paused_ = false;
  asio::steady_timer opened_;  // never expires; resume() cancels its waits
};

// The longest line a reader keeps, and who hears of a longer one (which it drops as it
// comes, so its memory stays near the limit). The default keeps lines of any length.
struct LineLimit {
  std::size_t maxBytes = LineSplitter::unlimited;
  OversizedLineHandler onOversized;
};

// Reads the descriptor until end of input, a read error or close(), and hands every
// complete line to `onMessage`. Closing the descriptor ends a blocked read at once, and the
// loop never reads a descriptor after it was closed: it checks before every read, and a
// closed asio descriptor forgets its number. Lines of a chunk read before the close are
// still delivered. A read error ends the loop like the end of input. With a gate, each
// read waits until the gate is open; whoever closes the descriptor opens the gate too.
// A line over the limit goes to the limit's handler, after the lines of the same read.
asio::awaitable<void> readLines(std::shared_ptr<asio::posix::stream_descriptor> stream, MessageHandler onMessage,
                                std::shared_ptr<ReadGate> gate = nullptr, LineLimit limit = {});

// A reader of a descriptor that epoll refuses (a regular file or /dev/null given as
// standard input): a thread reads it, which never blocks for long on such files, and posts
// each chunk to the io thread, where the lines are split and delivered in order. With a
// gate, the thread does not read while it is paused. `onEnd`, when given, is called on the
// io thread after the last line once the input has ended by itself (not after stop()).
// Lines over the limit are dropped and reported as readLines() does.
class ThreadLineReader {
 public:
  ThreadLineReader(asio::any_io_executor executor, UniqueFd fd, MessageHandler onMessage,
                   std::shared_ptr<ReadGate> gate = nullptr, std::function<void()> onEnd = nullptr,
                   LineLimit limit = {});
  ~ThreadLineReader();  // stop()
  // Asks the thread to end after its current read and waits for it.
  void stop();

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// Serialised writes of framed lines to one descriptor: one write at a time, in call order,
// each whole before the next begins.
class LineWriter {
 public:
  // `stream` may be shared with a reader of the same descriptor (a socket).
  LineWriter(asio::any_io_executor executor, std::shared_ptr<asio::posix::stream_descriptor> stream);
  // A descriptor epoll refuses (standard output redirected to a regular file): written
  // with plain blocking writes, which do not wait on a peer.
  LineWriter(asio::any_io_executor executor, UniqueFd plainFd);

  // Writes message + "\n". Throws std::system_error on a write error, and
  // asio::error::bad_descriptor once closed.
  asio::awaitable<void> writeLine(std::string message);
  void close();

 private:
  std::shared_ptr<asio::posix::stream_descriptor> stream_;
  UniqueFd plainFd_;
  AsyncMutex mutex_;
};

// A client transport's send: writes the line and reports failures as TransportError (see
// writeError). The writer is held for the whole write, so a close() during it cannot free it.
asio::awaitable<void> sendLine(std::shared_ptr<LineWriter> writer, std::string message);

// What a LineWriter's failed write means to a transport's user: connectionClosed when the
// writer was closed meanwhile, writeFailed with the system's text otherwise.
TransportError writeError(const std::error_code& code);

// Opens a descriptor for the reactor. Returns nullptr when epoll refuses it (EPERM for
// regular files); the fd is then still owned by `fd`.
std::shared_ptr<asio::posix::stream_descriptor> tryReactorDescriptor(const asio::any_io_executor& executor,
                                                                     UniqueFd& fd);

}  // namespace qd
