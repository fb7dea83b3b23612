#include "daemon/providers/bookends_provider.h"

#include <algorithm>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/bookends_help.h"
#include "daemon/providers/bookends_scripts.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help",     "library_info", "selected",     "search",
                                              "list",     "get",          "format",       "groups",
                                              "attachments", "pdf_info",  "create",       "update",
                                              "delete",   "quick_add",    "create_group", "add_to_group",
                                              "remove_from_group"};
  return names;
}

bool isWriteOperation(const std::string& name) {
  static const std::vector<std::string> writes{"create",       "update",       "delete",           "quick_add",
                                               "create_group", "add_to_group", "remove_from_group"};
  return std::find(writes.begin(), writes.end(), name) != writes.end();
}

// The objects of the array the output holds; none when it is not a JSON array of objects.
std::optional<std::size_t> objectArrayCount(const std::string& output) {
  Json parsed;
  try {
    parsed = parseJson(output);
  } catch (const JsonParseError&) {
    return std::nullopt;
  }
  if (!parsed.is_array()) return std::nullopt;
  for (const Json& element : parsed) {
    if (!element.is_object()) return std::nullopt;
  }
  return parsed.size();
}

// Whether the output is a JSON object with a top-level "error" member. A PDF or a
// selection whose text holds the word "error" is not an error.
bool isErrorObject(const std::string& output) {
  try {
    const Json parsed = parseJson(output);
    return parsed.is_object() && parsed.contains("error");
  } catch (const JsonParseError&) {
    return false;
  }
}

std::string joinedWithCommas(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) out += (i > 0 ? ", " : "") + names[i];
  return out;
}

}  // namespace

std::vector<MCPTool> BookendsProvider::tools() const {
  MCPTool tool;
  tool.name = "bookends";
  tool.description =
      "Reference management with Bookends - search, list, create, format, and manage bibliographic references.\n\n"
      "Use operation='help' to see all available operations and their parameters.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {
      {"type", "string"},
      {"description",
       "Operation: help, list, search, get, format, create, update, delete, quick_add, groups, attachments, pdf_info"}};
  properties["query"] = {{"type", "string"}, {"description", "Search query text (for search operations)"}};
  properties["searchType"] = {
      {"type", "string"},
      {"enum", {"all", "title", "author", "keywords", "journal", "publisher", "notes", "doi", "year", "sql"}},
      {"description", "Type of search to perform"}};
  properties["limit"] = {{"type", "number"},
                         {"description", "Maximum number of publications to return (default: 100, max: 10000)"},
                         {"minimum", 1},
                         {"maximum", 10000}};
  properties["fields"] = {
      {"type", "array"},
      {"items", {{"type", "string"}}},
      {"description",
       "Specific fields to return (id, title, authors, journal, abstract, notes, keywords, pages, "
       "publicationDateString, publisher, volume, doi, pmid, isbn, citekey, rating, url, type)"}};
  properties["publicationIds"] = {
      {"type", "array"}, {"items", {{"type", "string"}}}, {"description", "List of publication IDs to format"}};
  properties["formatName"] = {
      {"type", "string"},
      {"description", "Citation format name (e.g., 'APA 6th Edition.fmt', 'Vancouver.fmt', 'Nature.fmt')"}};
  properties["outputFormat"] = {{"type", "string"},
                                {"enum", bookends::outputFormats()},
                                {"description", "Output file format (default: plain text)"}};
  properties["publicationId"] = {{"type", "string"},
                                 {"description", "Publication ID (for attachments, update, delete)"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap BookendsProvider::availableOperations() const { return {{"bookends", operations()}}; }

Json BookendsProvider::jsonArrayResult(const std::string& output, const std::string& emptyMessage,
                                       const std::string& itemName) {
  const auto count = objectArrayCount(output);
  if (!count) return textResult(output);
  if (*count == 0) return textResult(emptyMessage);
  return textResult("Found " + std::to_string(*count) + " " + itemName + ":\n\n" + output);
}

asio::awaitable<std::optional<Json>> BookendsProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "bookends") co_return std::nullopt;
  std::string target = "Bookends";
  co_await PermissionGuidance::ensureAutomationAccess(*runner_, std::move(target));
  std::string operation = stringArgument(arguments, "operation").value_or("help");
  co_return co_await dispatch(std::move(operation), std::move(arguments));
}

asio::awaitable<std::string> BookendsProvider::runScript(std::vector<std::string> lines) {
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "bookends", 15.0, "BookendsConsolidatedProvider",
                                                "Bookends AppleScript failed");
  co_return co_await runner_->run(std::move(run));
}

asio::awaitable<Json> BookendsProvider::dispatch(std::string operation, Json arguments) {
  if (operation == "help") {
    const auto query = stringArgument(arguments, "query");
    if (!query) co_return textResult(bookends::helpText());
    std::string topic = unicode::lowercased(*query);
    if (topic == "get") topic = "list";
    if (auto text = bookends::topicHelp(topic)) co_return textResult(*text);
    co_return textResult("No detailed help available for '" + *query + "'. Use operation='help' for full list.");
  }
  // Scripts are named before they are awaited: g++ 12 destroys a temporary passed by value
  // to an awaited coroutine twice.
  if (operation == "library_info") {
    auto script = bookends::libraryInfoScript();
    co_return textResult(co_await runScript(std::move(script)));
  }
  if (operation == "selected") {
    auto script = bookends::selectedScript();
    co_return textResult(co_await runScript(std::move(script)));
  }

  if (operation == "search") {
    const auto query = stringArgument(arguments, "query");
    if (!query || query->empty()) co_return textResult("Missing query parameter");
    const std::string searchType = stringArgument(arguments, "searchType").value_or("all");
    const auto matches = bookends::searchMatches(searchType);
    if (!matches) {
      co_return textResult("Unknown searchType: " + searchType +
                           ". Use: all, title, author, keywords, journal, publisher, notes, doi, year, sql");
    }
    auto script = bookends::searchScript(*query, *matches);
    co_return textResult(co_await runScript(std::move(script)));
  }

  if (operation == "list" || operation == "get") {
    const std::int64_t limit = integerArgument(arguments, "limit").value_or(100);
    const auto fields = stringListArgument(arguments, "fields").value_or(bookends::defaultFields());
    for (const auto& field : fields) {
      // A field becomes a variable and a property name in the script: only table keys and
      // plain identifiers may.
      if (!bookends::isValidField(field)) co_return textResult("Invalid field: " + field);
    }
    auto script = bookends::listScript(limit, fields);
    const std::string output = co_await runScript(std::move(script));
    const std::size_t found = objectArrayCount(output).value_or(0);
    co_return textResult("Found " + std::to_string(found) + " publication(s):\n\n" + output);
  }

  if (operation == "format") {
    const auto ids = stringListArgument(arguments, "publicationIds");
    if (!ids || ids->empty()) co_return textResult("Missing publicationIds parameter (array of publication IDs)");
    const auto formatName = stringArgument(arguments, "formatName");
    const std::string outputFormat = stringArgument(arguments, "outputFormat").value_or("plain text");
    // The output format stands unquoted in the script: only the known names may.
    const auto& known = bookends::outputFormats();
    if (std::find(known.begin(), known.end(), outputFormat) == known.end()) {
      co_return textResult("Unknown outputFormat: " + outputFormat + ". Use: " + joinedWithCommas(known));
    }
    auto script = bookends::formatScript(*ids, formatName, outputFormat);
    const std::string output = co_await runScript(std::move(script));
    co_return textResult("Formatted " + std::to_string(ids->size()) + " reference(s):\n\n" + output);
  }

  if (operation == "groups") {
    auto script = bookends::groupsScript();
    const std::string output = co_await runScript(std::move(script));
    co_return jsonArrayResult(output, "No groups found in the library.", "group(s)");
  }

  if (operation == "attachments") {
    const auto id = stringArgument(arguments, "publicationId");
    if (!id || id->empty()) co_return textResult("Missing publicationId parameter");
    auto script = bookends::attachmentsScript(*id);
    const std::string output = co_await runScript(std::move(script));
    co_return jsonArrayResult(output, "No attachments found for this publication.", "attachment(s)");
  }

  if (operation == "pdf_info") {
    auto script = bookends::pdfInfoScript();
    const std::string output = co_await runScript(std::move(script));
    if (isErrorObject(output)) {
      Json reply = textResult("Failed to get PDF info: No PDF currently displayed");
      reply["isError"] = true;
      co_return reply;
    }
    co_return textResult("PDF Information:\n\n" + output);
  }

  if (isWriteOperation(operation)) {
    co_return textResult("Write operation '" + operation + "' is not yet implemented. " +
                         "Only read-only Bookends tools are currently supported.");
  }
  co_return textResult("Unknown operation: " + operation + ". Use operation='help' for available operations.");
}

}  // namespace qd
