#include "daemon/router/tbx_operations.h"

#include "daemon/tinderbox/tinderbox_tool_provider.h"

namespace qd::tbx {

std::vector<std::string> endpointOperations(std::string_view toolName) {
  // The sets are ordered, so the lists come out sorted.
  const TinderboxToolProvider::OperationSet* set = nullptr;
  if (toolName == "tbx_nav") set = &TinderboxToolProvider::navOperations();
  if (toolName == "tbx_doc") set = &TinderboxToolProvider::docOperations();
  if (toolName == "tbx_export") set = &TinderboxToolProvider::exportOperations();
  if (!set) return {};
  return {set->begin(), set->end()};
}

bool isAppOperation(std::string_view operation) { return TinderboxToolProvider::appOperations().contains(operation); }

}  // namespace qd::tbx
