#include "daemon/providers/devonthink_provider.h"

#include <algorithm>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/devonthink_scripts.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using namespace devonthink;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{
      "help",           "is_running",           "get_open_databases",      "current_database",
      "selected_records", "search",             "lookup_record",           "get_record_by_identifier",
      "get_record_properties", "get_record_content", "list_group_content", "create_record",
      "create_from_url", "delete_record",        "move_record",             "rename_record",
      "add_tags",       "remove_tags",          "update_record_content",   "set_record_properties",
      "replicate_record", "duplicate_record",   "convert_record",          "classify",
      "compare",        "check_ai_health",      "ask_ai_about_documents",  "create_summary_document",
      "get_ai_tool_documentation"};
  return names;
}

bool isAdvancedUnimplementedOperation(const std::string& name) {
  static const std::vector<std::string> names{"replicate_record", "duplicate_record",       "convert_record",
                                              "classify",         "compare",                "check_ai_health",
                                              "ask_ai_about_documents", "create_summary_document",
                                              "get_ai_tool_documentation"};
  return std::find(names.begin(), names.end(), name) != names.end();
}

// {"success":false,"error":<message>} with the message escaped by our JSON writer.
std::string failureJson(const std::string& message) {
  Json reply = Json::object();
  reply["success"] = false;
  reply["error"] = message;
  return dumpJson(reply);
}

std::optional<std::string> required(const Json& arguments, std::string_view key) {
  auto value = stringArgument(arguments, key);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

// The id as text: an integer as its digits, a string as itself, anything else as JSON.
std::optional<std::string> identifierText(const Json& arguments) {
  if (!arguments.is_object()) return std::nullopt;
  const auto it = arguments.find("id");
  if (it == arguments.end() || it->is_null()) return std::nullopt;
  if (it->is_string()) return it->get<std::string>();
  return dumpJson(*it);
}

}  // namespace

const std::string& DevonThinkProvider::helpText() {
  static const std::string text =
      "DEVONthink Operations (28 available):\n"
      "\n"
      "DATABASE OPERATIONS (Read):\n"
      "- is_running: Check whether DEVONthink is running (params: none)\n"
      "- get_open_databases: List open databases (params: none)\n"
      "- current_database: Get the current database (params: none)\n"
      "- selected_records: Get the selected records (params: none)\n"
      "\n"
      "RECORD QUERY OPERATIONS (Read):\n"
      "- search: Search records (params: query)\n"
      "- lookup_record: Find records by exact name (params: name)\n"
      "- get_record_by_identifier: Get record by UUID or ID (params: uuid, id, databaseName)\n"
      "- get_record_properties: Get record properties (params: uuid)\n"
      "- get_record_content: Get record plain text content (params: uuid)\n"
      "- list_group_content: List the children of a group (params: uuid)\n"
      "\n"
      "RECORD CREATION OPERATIONS (Write):\n"
      "- create_record: Create a markdown or plain text record (params: name, content, type, groupUUID)\n"
      "- create_from_url: Create a record from a URL (params: url, name, groupUUID)\n"
      "\n"
      "RECORD MODIFICATION OPERATIONS (Write):\n"
      "- delete_record: Delete a record (params: uuid)\n"
      "- move_record: Move a record to a group (params: uuid, destinationGroupUUID)\n"
      "- rename_record: Rename a record (params: uuid, newName)\n"
      "- add_tags: Add tags to a record (params: uuid, tags)\n"
      "- remove_tags: Remove tags from a record (params: uuid, tags)\n"
      "- update_record_content: Replace a record's content (params: uuid, content)\n"
      "- set_record_properties: Set comment, flag and locking (params: uuid, comment, flag, locked)\n"
      "\n"
      "ADVANCED OPERATIONS (Not Yet Implemented):\n"
      "- replicate_record: Replicate a record to a group (params: uuid, destinationGroupUUID)\n"
      "- duplicate_record: Duplicate a record to a group (params: uuid, destinationGroupUUID)\n"
      "- convert_record: Convert a record to another format (params: uuid, format)\n"
      "- classify: Suggest groups for a record (params: uuid)\n"
      "- compare: Compare two records (params: primaryUUID, secondaryUUID)\n"
      "- check_ai_health: Check the AI service (params: none)\n"
      "- ask_ai_about_documents: Ask AI about documents (params: uuids, question)\n"
      "- create_summary_document: Create a summary document (params: uuids, title)\n"
      "- get_ai_tool_documentation: Get AI tool documentation (params: toolName)\n"
      "\n"
      "Example usage:\n"
      "{\"operation\": \"search\", \"query\": \"project notes\"}\n"
      "{\"operation\": \"create_record\", \"name\": \"Meeting Notes\", \"content\": \"# Notes\", \"type\": \"markdown\"}\n"
      "{\"operation\": \"add_tags\", \"uuid\": \"ABC-123\", \"tags\": [\"important\", \"review\"]}";
  return text;
}

std::vector<MCPTool> DevonThinkProvider::tools() const {
  MCPTool tool;
  tool.name = "devonthink";
  tool.description =
      "Document database with DEVONthink - search, create, tag, smart groups, AI tools, and record management.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  static const char* const table[][3] = {
      {"operation", "string",
       "Operation: help, is_running, get_open_databases, current_database, selected_records, search, lookup_record, "
       "get_record_by_identifier, get_record_properties, get_record_content, list_group_content, create_record, "
       "create_from_url, delete_record, move_record, rename_record, add_tags, remove_tags, replicate_record, "
       "duplicate_record, convert_record, update_record_content, set_record_properties, classify, compare, "
       "check_ai_health, ask_ai_about_documents, create_summary_document, get_ai_tool_documentation"},
      {"query", "string", "Search query (for search operation)"},
      {"name", "string", "Record name (for lookup_record, create_record)"},
      {"uuid", "string", "Record UUID (for most operations)"},
      {"id", "number", "Record ID (for get_record_by_identifier)"},
      {"databaseName", "string", "Database name (for get_record_by_identifier)"},
      {"content", "string", "Record content (for create_record, update_record_content)"},
      {"type", "string", "Record type: markdown or plain (for create_record)"},
      {"groupUUID", "string", "Parent group UUID (for create_record, create_from_url)"},
      {"url", "string", "URL to create record from (for create_from_url)"},
      {"destinationGroupUUID", "string", "Destination group UUID (for move_record, replicate_record)"},
      {"newName", "string", "New record name (for rename_record)"},
      {"tags", "array", "Array of tag strings (for add_tags, remove_tags)"},
      {"format", "string", "Target format: markdown or plain (for convert_record)"},
      {"comment", "string", "Record comment (for set_record_properties)"},
      {"flag", "boolean", "Flagged status (for set_record_properties)"},
      {"locked", "boolean", "Locked status (for set_record_properties)"},
      {"primaryUUID", "string", "Primary record UUID (for compare)"},
      {"secondaryUUID", "string", "Secondary record UUID (for compare)"},
      {"question", "string", "Question to ask AI (for ask_ai_about_documents)"},
      {"uuids", "array", "Array of record UUIDs (for AI operations)"},
      {"title", "string", "Summary document title (for create_summary_document)"},
      {"toolName", "string", "AI tool name (for get_ai_tool_documentation)"},
  };
  Json properties = Json::object();
  for (const auto& [name, type, description] : table) {
    Json property = {{"type", type}, {"description", description}};
    if (std::string_view(type) == "array") property["items"] = {{"type", "string"}};
    properties[name] = std::move(property);
  }
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap DevonThinkProvider::availableOperations() const { return {{"devonthink", operations()}}; }

asio::awaitable<std::optional<Json>> DevonThinkProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "devonthink") co_return std::nullopt;
  std::string target = "DEVONthink 3";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));
  std::string operation = stringArgument(arguments, "operation").value_or("help");
  co_return AppleScriptHelpers::textResult(co_await dispatch(std::move(operation), std::move(arguments)));
}

asio::awaitable<std::string> DevonThinkProvider::runJXA(std::string script) {
  ScriptRun run{{"-l", "JavaScript", "-e", std::move(script)},
                "devonthink",
                20.0,
                "DevonThinkConsolidatedProvider",
                "DEVONthink script failed"};
  co_return co_await runner().run(std::move(run));
}

asio::awaitable<std::string> DevonThinkProvider::dispatch(std::string operation, Json a) {
  const std::string missingUuid = failureJson("Missing uuid");
  std::optional<std::string> script;
  std::optional<std::string> reply;
  const auto uuidScript = [&](std::string (*build)(const std::string&)) {
    if (auto uuid = required(a, "uuid")) {
      script = build(*uuid);
    } else {
      reply = missingUuid;
    }
  };

  if (operation == "help") {
    reply = helpText();
  } else if (operation == "is_running") {
    script = isRunningScript();
  } else if (operation == "get_open_databases") {
    script = openDatabasesScript();
  } else if (operation == "current_database") {
    script = currentDatabaseScript();
  } else if (operation == "selected_records") {
    script = selectedRecordsScript();
  } else if (operation == "search") {
    if (auto query = required(a, "query")) script = searchScript(*query);
    else reply = failureJson("Missing query");
  } else if (operation == "lookup_record") {
    if (auto name = required(a, "name")) script = lookupRecordScript(*name);
    else reply = failureJson("Missing name");
  } else if (operation == "get_record_by_identifier") {
    if (auto uuid = required(a, "uuid")) script = recordByUuidScript(*uuid);
    else if (auto id = identifierText(a)) script = recordByIdScript(*id);
    else reply = failureJson("Provide uuid or id");
  } else if (operation == "get_record_properties") {
    uuidScript(recordPropertiesScript);
  } else if (operation == "get_record_content") {
    uuidScript(recordContentScript);
  } else if (operation == "list_group_content") {
    uuidScript(groupContentScript);
  } else if (operation == "create_record") {
    if (auto name = required(a, "name")) {
      script = createRecordScript(*name, stringArgument(a, "content").value_or(""),
                                  stringArgument(a, "type").value_or("markdown"),
                                  stringArgument(a, "groupUUID").value_or(""));
    } else {
      reply = failureJson("Missing name");
    }
  } else if (operation == "create_from_url") {
    if (auto url = required(a, "url")) {
      script = createFromUrlScript(*url, stringArgument(a, "name").value_or(""),
                                   stringArgument(a, "groupUUID").value_or(""));
    } else {
      reply = failureJson("Missing url");
    }
  } else if (operation == "delete_record") {
    uuidScript(deleteRecordScript);
  } else if (operation == "move_record") {
    const auto uuid = stringArgument(a, "uuid");
    const auto destination = stringArgument(a, "destinationGroupUUID");
    if (uuid && destination) script = moveRecordScript(*uuid, *destination);
    else reply = failureJson("Missing uuid or destinationGroupUUID");
  } else if (operation == "rename_record") {
    const auto uuid = stringArgument(a, "uuid");
    const auto newName = stringArgument(a, "newName");
    if (uuid && newName) script = renameRecordScript(*uuid, *newName);
    else reply = failureJson("Missing uuid or newName");
  } else if (operation == "add_tags" || operation == "remove_tags") {
    const auto uuid = required(a, "uuid");
    const auto tags = stringListArgument(a, "tags");
    if (!uuid) reply = missingUuid;
    else if (!tags) reply = failureJson("Missing or invalid tags array");
    else script = operation == "add_tags" ? addTagsScript(*uuid, *tags) : removeTagsScript(*uuid, *tags);
  } else if (operation == "update_record_content") {
    const auto uuid = required(a, "uuid");
    const auto content = stringArgument(a, "content");
    if (!uuid) reply = missingUuid;
    else if (!content) reply = failureJson("Missing content");
    else script = updateRecordContentScript(*uuid, *content);
  } else if (operation == "set_record_properties") {
    if (auto uuid = required(a, "uuid")) {
      script = setRecordPropertiesScript(*uuid, stringArgument(a, "comment"), boolArgument(a, "flag"),
                                         boolArgument(a, "locked"));
    } else {
      reply = missingUuid;
    }
  } else if (isAdvancedUnimplementedOperation(operation)) {
    reply = failureJson(operation +
                        " is not yet fully implemented in the DEVONthink provider. Core read/write/search tools are "
                        "implemented; this advanced tool is pending.");
  } else {
    // The name is the client's own text: it goes into the reply through the JSON writer.
    reply = failureJson("Unknown operation '" + operation + "'. Use 'help' operation to see available operations.");
  }

  if (reply) co_return *reply;
  co_return co_await runJXA(std::move(*script));
}

}  // namespace qd
