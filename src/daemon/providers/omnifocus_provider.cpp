#include "daemon/providers/omnifocus_provider.h"

#include "daemon/providers/apple_script.h"
#include "daemon/providers/omnifocus_scripts.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::textResult;
using namespace omnifocus;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help",          "dump_database",   "add_task",
                                              "add_project",   "remove_item",     "edit_item",
                                              "batch_add_items", "batch_remove_items", "query",
                                              "list_perspectives", "get_perspective_view"};
  return names;
}

std::string text(const Json& arguments, std::string_view key, std::string fallback = "") {
  return stringArgument(arguments, key).value_or(std::move(fallback));
}
bool flag(const Json& arguments, std::string_view key) { return boolArgument(arguments, key).value_or(false); }
std::int64_t number(const Json& arguments, std::string_view key, std::int64_t fallback = 0) {
  return truncatedNumberArgument(arguments, key).value_or(fallback);
}
std::vector<std::string> list(const Json& arguments, std::string_view key) {
  return stringListArgument(arguments, key).value_or(std::vector<std::string>{});
}

AddTaskRequest addTaskRequest(const Json& a) {
  return AddTaskRequest{text(a, "name"),     text(a, "note"),      text(a, "projectName"),
                        flag(a, "flagged"),  text(a, "dueDate"),   text(a, "deferDate"),
                        number(a, "estimatedMinutes"), list(a, "tags"), text(a, "parentTaskId"),
                        text(a, "parentTaskName")};
}

AddProjectRequest addProjectRequest(const Json& a) {
  return AddProjectRequest{text(a, "name"),    text(a, "note"),      text(a, "folderName"),
                           flag(a, "sequential"), text(a, "dueDate"), text(a, "deferDate"),
                           flag(a, "flagged"), number(a, "estimatedMinutes"), list(a, "tags")};
}

EditItemRequest editItemRequest(const Json& a) {
  EditItemRequest r;
  r.itemType = text(a, "itemType", "task");
  r.id = text(a, "id");
  r.name = text(a, "name");
  r.newName = text(a, "newName");
  r.newNote = text(a, "newNote");
  r.newFlagged = boolArgument(a, "newFlagged");
  r.newDueDate = stringArgument(a, "newDueDate");
  r.newDeferDate = stringArgument(a, "newDeferDate");
  r.newEstimatedMinutes = truncatedNumberArgument(a, "newEstimatedMinutes");
  r.newStatus = stringArgument(a, "newStatus");
  r.addTags = stringListArgument(a, "addTags");
  r.removeTags = stringListArgument(a, "removeTags");
  r.replaceTags = stringListArgument(a, "replaceTags");
  r.newSequential = boolArgument(a, "newSequential");
  r.newFolderName = stringArgument(a, "newFolderName");
  r.newProjectStatus = stringArgument(a, "newProjectStatus");
  return r;
}

// The "items" argument when it is a list of objects.
const Json* batchItems(const Json& arguments) {
  const auto it = arguments.find("items");
  if (it == arguments.end() || !it->is_array()) return nullptr;
  for (const Json& item : *it) {
    if (!item.is_object()) return nullptr;
  }
  return &*it;
}

}  // namespace

const std::string& OmniFocusProvider::helpText() {
  static const std::string text =
      "OmniFocus Operations:\n"
      "\n"
      "Read-Only Operations:\n"
      "  • dump_database - Get compact database dump\n"
      "    Parameters: hideCompleted (boolean, optional)\n"
      "\n"
      "  • query - Query tasks/projects/folders\n"
      "    Parameters: entity (string), filters (object), fields (array),\n"
      "               limit (number), sortBy (string), sortOrder (string),\n"
      "               includeCompleted (boolean), summary (boolean)\n"
      "\n"
      "  • list_perspectives - List available perspectives\n"
      "\n"
      "  • get_perspective_view - Get items for a perspective\n"
      "    Parameters: perspectiveName (string), limit (number)\n"
      "\n"
      "Write Operations:\n"
      "  • add_task - Add a task\n"
      "    Parameters: name (required), note, projectName, flagged, dueDate,\n"
      "               deferDate, estimatedMinutes, tags, parentTaskId, parentTaskName\n"
      "\n"
      "  • add_project - Add a project\n"
      "    Parameters: name (required), note, folderName, sequential, flagged,\n"
      "               dueDate, deferDate, estimatedMinutes, tags\n"
      "\n"
      "  • remove_item - Remove task or project\n"
      "    Parameters: itemType (required), id or name\n"
      "\n"
      "  • edit_item - Edit task or project\n"
      "    Parameters: itemType (required), id or name, newName, newNote,\n"
      "               newFlagged, newDueDate, newDeferDate, newEstimatedMinutes,\n"
      "               newStatus, addTags, removeTags, replaceTags,\n"
      "               newSequential, newFolderName, newProjectStatus\n"
      "\n"
      "  • batch_add_items - Batch add tasks/projects\n"
      "    Parameters: items (array of task/project objects)\n"
      "\n"
      "  • batch_remove_items - Batch remove items\n"
      "    Parameters: items (array with itemType, id, name)\n"
      "\n"
      "Examples:\n"
      "  {\"operation\": \"add_task\", \"name\": \"Review slides\", \"projectName\": \"Presentation\"}\n"
      "  {\"operation\": \"query\", \"entity\": \"tasks\", \"filters\": {\"flagged\": true}, \"limit\": 10}\n"
      "  {\"operation\": \"get_perspective_view\", \"perspectiveName\": \"Inbox\", \"limit\": 20}";
  return text;
}

std::vector<MCPTool> OmniFocusProvider::tools() const {
  MCPTool tool;
  tool.name = "omnifocus";
  tool.description = "Task management with OmniFocus - add tasks/projects, query, edit, remove, list perspectives.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  static const char* const table[][3] = {
      {"operation", "string",
       "Operation: help, dump_database, add_task, add_project, remove_item, edit_item, batch_add_items, "
       "batch_remove_items, query, list_perspectives, get_perspective_view"},
      {"name", "string", "Task or project name"},
      {"note", "string", "Notes text"},
      {"dueDate", "string", "Due date (ISO format)"},
      {"deferDate", "string", "Defer date (ISO format)"},
      {"flagged", "boolean", "Flag status"},
      {"estimatedMinutes", "number", "Estimated minutes"},
      {"tags", "array", "Tag names"},
      {"projectName", "string", "Project name (for tasks)"},
      {"parentTaskId", "string", "Parent task ID"},
      {"parentTaskName", "string", "Parent task name"},
      {"folderName", "string", "Folder name (for projects)"},
      {"sequential", "boolean", "Sequential mode (for projects)"},
      {"entity", "string", "Entity type: tasks, projects, folders"},
      {"filters", "object", "Filter conditions"},
      {"fields", "array", "Fields to return"},
      {"limit", "number", "Result limit"},
      {"sortBy", "string", "Sort field"},
      {"sortOrder", "string", "Sort order: asc, desc"},
      {"includeCompleted", "boolean", "Include completed items"},
      {"summary", "boolean", "Return count only"},
      {"id", "string", "Item ID"},
      {"itemType", "string", "Item type: task, project"},
      {"newName", "string", "New name"},
      {"newNote", "string", "New note"},
      {"newFlagged", "boolean", "New flagged status"},
      {"newDueDate", "string", "New due date"},
      {"newDeferDate", "string", "New defer date"},
      {"newEstimatedMinutes", "number", "New estimated minutes"},
      {"newStatus", "string", "New status: completed, dropped, incomplete"},
      {"addTags", "array", "Tags to add"},
      {"removeTags", "array", "Tags to remove"},
      {"replaceTags", "array", "Replace all tags"},
      {"newSequential", "boolean", "New sequential mode"},
      {"newFolderName", "string", "New folder name"},
      {"newProjectStatus", "string", "New project status"},
      {"items", "array", "Array of items for batch operations"},
      {"perspectiveName", "string", "Perspective name"},
      {"hideCompleted", "boolean", "Hide completed items in dump"},
  };
  Json properties = Json::object();
  for (const auto& [name, type, description] : table) {
    Json property = {{"type", type}, {"description", description}};
    if (std::string_view(type) == "array") {
      property["items"] = {{"type", std::string_view(name) == "items" ? "object" : "string"}};
    }
    properties[name] = std::move(property);
  }
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap OmniFocusProvider::availableOperations() const { return {{"omnifocus", operations()}}; }

asio::awaitable<std::optional<Json>> OmniFocusProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "omnifocus") co_return std::nullopt;
  std::string target = "OmniFocus";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));
  std::string operation = stringArgument(arguments, "operation").value_or("help");
  co_return textResult(co_await dispatch(std::move(operation), std::move(arguments)));
}

asio::awaitable<std::string> OmniFocusProvider::runAppleScript(std::vector<std::string> lines) {
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "omnifocus", 15.0, "OmniFocusConsolidatedProvider",
                                                "OmniFocus AppleScript failed");
  co_return co_await runner().run(std::move(run));
}

// Programs are named before they are awaited: g++ 12 destroys a temporary passed by value
// to an awaited coroutine twice.
asio::awaitable<std::string> OmniFocusProvider::dispatch(std::string operation, Json arguments) {
  if (operation == "help") co_return helpText();
  if (operation == "dump_database") {
    auto program = dumpDatabaseScript();
    co_return co_await runAppleScript(std::move(program));
  }
  if (operation == "query") co_return co_await query(std::move(arguments));
  if (operation == "list_perspectives") co_return "Inbox\nProjects\nTags\nForecast\nFlagged\nReview";
  if (operation == "get_perspective_view") {
    auto program = perspectiveScript(text(arguments, "perspectiveName", "Inbox"), number(arguments, "limit", 100));
    co_return co_await runAppleScript(std::move(program));
  }
  if (operation == "add_task") {
    const auto name = stringArgument(arguments, "name");
    if (!name || name->empty()) co_return "Missing name";
    co_return co_await addTask(std::move(arguments));
  }
  if (operation == "add_project") {
    const auto name = stringArgument(arguments, "name");
    if (!name || name->empty()) co_return "Missing name";
    co_return co_await addProject(std::move(arguments));
  }
  if (operation == "remove_item") co_return co_await removeItem(std::move(arguments));
  if (operation == "edit_item") co_return co_await editItem(std::move(arguments));
  if (operation == "batch_add_items" || operation == "batch_remove_items") {
    const Json* items = batchItems(arguments);
    if (!items) co_return "Missing items";
    const bool adding = operation == "batch_add_items";
    std::string out;
    bool first = true;
    // The first failing item fails the call; the items before it stay done.
    for (const Json& item : *items) {
      std::string line;
      if (!adding) {
        line = co_await removeItem(item);
      } else if (text(item, "type", "task") == "project") {
        line = co_await addProject(item);
      } else {
        line = co_await addTask(item);
      }
      out += (first ? "" : "\n") + line;
      first = false;
    }
    co_return out;
  }
  co_return "Unknown operation: " + operation + ". Use 'help' to see available operations.";
}

asio::awaitable<std::string> OmniFocusProvider::addTask(Json arguments) {
  const AddTaskRequest request = addTaskRequest(arguments);
  auto program = buildAddTaskScript(request, buildTaskProperties(request));
  co_return co_await runAppleScript(std::move(program));
}

asio::awaitable<std::string> OmniFocusProvider::addProject(Json arguments) {
  auto program = addProjectScript(addProjectRequest(arguments));
  co_return co_await runAppleScript(std::move(program));
}

asio::awaitable<std::string> OmniFocusProvider::removeItem(Json arguments) {
  auto program = removeScript(text(arguments, "itemType", "task"), text(arguments, "id"), text(arguments, "name"));
  if (!program) co_return "Missing id or name";
  co_return co_await runAppleScript(std::move(*program));
}

asio::awaitable<std::string> OmniFocusProvider::editItem(Json arguments) {
  const EditItemRequest request = editItemRequest(arguments);
  auto program = editScript(request);
  if (!program) co_return "Missing id or name";
  const std::string output = co_await runAppleScript(std::move(*program));
  for (auto& tagProgram : editTagPrograms(request)) co_await runAppleScript(std::move(tagProgram));
  co_return output;
}

asio::awaitable<std::string> OmniFocusProvider::query(Json arguments) {
  QueryRequest request;
  request.entity = text(arguments, "entity", "tasks");
  request.limit = number(arguments, "limit", 50);
  if (const auto it = arguments.find("filters"); it != arguments.end() && it->is_object()) request.filters = *it;
  request.fields = list(arguments, "fields");
  request.sortBy = text(arguments, "sortBy");
  request.sortOrder = text(arguments, "sortOrder", "asc");
  request.includeCompleted = flag(arguments, "includeCompleted");
  request.summary = flag(arguments, "summary");
  if (request.summary) {
    auto program = countScript(request.entity, request.includeCompleted);
    const std::string output = co_await runAppleScript(std::move(program));
    co_return countReply(request.entity, parseCount(output));
  }
  auto program = queryListingScript(request);
  co_return co_await runAppleScript(std::move(program));
}

}  // namespace qd
