// The tool-call log line of a finished call (tool-calls.log).

#include "daemon/logging/tool_call_record.h"
#include "daemon/router/router.h"

namespace qd {

void TinderboxDaemon::logToolCall(const ToolCallLogContext& context) {
  const ToolSettings& settings = toolSettingsStore_.currentRef();
  if (!settings.enableToolCallLogging || !settings.logToolCallsToFile) return;
  const ToolCallRecord record =
      ToolCallRecord::make(std::chrono::system_clock::now(), context.clientId,
                           notificationQueue_.getAgentName(context.clientId), context.toolName, context.durationMs,
                           context.success, context.error, context.arguments);
  // A record JSON cannot represent is dropped rather than written half.
  if (std::optional<std::string> line = record.line()) toolCallLogger_.append(*line);
}

}  // namespace qd
