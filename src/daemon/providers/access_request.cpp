#include "daemon/providers/access_request.h"

#include <memory>

#include <asio/post.hpp>
#include <asio/this_coro.hpp>

#include "daemon/runtime/one_shot.h"

namespace qd {

asio::awaitable<platform::AccessAnswer> awaitAccessAnswer(std::function<void(platform::AccessCompletion)> ask) {
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  auto answer = std::make_shared<OneShot<platform::AccessAnswer>>(executor);
  ask([executor, answer](platform::AccessAnswer value) {
    // The handle lives on the io thread: settle it there.
    asio::post(executor, [answer, value = std::move(value)]() mutable { answer->resume(std::move(value)); });
  });
  co_return co_await answer->wait();
}

}  // namespace qd
