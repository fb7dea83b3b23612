#include "daemon/providers/maps_provider.h"

#include <algorithm>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "search", "directions", "save",
                                              "pin",  "listGuides", "addToGuide", "createGuide"};
  return names;
}

constexpr const char* kHelp =
    "# Apple Maps Operations\n"
    "\n"
    "## Implemented Operations\n"
    "- `search` — Search for a place (params: query)\n"
    "- `directions` — Directions between two addresses (params: fromAddress, toAddress)\n"
    "\n"
    "## Planned Operations (Not Yet Implemented)\n"
    "- `save` — Save a location\n"
    "- `pin` — Drop a pin\n"
    "- `listGuides` — List guides\n"
    "- `addToGuide` — Add a location to a guide\n"
    "- `createGuide` — Create a guide\n"
    "\n"
    "## Parameters\n"
    "- `query` (string, required for search) — Place or address to search for\n"
    "- `fromAddress` (string, required for directions) — Starting address\n"
    "- `toAddress` (string, required for directions) — Destination address\n"
    "- `limit` (number, optional) — Maximum results to return";

}  // namespace

std::vector<MCPTool> MapsToolProvider::tools() const {
  MCPTool tool;
  tool.name = "maps";
  tool.description = "Search and basic directions with Apple Maps.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {{"type", "string"}, {"enum", operations()}};
  properties["query"] = {{"type", "string"}};
  properties["fromAddress"] = {{"type", "string"}};
  properties["toAddress"] = {{"type", "string"}};
  properties["limit"] = {{"type", "number"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap MapsToolProvider::availableOperations() const { return {{"maps", operations()}}; }

asio::awaitable<std::optional<Json>> MapsToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "maps") co_return std::nullopt;
  const std::string operation = stringArgument(arguments, "operation").value_or("search");
  if (operation == "help") co_return textResult(kHelp);
  const auto& known = operations();
  if (std::find(known.begin(), known.end(), operation) == known.end()) {
    co_return textResult("Unsupported maps operation: " + operation);
  }
  std::string target = "Maps";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));

  if (operation == "search") {
    const auto query = stringArgument(arguments, "query");
    if (!query || query->empty()) co_return textResult("Missing query");
    co_return textResult("Use Apple Maps app search for: " + *query);
  }
  if (operation == "directions") {
    const auto from = stringArgument(arguments, "fromAddress");
    const auto to = stringArgument(arguments, "toAddress");
    if (!from || !to) co_return textResult("Missing fromAddress or toAddress");
    co_return textResult("Directions requested from '" + *from + "' to '" + *to + "'.");
  }
  co_return textResult(R"({"success":false,"error":"maps operation ')" + operation +
                       R"(' is not yet fully implemented in provider"})");
}

}  // namespace qd
