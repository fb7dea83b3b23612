#pragma once

// Runs a coroutine to its end on an io_context driven by the test thread.

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace qd::test {

// Drives `io` until `task` has finished, then returns its value or rethrows its exception.
// Other work on the context (tasks the test started) runs meanwhile and may be left over.
// A task still running after `limit` fails the test instead of hanging it.
template <class T>
T runAwaitable(asio::io_context& io, asio::awaitable<T> task, std::chrono::seconds limit = std::chrono::seconds(120)) {
  using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
  std::optional<Stored> value;
  std::exception_ptr error;
  bool done = false;
  if constexpr (std::is_void_v<T>) {
    asio::co_spawn(io, std::move(task), [&](std::exception_ptr e) {
      error = e;
      done = true;
    });
  } else {
    asio::co_spawn(io, std::move(task), [&](std::exception_ptr e, T v) {
      error = e;
      if (!e) value.emplace(std::move(v));
      done = true;
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  io.restart();
  while (!done && std::chrono::steady_clock::now() < deadline) {
    io.run_one_for(std::chrono::milliseconds(200));
    if (io.stopped()) io.restart();
  }
  if (!done) throw std::runtime_error("test coroutine did not finish in time");
  if (error) std::rethrow_exception(error);
  if constexpr (!std::is_void_v<T>) return std::move(*value);
}

}  // namespace qd::test
