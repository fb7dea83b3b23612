#pragma once

#include "daemon/utilities/json.h"

namespace qd {

// Makes a tool result safe for the reply line: objects and arrays recursively, numbers
// that are not finite become their text ("nan", "inf", "-inf"), binary values their
// Base64 text; strings, Booleans, finite numbers and null stay as they are. A result that
// is not an object fails with DaemonError internalNavigationError.
Json normalizeJSONPayload(const Json& result);
Json sanitizeJSONObject(const Json& value);

}  // namespace qd
