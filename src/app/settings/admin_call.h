#pragma once

// The settings models reach the daemon through one function of this shape: it sends one
// admin request and answers the reply's result object, or throws (DaemonAdminAPIError,
// JsonParseError, ...). It blocks its thread for at most the admin client's time-out, so
// the models only ever call it on a worker thread. Tests pass a scripted one.

#include <functional>
#include <optional>
#include <string>

#include "app/app_context.h"
#include "daemon/utilities/json.h"

namespace qd {

using AdminCall = std::function<Json(const std::string& method, const std::optional<Json>& params)>;

// The admin socket of the daemon the context's configuration names (as the health
// monitor computes it).
AdminCall adminCallFor(const AppContext& context);
// The admin socket of the process-wide configuration.
AdminCall defaultAdminCall();

}  // namespace qd
