// bench-deps: qd_queue
//
// Requests per second through the request queue for trivial operations, beside the same
// operations awaited directly (the floor), as a ratio. All reads and all writes, with 1 and
// 64 concurrent callers, with and without a per-request time-out.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "daemon/queue/request_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

asio::awaitable<int> trivialOperation() { co_return 1; }

asio::awaitable<void> directCaller(int requests, long* sum) {
  for (int i = 0; i < requests; ++i) *sum += co_await trivialOperation();
}

asio::awaitable<void> queuedCaller(std::shared_ptr<qd::RequestQueue> queue, bool readOnly,
                                   std::optional<std::int64_t> timeoutMs, int requests, long* sum) {
  std::function<asio::awaitable<int>()> op = trivialOperation;
  for (int i = 0; i < requests; ++i) *sum += co_await queue->enqueue<int>(readOnly, timeoutMs, op);
}

double run(int callers, int perCaller, const std::function<asio::awaitable<void>(long*)>& makeCaller) {
  asio::io_context io(1);
  long sum = 0;
  for (int c = 0; c < callers; ++c) asio::co_spawn(io, makeCaller(&sum), asio::detached);
  const auto start = Clock::now();
  io.run();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (sum != static_cast<long>(callers) * perCaller) std::fprintf(stderr, "lost requests: %ld\n", sum);
  return callers * perCaller / seconds;
}

}  // namespace

int main() {
  constexpr int total = 200000;
  std::printf("%-8s %-7s %-10s %14s %14s %8s\n", "callers", "class", "time-out", "queued req/s", "direct req/s",
              "ratio");
  for (int callers : {1, 64}) {
    const int perCaller = total / callers;
    const double direct = run(callers, perCaller, [perCaller](long* sum) { return directCaller(perCaller, sum); });
    for (bool readOnly : {true, false}) {
      for (std::optional<std::int64_t> timeout : {std::optional<std::int64_t>(0), std::optional<std::int64_t>(60000)}) {
        double queued = 0;
        {
          asio::io_context io(1);
          auto queue = qd::RequestQueue::create(io.get_executor(), 100000, 60000);
          long sum = 0;
          for (int c = 0; c < callers; ++c) {
            asio::co_spawn(io, queuedCaller(queue, readOnly, timeout, perCaller, &sum), asio::detached);
          }
          const auto start = Clock::now();
          io.run();
          queued = callers * perCaller / std::chrono::duration<double>(Clock::now() - start).count();
        }
        std::printf("%-8d %-7s %-10s %14.0f %14.0f %8.1f\n", callers, readOnly ? "read" : "write",
                    *timeout ? "60000 ms" : "none", queued, direct, direct / queued);
      }
    }
  }
}
