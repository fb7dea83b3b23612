#include "daemon/providers/messages_provider.h"

#include <algorithm>
#include <cmath>

#include "daemon/core/provider_error.h"
#include "daemon/providers/apple_script.h"
#include "daemon/providers/messages_database.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"
#include "daemon/runtime/process_runner.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

using AppleScriptHelpers::escape;
using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "send", "read", "unread", "schedule"};
  return names;
}

constexpr const char* kHelp =
    "# Apple Messages Operations\n"
    "\n"
    "## Read Operations\n"
    "- `unread` — List unread incoming messages (params: limit)\n"
    "- `read` — Read the conversation with a phone number, newest first (params: phoneNumber, limit)\n"
    "\n"
    "## Write Operations\n"
    "- `send` — Send a text message (params: phoneNumber, message)\n"
    "- `schedule` — Schedule a message (not supported by Messages.app)\n"
    "\n"
    "## Parameters\n"
    "- `phoneNumber` (string, required for send/read) — Recipient or conversation phone number\n"
    "- `message` (string, required for send) — Message text\n"
    "- `limit` (number, optional) — Maximum messages to return (default: 10)";

constexpr const char* kScheduleReply =
    R"({"success":false,"error":"Message scheduling is not supported by Messages.app. Consider using shortcuts.app or a third-party scheduling tool."})";

}  // namespace

std::vector<MCPTool> MessagesToolProvider::tools() const {
  MCPTool tool;
  tool.name = "messages";
  tool.description = "Send/read/check unread Apple Messages.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {{"type", "string"}, {"enum", operations()}};
  properties["phoneNumber"] = {{"type", "string"}};
  properties["message"] = {{"type", "string"}};
  properties["limit"] = {{"type", "number"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap MessagesToolProvider::availableOperations() const { return {{"messages", operations()}}; }

asio::awaitable<std::optional<Json>> MessagesToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "messages") co_return std::nullopt;
  std::string operation = stringArgument(arguments, "operation").value_or("unread");
  co_return co_await dispatch(std::move(operation), std::move(arguments));
}

platform::Environment MessagesToolProvider::environment() const {
  return environment_ ? *environment_ : platform::Environment::current();
}

void MessagesToolProvider::ensureMessagesDatabaseAccess() const {
  const AccessCheckResult check = PermissionGuidance::checkMessagesDatabaseAccess(environment());
  if (!check.granted) throw ProviderError("PermissionGuidance", 2, check.message);
}

asio::awaitable<Json> MessagesToolProvider::readRecords(std::string query) {
  std::filesystem::path path = MessagesDatabase::databasePath(platform::homeDirectory(environment()));
  // The database lane has no other user: queries run one at a time, never beside a send's
  // lane "messages".
  std::string lane = "messages-db";
  AsyncMutex::Guard guard = co_await ProcessRunner::lockLane(std::move(lane));
  auto work = [path = std::move(path), query = std::move(query)] {
    return MessagesDatabase::queryMessagesDatabase(path, query);
  };
  co_return co_await runBlocking(pool_, std::move(work));
}

asio::awaitable<Json> MessagesToolProvider::dispatch(std::string operation, Json arguments) {
  if (operation == "help") co_return textResult(kHelp);
  const auto known = operations();
  if (std::find(known.begin(), known.end(), operation) == known.end()) {
    co_return textResult("Unsupported messages operation: " + operation);
  }
  std::string target = "Messages";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));

  if (operation == "send") co_return co_await handleSend(std::move(arguments));
  if (operation == "schedule") co_return textResult(kScheduleReply);

  ensureMessagesDatabaseAccess();
  // Truncated toward zero; the reader holds it to 0...50.
  const std::int64_t limit = truncatedNumberArgument(arguments, "limit").value_or(10);
  std::string query;
  if (operation == "read") {
    const auto phoneNumber = stringArgument(arguments, "phoneNumber");
    if (!phoneNumber || phoneNumber->empty()) co_return textResult("Missing phoneNumber");
    query = MessagesDatabase::conversationQuery(*phoneNumber, limit);
  } else {
    query = MessagesDatabase::unreadQuery(limit);
  }
  const Json records = co_await readRecords(std::move(query));
  co_return textResult(MessagesDatabase::formatMessagesJSON(records));
}

asio::awaitable<Json> MessagesToolProvider::handleSend(Json arguments) {
  const auto phoneNumber = stringArgument(arguments, "phoneNumber");
  const auto message = stringArgument(arguments, "message");
  if (!phoneNumber || !message) co_return textResult("Missing phoneNumber or message");
  const std::vector<std::string> lines{
      "tell application \"Messages\"",
      "set targetService to 1st service whose service type = SMS",
      "set targetBuddy to buddy \"" + escape(*phoneNumber) + "\" of targetService",
      "send \"" + escape(*message) + "\" to targetBuddy",
      "return \"sent\"",
      "end tell",
  };
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "messages", 15.0, "MessagesToolProvider", "AppleScript failed");
  co_return textResult(co_await runner().run(std::move(run)));
}

}  // namespace qd
