#include "daemon/runtime/io_thread.h"

#include "daemon/logging/logger.h"
#include "daemon/runtime/process_signals.h"

namespace qd {

IoThread::IoThread() : work_(asio::make_work_guard(io_)) {
  ignoreSigpipe();
  thread_ = std::thread([this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& e) {
        // A handler that throws must not take the actor thread down with it.
        Logger::error("IoThread", "Unhandled exception on the io thread", {{"error", e.what()}});
      }
    }
  });
}

IoThread::~IoThread() { stop(); }

void IoThread::stop() {
  work_.reset();
  io_.stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace qd
