#include "daemon/providers/reminders_provider.h"

#include <algorithm>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::escape;
using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "list", "search", "create", "open", "listById"};
  return names;
}

constexpr const char* kHelp =
    "# Reminders Operations\n"
    "\n"
    "## Read Operations\n"
    "- `list` — List all reminder names\n"
    "- `search` — Search reminders by name (params: searchText)\n"
    "- `open` — Open Reminders app and find matching reminders (params: searchText)\n"
    "- `listById` — List reminders in a specific list (params: listId)\n"
    "\n"
    "## Write Operations\n"
    "- `create` — Create a new reminder (params: name, notes, dueDate)\n"
    "\n"
    "## Parameters\n"
    "- `searchText` (string, required for search/open) — Text to match against reminder names\n"
    "- `name` (string, required for create) — Reminder name\n"
    "- `listName` (string, optional) — Target list name\n"
    "- `listId` (string, required for listById) — Reminder list identifier\n"
    "- `notes` (string, optional) — Reminder notes/body text\n"
    "- `dueDate` (string, optional) — Due date for the reminder\n"
    "- `props` (string array, optional) — Properties to return";

std::optional<std::string> nonEmptyString(const Json& arguments, std::string_view key) {
  auto value = stringArgument(arguments, key);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<MCPTool> RemindersToolProvider::tools() const {
  MCPTool tool;
  tool.name = "reminders";
  tool.description = "List/search/create/open Reminders.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  const auto available = availableOperations();
  const auto entry = available.find("reminders");
  properties["operation"] = {{"type", "string"},
                             {"enum", entry == available.end() ? std::vector<std::string>{} : entry->second}};
  for (const char* name : {"searchText", "name", "listName", "listId", "notes", "dueDate"}) {
    properties[name] = {{"type", "string"}};
  }
  properties["props"] = {{"type", "array"}, {"items", {{"type", "string"}}}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap RemindersToolProvider::availableOperations() const { return {{"reminders", operations()}}; }

asio::awaitable<std::optional<Json>> RemindersToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "reminders") co_return std::nullopt;
  std::string operation = stringArgument(arguments, "operation").value_or("list");
  co_return co_await dispatch(std::move(operation), std::move(arguments));
}

asio::awaitable<std::string> RemindersToolProvider::runAppleScript(std::vector<std::string> lines) {
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "reminders", 15.0, "RemindersToolProvider", "AppleScript failed");
  co_return co_await runner().run(std::move(run));
}

asio::awaitable<Json> RemindersToolProvider::dispatch(std::string operation, Json arguments) {
  if (operation == "help") co_return textResult(kHelp);
  const auto& known = operations();
  if (std::find(known.begin(), known.end(), operation) == known.end()) {
    co_return textResult("Unsupported reminders operation: " + operation);
  }
  std::string target = "Reminders";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));

  // Scripts are named before they are awaited: g++ 12 destroys a temporary passed by value
  // to an awaited coroutine twice.
  if (operation == "list") {
    // The names run together: the list is coerced to text with the default empty delimiter.
    std::vector<std::string> script{"tell application \"Reminders\"",
                                    "set outLines to {}",
                                    "repeat with r in reminders",
                                    "set end of outLines to (name of r as string)",
                                    "end repeat",
                                    "return outLines as string",
                                    "end tell"};
    co_return textResult(co_await runAppleScript(std::move(script)));
  }
  if (operation == "search") {
    const auto searchText = nonEmptyString(arguments, "searchText");
    if (!searchText) co_return textResult("Missing searchText");
    std::vector<std::string> script{"tell application \"Reminders\"",
                                    "set outLines to {}",
                                    "repeat with r in reminders",
                                    "if (name of r as string) contains \"" + escape(*searchText) + "\" then",
                                    "set end of outLines to (name of r as string)",
                                    "end if",
                                    "end repeat",
                                    "return outLines as string",
                                    "end tell"};
    co_return textResult(co_await runAppleScript(std::move(script)));
  }
  if (operation == "create") {
    const auto name = nonEmptyString(arguments, "name");
    if (!name) co_return textResult("Missing name");
    const std::string notes = stringArgument(arguments, "notes").value_or("");
    std::vector<std::string> script{
        "tell application \"Reminders\"",
        "make new reminder with properties {name:\"" + escape(*name) + "\", body:\"" + escape(notes) + "\"}",
        "return \"created\"", "end tell"};
    co_return textResult(co_await runAppleScript(std::move(script)));
  }
  if (operation == "open") {
    auto searchText = nonEmptyString(arguments, "searchText");
    if (!searchText) co_return textResult("Missing searchText");
    co_return co_await handleOpen(std::move(*searchText));
  }
  // listById
  if (!nonEmptyString(arguments, "listId")) co_return textResult("Missing listId");
  co_return textResult(
      "Reminders by list ID not implemented for performance reasons. Use 'list' or 'search' operations instead.");
}

asio::awaitable<Json> RemindersToolProvider::handleOpen(std::string searchText) {
  std::vector<std::string> countScript{"tell application \"Reminders\"",
                                       "set matchingReminders to {}",
                                       "repeat with r in reminders",
                                       "if (name of r as string) contains \"" + escape(searchText) + "\" then",
                                       "set end of matchingReminders to (name of r as string)",
                                       "end if",
                                       "end repeat",
                                       "return (count of matchingReminders) as string",
                                       "end tell"};
  const std::string output = co_await runAppleScript(std::move(countScript));
  const auto count = AppleScriptHelpers::outputInteger(output);
  if (!count || *count == 0) co_return textResult("No matching reminders found");
  std::vector<std::string> activate{"tell application \"Reminders\"", "activate", "return \"SUCCESS\"", "end tell"};
  const std::string activated = co_await runAppleScript(std::move(activate));
  if (activated.find("SUCCESS") == std::string::npos) co_return textResult("Failed to open Reminders app");
  co_return textResult("Reminders app opened (" + std::to_string(*count) + " matching reminder(s) found)");
}

}  // namespace qd
