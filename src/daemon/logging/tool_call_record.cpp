#include "daemon/logging/tool_call_record.h"

#include "daemon/utilities/any_codable.h"
#include "daemon/utilities/log_redaction.h"
#include "daemon/utilities/tool_availability.h"
#include "daemon/utilities/unicode_text.h"
#include "daemon/utilities/unix_time.h"

namespace qd {

ToolCallRecord ToolCallRecord::make(std::chrono::system_clock::time_point now, const std::string& clientId,
                                    const std::optional<std::string>& agentName, const std::string& toolName,
                                    std::int64_t durationMs, bool success, const std::optional<std::string>& error,
                                    const Json& arguments) {
  ToolCallRecord record;
  record.timestamp = unixMilliseconds(now);
  record.clientId = clientId;
  record.agent = agentName.value_or(clientId);
  record.tool = toolName;
  record.category = ToolAvailability::appCategory(toolName);
  record.durationMs = durationMs;
  record.success = success;
  if (!success && error) record.error = unicode::truncatedToGraphemes(*error, maxErrorCharacters);
  Json redacted = LogRedaction::redact(arguments);
  record.arguments = redacted.is_object() ? std::move(redacted) : Json::object();
  return record;
}

Json ToolCallRecord::toJson() const {
  return Json{
      {"timestamp", timestamp},
      {"clientId", clientId},
      {"agent", agent},
      {"tool", tool},
      {"category", category},
      {"durationMs", durationMs},
      {"success", success},
      {"error", error ? Json(*error) : Json(nullptr)},
      {"arguments", arguments},
  };
}

std::optional<std::string> ToolCallRecord::line() const {
  try {
    ensureEncodable(arguments);
    return dumpJson(toJson());
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace qd
