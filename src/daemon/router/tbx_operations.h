#pragma once

// The operations the grouped note-app tools publish, sorted ascending, read from the
// note-app tool provider's sets for the daemon's grouped-tool entry.

#include <string>
#include <string_view>
#include <vector>

namespace qd::tbx {

// "tbx_nav", "tbx_doc" or "tbx_export"; any other name has none.
std::vector<std::string> endpointOperations(std::string_view toolName);
// "restart_tinderbox", "open_tinderbox", "quit_tinderbox": the runtime control's.
bool isAppOperation(std::string_view operation);

}  // namespace qd::tbx
