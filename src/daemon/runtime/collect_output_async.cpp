#include "daemon/runtime/collect_output_async.h"

#include <algorithm>
#include <csignal>
#include <system_error>

#include <asio/buffer.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/runtime/child_exit.h"

namespace qd {
namespace {

using namespace asio::experimental::awaitable_operators;

// One of the child's output pipes and what was kept of it.
struct PipeReader {
  std::shared_ptr<asio::posix::stream_descriptor> stream;  // null when the stream is not piped
  std::string kept;
  std::size_t limit = 0;
  bool cut = false;
  bool ended = false;     // end of file or a read error: nothing more will come
  bool stopping = false;  // the child has ended: read no further than what is buffered

  void take(const char* data, std::size_t size) {
    const std::size_t room = limit - std::min(limit, kept.size());
    if (size > room) cut = true;
    kept.append(data, std::min(size, room));
  }
};

std::shared_ptr<PipeReader> makeReader(const asio::any_io_executor& executor, UniqueFd fd, std::size_t limit) {
  auto reader = std::make_shared<PipeReader>();
  reader->limit = limit;
  if (fd) reader->stream = std::make_shared<asio::posix::stream_descriptor>(executor, fd.release());
  return reader;
}

asio::awaitable<void> readWhileRunning(std::shared_ptr<PipeReader> reader) {
  if (!reader->stream) co_return;
  std::string buffer(65536, '\0');
  while (!reader->stopping) {
    std::error_code error;
    const std::size_t n =
        co_await reader->stream->async_read_some(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, error));
    reader->take(buffer.data(), n);
    if (error) {
      if (error != asio::error::operation_aborted) reader->ended = true;
      co_return;
    }
  }
}

// Takes what the pipe holds now, without waiting for more.
void drainBuffered(PipeReader& reader) {
  if (!reader.stream || reader.ended) return;
  std::error_code error;
  reader.stream->non_blocking(true, error);
  if (error) return;
  char buffer[65536];
  for (;;) {
    const std::size_t n = reader.stream->read_some(asio::buffer(buffer), error);
    reader.take(buffer, n);
    if (error) return;  // would_block: the rest belongs to whoever still holds the pipe; eof: done
  }
}

void stopReading(PipeReader& reader) {
  reader.stopping = true;
  std::error_code ignored;
  if (reader.stream) reader.stream->cancel(ignored);
}

// SIGTERM to the group, up to `grace` for the child to end, then SIGKILL to the group
// whether the child ended or not: members that ignored SIGTERM, or were forked while it was
// sent, must not outlive the stop. The child is not reaped before the SIGKILL, so the
// group id is still ours. Reaps the child, unless it survives SIGKILL for 5 s (its owner's
// destructor reaps it then).
asio::awaitable<ExitStatus> stopGroup(ChildProcess& child, std::chrono::steady_clock::duration grace) {
  if (!child.hasExited()) {
    child.signalGroup(SIGTERM);
    asio::awaitable<bool> ended = waitForExitAsync(child, grace);
    co_await std::move(ended);
  }
  child.signalGroup(SIGKILL);
  asio::awaitable<bool> killed = waitForExitAsync(child, std::chrono::seconds(5));
  if (!co_await std::move(killed)) co_return ExitStatus{true, SIGKILL};
  co_return child.reap();
}

// Waits for the child to end, stops its group on time-out or stop request, reaps it, and
// then ends both readers.
asio::awaitable<void> awaitEnd(ChildProcess& child, AsyncCollectOptions options, std::shared_ptr<StopRequest> stop,
                               AsyncCollectedOutput& out, std::shared_ptr<PipeReader> standardOutput,
                               std::shared_ptr<PipeReader> standardError) {
  bool ended = false;
  bool stopRequested = false;
  if (stop) {
    asio::awaitable<bool> exit = waitForExitAsync(child, options.timeout);
    asio::awaitable<std::monostate> stopped = stop->wait();
    auto first = co_await (std::move(exit) || std::move(stopped));
    if (first.index() == 0) {
      ended = std::get<0>(first);
    } else {
      stopRequested = true;
    }
  } else {
    asio::awaitable<bool> exit = waitForExitAsync(child, options.timeout);
    ended = co_await std::move(exit);
  }
  if (ended) {
    // Until the child is reaped its pid still names the group, so the kill reaches only
    // processes it started.
    if (options.killGroupAtExit) child.signalGroup(SIGKILL);
    out.status = child.reap();
  } else {
    out.end = stopRequested ? AsyncCollectedOutput::End::stopped : AsyncCollectedOutput::End::timedOut;
    asio::awaitable<ExitStatus> stopping = stopGroup(child, options.grace);
    out.status = co_await std::move(stopping);
  }
  stopReading(*standardOutput);
  stopReading(*standardError);
}

}  // namespace

asio::awaitable<AsyncCollectedOutput> collectUntilExitAsync(ChildProcess& child, AsyncCollectOptions options,
                                                            std::shared_ptr<StopRequest> stop) {
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  AsyncCollectedOutput out;
  auto standardOutput = makeReader(executor, child.takeStdout(), options.maxStandardOutput);
  auto standardError = makeReader(executor, child.takeStderr(), options.maxStandardError);

  // Started as named awaitables: g++ 12 destroys twice the temporaries of a co_await expression.
  asio::awaitable<void> readOutput = readWhileRunning(standardOutput);
  asio::awaitable<void> readError = readWhileRunning(standardError);
  asio::awaitable<void> end = awaitEnd(child, options, std::move(stop), out, standardOutput, standardError);
  co_await (std::move(readOutput) && std::move(readError) && std::move(end));

  drainBuffered(*standardOutput);
  drainBuffered(*standardError);
  out.standardOutput = std::move(standardOutput->kept);
  out.standardError = std::move(standardError->kept);
  out.standardOutputCut = standardOutput->cut;
  out.standardErrorCut = standardError->cut;
  co_return out;
}

}  // namespace qd
