#include "daemon/providers/notes_provider.h"

#include "daemon/providers/apple_script.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::escape;
using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "list", "search", "create"};
  return names;
}

constexpr const char* kHelp =
    "# Apple Notes Operations\n"
    "\n"
    "## Read Operations\n"
    "- `list` — List note names (params: limit)\n"
    "- `search` — Search notes by name and body (params: searchText, limit)\n"
    "\n"
    "## Write Operations\n"
    "- `create` — Create a new note (params: title, body, folderName)\n"
    "\n"
    "## Parameters\n"
    "- `searchText` (string, required for search) — Text to match in note names and bodies\n"
    "- `limit` (number, optional) — Maximum notes to return (default: 25, max: 200)\n"
    "- `title` (string, required for create) — Note title\n"
    "- `body` (string, optional) — Note body\n"
    "- `folderName` (string, optional) — Target folder";

}  // namespace

std::vector<MCPTool> NotesToolProvider::tools() const {
  MCPTool tool;
  tool.name = "notes";
  tool.description = "Search, list, and create Apple Notes.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {{"type", "string"}, {"enum", operations()}};
  properties["searchText"] = {{"type", "string"}};
  properties["limit"] = {{"type", "number"},
                         {"description", "Maximum notes to return for list/search (default: 25, max: 200)"}};
  properties["title"] = {{"type", "string"}};
  properties["body"] = {{"type", "string"}};
  properties["folderName"] = {{"type", "string"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap NotesToolProvider::availableOperations() const { return {{"notes", operations()}}; }

asio::awaitable<std::optional<Json>> NotesToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "notes") co_return std::nullopt;
  std::string operation = stringArgument(arguments, "operation").value_or("list");
  co_return co_await dispatch(std::move(operation), std::move(arguments));
}

asio::awaitable<std::string> NotesToolProvider::runAppleScript(std::vector<std::string> lines) {
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "notes", 15.0, "NotesToolProvider", "AppleScript failed");
  co_return co_await runner().run(std::move(run));
}

asio::awaitable<Json> NotesToolProvider::dispatch(std::string operation, Json arguments) {
  const int limit = parseLimit(numberArgument(arguments, "limit"), 25, 200);
  if (operation == "help") co_return textResult(kHelp);

  if (operation == "list") {
    std::string target = "Notes";
    co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));
    std::vector<std::string> script{"tell application \"Notes\"",
                                    "set outLines to {}",
                                    "set allNotes to every note",
                                    "set maxCount to " + std::to_string(limit),
                                    "repeat with i from 1 to (count of allNotes)",
                                    "if i > maxCount then exit repeat",
                                    "set n to item i of allNotes",
                                    "set end of outLines to (name of n as string)",
                                    "end repeat"};
    AppleScriptHelpers::appendLineJoinedReturn(script);
    script.push_back("end tell");
    co_return textResult(co_await runAppleScript(std::move(script)));
  }

  if (operation == "search") {
    std::string target = "Notes";
    co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));
    const auto searchText = stringArgument(arguments, "searchText");
    if (!searchText || searchText->empty()) co_return textResult("Missing searchText");
    const std::string text = escape(*searchText);
    std::vector<std::string> script{"tell application \"Notes\"",
                                    "set outLines to {}",
                                    "set maxCount to " + std::to_string(limit),
                                    "set matchedCount to 0",
                                    "repeat with n in notes",
                                    "set nm to name of n as string",
                                    "set bd to body of n as string",
                                    "if (nm contains \"" + text + "\") or (bd contains \"" + text + "\") then",
                                    "set end of outLines to (nm)",
                                    "set matchedCount to matchedCount + 1",
                                    "if matchedCount >= maxCount then exit repeat",
                                    "end if",
                                    "end repeat"};
    AppleScriptHelpers::appendLineJoinedReturn(script);
    script.push_back("end tell");
    co_return textResult(co_await runAppleScript(std::move(script)));
  }

  if (operation == "create") {
    // No preflight here. folderName is offered but not used: Notes puts the note in its
    // default folder.
    const auto title = stringArgument(arguments, "title");
    if (!title || title->empty()) co_return textResult("Missing title");
    const std::string body = stringArgument(arguments, "body").value_or("");
    std::vector<std::string> script{
        "tell application \"Notes\"",
        "make new note with properties {name:\"" + escape(*title) + "\", body:\"" + escape(body) + "\"}",
        "return \"Created note: " + escape(*title) + "\"", "end tell"};
    co_return textResult(co_await runAppleScript(std::move(script)));
  }

  co_return textResult("Unsupported notes operation: " + operation);
}

}  // namespace qd
