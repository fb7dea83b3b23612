#pragma once

// Runs a coroutine to its end on an io_context driven by the test thread.

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace qd::test {

// A coroutine started on `io` by the test, whose end the test waits for later with
// finishAwaitable: a test can start a call, play the peer's part, then collect the result.
template <class T>
struct StartedAwaitable {
  using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
  std::optional<Stored> value;
  std::exception_ptr error;
  bool done = false;
};

template <class T>
std::shared_ptr<StartedAwaitable<T>> startAwaitable(asio::io_context& io, asio::awaitable<T> task) {
  auto started = std::make_shared<StartedAwaitable<T>>();
  if constexpr (std::is_void_v<T>) {
    asio::co_spawn(io, std::move(task), [started](std::exception_ptr e) {
      started->error = e;
      started->done = true;
    });
  } else {
    asio::co_spawn(io, std::move(task), [started](std::exception_ptr e, T v) {
      started->error = e;
      if (!e) started->value.emplace(std::move(v));
      started->done = true;
    });
  }
  return started;
}

// Drives `io` until `ready()` holds. Other work on the context runs meanwhile. Still false
// after `limit`: fails the test instead of hanging it.
template <class Predicate>
void runUntil(asio::io_context& io, Predicate ready, std::chrono::seconds limit = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  io.restart();
  while (!ready() && std::chrono::steady_clock::now() < deadline) {
    io.run_one_for(std::chrono::milliseconds(200));
    if (io.stopped()) io.restart();
  }
  if (!ready()) throw std::runtime_error("test condition did not come true in time");
}

// Drives `io` until the started task has finished, then returns its value or rethrows.
template <class T>
T finishAwaitable(asio::io_context& io, const std::shared_ptr<StartedAwaitable<T>>& started,
                  std::chrono::seconds limit = std::chrono::seconds(120)) {
  runUntil(io, [&] { return started->done; }, limit);
  if (started->error) std::rethrow_exception(started->error);
  if constexpr (!std::is_void_v<T>) return std::move(*started->value);
}

// Drives `io` until `task` has finished, then returns its value or rethrows its exception.
// Other work on the context (tasks the test started) runs meanwhile and may be left over.
// A task still running after `limit` fails the test instead of hanging it.
template <class T>
T runAwaitable(asio::io_context& io, asio::awaitable<T> task, std::chrono::seconds limit = std::chrono::seconds(120)) {
  return finishAwaitable(io, startAwaitable(io, std::move(task)), limit);
}

}  // namespace qd::test
