#pragma once

#include <exception>
#include <optional>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace qd {

// Runs a mode's coroutine on an io_context of its own, on the calling thread, until the
// coroutine has finished; returns its value or rethrows its failure. Work still left on the
// context then (a write to a peer that stopped reading) is dropped with the context, so it
// cannot hold the process.
template <class T>
T runToEnd(asio::awaitable<T> task) {
  asio::io_context io;
  std::optional<T> value;
  std::exception_ptr failure;
  bool done = false;
  asio::co_spawn(io, std::move(task), [&](std::exception_ptr error, T result) {
    failure = error;
    if (!error) value.emplace(std::move(result));
    done = true;
  });
  while (!done && io.run_one() > 0) {
  }
  if (failure) std::rethrow_exception(failure);
  return std::move(*value);
}

}  // namespace qd
