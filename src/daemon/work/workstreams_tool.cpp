#include "daemon/work/workstreams_tool.h"

#include <optional>

#include "daemon/core/daemon_error.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/unix_time.h"
#include "daemon/work/agent_log_note.h"
#include "daemon/work/record_mirror.h"
#include "daemon/work/reply_rendering.h"
#include "daemon/work/tool_arguments.h"
#include "daemon/work/work_tracker.h"

namespace qd {
namespace {

constexpr const char* kWorkstreamsAgent = "workstreams";

std::string metadataText(const StringMap& metadata) { return prettyJsonText(stringMapToJson(metadata)); }

asio::awaitable<void> writeWorkstreamLog(CoordinationContext& context, std::string title, std::string text) {
  std::string agent = kWorkstreamsAgent;
  co_await writeAgentLogNote(context, std::move(agent), std::move(title), std::move(text));
}

// Update and complete: the change, the mirror of the record as the change left it (read
// in the same turn; none for an unknown id) and the agent-log note.
struct WorkstreamChange {
  std::string id;
  std::string status;
  StringMap metadata;
  std::string logTitle;
  std::string logText;
};

asio::awaitable<void> applyChange(CoordinationContext& context, WorkstreamChange change) {
  context.workTracker.updateWorkstream(change.id, change.status, change.metadata);
  if (std::optional<TrackedWorkstream> record = context.workTracker.workstream(change.id)) {
    co_await persistWorkstreamNote(context, std::move(*record));
  }
  co_await writeWorkstreamLog(context, std::move(change.logTitle), std::move(change.logText));
}

}  // namespace

asio::awaitable<Json> handleWorkstreamsStart(CoordinationContext& context, Json arguments) {
  const std::string id = requiredStringArgument(arguments, "id");
  const std::string name = stringArgument(arguments, "name").value_or(id);
  const StringMap metadata = allStringsObjectArgument(arguments, "metadata");
  context.workTracker.startWorkstream(id, name, metadata);
  TrackedWorkstream record{id, name, "started", unixMilliseconds(context.clock.wallNow()), metadata};
  co_await persistWorkstreamNote(context, std::move(record));
  // Named first: g++ 12 destroys twice a temporary passed by value to an awaited coroutine.
  std::string title = "Workstream Started - " + id;
  std::string text = "Name: " + name + "\nStatus: started\nMetadata: " + metadataText(metadata);
  co_await writeWorkstreamLog(context, std::move(title), std::move(text));
  Logger::info("Workstream", "Started", Json{{"id", id}, {"name", name}});
  co_return textReply("Workstream started: " + id);
}

asio::awaitable<Json> handleWorkstreamsUpdate(CoordinationContext& context, Json arguments) {
  const std::string id = requiredStringArgument(arguments, "id");
  const std::string status = stringArgument(arguments, "status").value_or("in_progress");
  const StringMap metadata = allStringsObjectArgument(arguments, "metadata");
  // The note shows the call's status and metadata, not the merged record.
  WorkstreamChange change{id, status, metadata, "Workstream Updated - " + id,
                          "Status: " + status + "\nMetadata: " + metadataText(metadata)};
  co_await applyChange(context, std::move(change));
  Logger::info("Workstream", "Updated", Json{{"id", id}, {"status", status}});
  co_return textReply("Workstream updated: " + id);
}

// Any "status" argument is ignored.
asio::awaitable<Json> handleWorkstreamsComplete(CoordinationContext& context, Json arguments) {
  const std::string id = requiredStringArgument(arguments, "id");
  const StringMap metadata = allStringsObjectArgument(arguments, "metadata");
  WorkstreamChange change{id, "completed", metadata, "Workstream Completed - " + id,
                          "Status: completed\nMetadata: " + metadataText(metadata)};
  co_await applyChange(context, std::move(change));
  Logger::info("Workstream", "Completed", Json{{"id", id}});
  co_return textReply("Workstream completed: " + id);
}

Json handleWorkstreamsList(CoordinationContext& context) {
  Json out = Json::array();
  for (const TrackedWorkstream& w : context.workTracker.listWorkstreams()) {
    out.push_back(Json{{"id", w.id},
                       {"name", w.name},
                       {"status", w.status},
                       {"updatedAt", w.updatedAt},
                       {"metadata", stringMapToJson(w.metadata)}});
  }
  return textReply(prettyJsonText(out));
}

asio::awaitable<Json> handleWorkstreamsUnifiedTool(CoordinationContext& context, Json arguments) {
  const std::optional<std::string> operation = stringArgument(arguments, "operation");
  if (!operation) throw DaemonError::missingParameter("operation");
  if (*operation == "start") co_return co_await handleWorkstreamsStart(context, std::move(arguments));
  if (*operation == "update") co_return co_await handleWorkstreamsUpdate(context, std::move(arguments));
  if (*operation == "complete") co_return co_await handleWorkstreamsComplete(context, std::move(arguments));
  if (*operation == "list") co_return handleWorkstreamsList(context);
  throw DaemonError::invalidParameter("Unknown workstreams operation: " + *operation);
}

}  // namespace qd
