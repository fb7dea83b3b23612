#pragma once

#include <memory>
#include <string>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/cancellation_signal.hpp>

namespace qd {

// A started task that its owner can cancel: cancel() emits terminal cancellation into the
// task, so the operation it awaits ends with operation_aborted and every later co_await in
// it throws. The task itself may hold its own handle (to ask cancelRequested()); the
// signal lives as long as the task does. On the io thread only.
class CancellableTask : public std::enable_shared_from_this<CancellableTask> {
 public:
  static std::shared_ptr<CancellableTask> make() { return std::make_shared<CancellableTask>(); }

  // Starts `task`; a failure is logged (component, "Task failed"). Call once.
  void start(const asio::any_io_executor& executor, asio::awaitable<void> task, std::string component,
             std::string name);
  // Does nothing once the task has ended or was cancelled already.
  void cancel();

  bool cancelRequested() const { return cancelRequested_; }
  bool finished() const { return finished_; }

 private:
  asio::cancellation_signal signal_;
  bool cancelRequested_ = false;
  bool finished_ = false;
};

}  // namespace qd
