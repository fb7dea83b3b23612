#pragma once

#include <thread>

#include <asio/any_io_executor.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace qd {

// The daemon's actor thread: one io_context run by one thread. Every actor keeps its state
// on this thread; nothing else may touch that state, so no mutex guards it. Work that blocks
// goes to a BlockingPool and is awaited with runBlocking.
class IoThread {
 public:
  IoThread();
  ~IoThread();  // stop()
  IoThread(const IoThread&) = delete;
  IoThread& operator=(const IoThread&) = delete;

  asio::io_context& context() { return io_; }
  asio::any_io_executor executor() { return io_.get_executor(); }
  bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // Stops the loop (handlers not yet run are dropped with the context) and joins the thread.
  // Owners close their services first. Idempotent; never from the io thread itself.
  void stop();

 private:
  asio::io_context io_{1};
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

}  // namespace qd
