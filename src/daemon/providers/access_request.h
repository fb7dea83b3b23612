#pragma once

// Awaiting a platform store's access request, whose answer may arrive on any thread.

#include <functional>

#include <asio/awaitable.hpp>

#include "daemon/core/provider_error.h"
#include "platform/calendar_store.h"

namespace qd {

// Calls `ask` with a completion and suspends until the completion runs; the answer is
// brought back to the caller's executor before the caller resumes.
asio::awaitable<platform::AccessAnswer> awaitAccessAnswer(std::function<void(platform::AccessCompletion)> ask);

// A store's error as the provider error users see (its message as the description).
inline ProviderError providerError(const platform::StoreError& error) {
  return ProviderError(error.domain, error.code, error.message);
}

}  // namespace qd
