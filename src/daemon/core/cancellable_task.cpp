#include "daemon/core/cancellable_task.h"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/co_spawn.hpp>

#include "daemon/runtime/coroutine_helpers.h"

namespace qd {

void CancellableTask::start(const asio::any_io_executor& executor, asio::awaitable<void> task, std::string component,
                            std::string name) {
  // The completion handler holds the handle, so the signal outlives the task's use of it.
  asio::co_spawn(executor, std::move(task),
                 asio::bind_cancellation_slot(
                     signal_.slot(), [self = shared_from_this(), log = LogTaskFailure{std::move(component),
                                                                                       std::move(name)}](
                                         const std::exception_ptr& error) {
                       self->finished_ = true;
                       // What a cancelled task throws on its way out is our own doing.
                       if (!self->cancelRequested_) log(error);
                     }));
}

void CancellableTask::cancel() {
  if (finished_ || cancelRequested_) return;
  cancelRequested_ = true;
  signal_.emit(asio::cancellation_type::terminal);
}

}  // namespace qd
