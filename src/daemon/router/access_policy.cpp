#include "daemon/router/access_policy.h"

#include <array>

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/tool_availability.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr std::array<std::string_view, 7> kDocumentToolWrites = {
    "open_tinderbox_document", "save_tinderbox_document", "close_tinderbox_document", "delete_note",
    "restart_tinderbox",       "open_tinderbox",          "quit_tinderbox"};

// The operation as the dispatchers compare it (trimmed), lower-cased so that a letter case
// a provider may accept never hides a write fragment.
std::string operationOf(const Json& arguments) {
  if (!arguments.is_object()) return {};
  auto it = arguments.find("operation");
  if (it == arguments.end() || !it->is_string()) return {};
  return unicode::lowercased(trimWhitespaceAndNewlines(it->get_ref<const std::string&>()));
}

bool isWrite(const std::string& capability) { return capability == "write"; }

}  // namespace

std::string callCapability(const std::string& internalName, const Json& arguments) {
  const std::string own = ToolAvailability::capability(internalName, arguments);
  if (isWrite(own)) return own;
  const std::string operation = operationOf(arguments);
  if (operation.empty()) return own;
  if (internalName == "tbx_doc") {
    for (std::string_view write : kDocumentToolWrites) {
      if (operation == write) return "write";
    }
  }
  if (isWrite(ToolAvailability::capability(internalName + "_" + operation)) ||
      isWrite(ToolAvailability::capability(operation))) {
    return "write";
  }
  return own;
}

std::optional<std::string> deniedPermission(const ToolSettings& settings, const std::string& clientId,
                                            const std::optional<std::string>& agentName,
                                            const std::string& internalName, const Json& arguments) {
  const std::string category = ToolAvailability::appCategory(internalName);
  const bool needsWrite = isWrite(callCapability(internalName, arguments));
  const CategoryPolicy policy = settings.categoryPolicy(clientId, agentName, category);
  if (needsWrite ? policy.write : policy.read) return std::nullopt;
  return needsWrite ? "write" : "read";
}

bool isOfferedByPolicy(const MCPTool& tool, const ToolSettings& settings, const std::string& clientId,
                       const std::optional<std::string>& agentName) {
  static const Json noArguments = Json::object();
  if (!settings.isEnabled(tool.name) || !ToolAvailability::isAvailable(tool.name)) return false;
  return !deniedPermission(settings, clientId, agentName, tool.name, noArguments);
}

std::vector<MCPTool> filterToolsByPolicy(const std::vector<MCPTool>& tools, const ToolSettings& settings,
                                         const std::string& clientId, const std::optional<std::string>& agentName) {
  std::vector<MCPTool> kept;
  for (const MCPTool& tool : tools) {
    if (isOfferedByPolicy(tool, settings, clientId, agentName)) kept.push_back(tool);
  }
  return kept;
}

std::vector<ExternalToolBinding> bindingsAllowedByPolicy(std::vector<ExternalToolBinding> bindings,
                                                         const ToolSettings& settings, const std::string& clientId,
                                                         const std::optional<std::string>& agentName) {
  std::erase_if(bindings, [&](const ExternalToolBinding& binding) {
    Json arguments = Json::object();
    if (binding.forcedOperation) arguments["operation"] = *binding.forcedOperation;
    return deniedPermission(settings, clientId, agentName, binding.internalName, arguments).has_value();
  });
  return bindings;
}

}  // namespace qd
