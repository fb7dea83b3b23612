#include "daemon/tinderbox/tinderbox_tool_provider.h"

#include <algorithm>

#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/text_trim.h"

namespace qd {
namespace {

constexpr const char* component = "TinderboxProvider";
constexpr std::string_view bulletPrefix = "\u2022 ";

using OperationSet = TinderboxToolProvider::OperationSet;

OperationSet unionOf(std::initializer_list<const OperationSet*> sets) {
  OperationSet out;
  for (const OperationSet* set : sets) out.insert(set->begin(), set->end());
  return out;
}

std::vector<std::string> sortedList(const OperationSet& set) { return {set.begin(), set.end()}; }

MCPTool groupedTool(const char* name, const char* description) {
  MCPTool tool;
  tool.name = name;
  tool.description = description;
  tool.inputSchema.type = "object";
  tool.inputSchema.properties =
      Json{{"operation",
            {{"type", "string"}, {"description", "Router operation name. See available operations for the full list."}}}};
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  return tool;
}

std::optional<std::string> stringArgument(const Json& arguments, std::string_view key) {
  if (!arguments.is_object()) return std::nullopt;
  auto found = arguments.find(key);
  if (found == arguments.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// Blanks only (no line ends), from both sides.
std::string trimBlanks(std::string_view text) {
  constexpr std::string_view blanks = " \t";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

void validateArguments(std::string_view operation, const Json& arguments) {
  if (operation != "create_note") return;
  const std::optional<std::string> name = stringArgument(arguments, "name");
  if (!name || trimWhitespaceAndNewlines(*name).empty()) {
    throw tinderbox_errors::makeInvalidArgument("create_note requires a non-empty 'name'");
  }
}

asio::awaitable<ListToolsResult> listToolsOf(std::shared_ptr<MCPClient> client) {
  co_return co_await client->listTools();
}

}  // namespace

namespace tinderbox_errors {
ProviderError makeInvalidArgument(std::string message) {
  return ProviderError(domain, invalidArgument, std::move(message));
}
TinderboxCallError makeCallFailed(const std::string& operation, const std::string& detail) {
  return TinderboxCallError(domain, tinderboxCallFailed, operation, detail);
}
ProviderError makeNotConnected() { return ProviderError(domain, tinderboxNotConnected, "Tinderbox is not connected"); }
}  // namespace tinderbox_errors

const OperationSet& TinderboxToolProvider::urlOperations() {
  static const OperationSet set{"build_tinderbox_note_url", "open_tinderbox_url"};
  return set;
}
const OperationSet& TinderboxToolProvider::navigationOperations() {
  static const OperationSet set{"navigate_to_note", "navigate_to_note_view", "note_exists"};
  return set;
}
const OperationSet& TinderboxToolProvider::viewOperations() {
  static const OperationSet set{"set_tinderbox_view", "select_tinderbox_note", "copy_tinderbox_view"};
  return set;
}
const OperationSet& TinderboxToolProvider::documentOperations() {
  static const OperationSet set{"open_tinderbox_document", "save_tinderbox_document", "close_tinderbox_document",
                                "list_tinderbox_windows", "delete_note"};
  return set;
}
const OperationSet& TinderboxToolProvider::exportOperations() {
  static const OperationSet set{"export_document", "export_note", "print_note"};
  return set;
}
const OperationSet& TinderboxToolProvider::appOperations() {
  static const OperationSet set{"restart_tinderbox", "open_tinderbox", "quit_tinderbox"};
  return set;
}
const OperationSet& TinderboxToolProvider::navOperations() {
  static const OperationSet set = unionOf({&urlOperations(), &navigationOperations(), &viewOperations()});
  return set;
}
const OperationSet& TinderboxToolProvider::docOperations() {
  static const OperationSet set = unionOf({&documentOperations(), &appOperations()});
  return set;
}

bool TinderboxToolProvider::isGroupedTool(std::string_view name) {
  return name == "tbx_nav" || name == "tbx_doc" || name == "tbx_export";
}

std::vector<MCPTool> TinderboxToolProvider::tools() const {
  std::vector<MCPTool> out = cachedNativeTools_;
  out.push_back(groupedTool("tbx_nav",
                            "UI-only: move the Tinderbox window focus or capture a screenshot. Never use for reading or "
                            "writing notes \u2014 use native tinderbox tools (get_notes, set_value, etc.) for all "
                            "content work."));
  out.push_back(groupedTool("tbx_doc", "Tinderbox document, window, and app lifecycle operations."));
  out.push_back(groupedTool("tbx_export", "Tinderbox export and print operations."));
  return out;
}

OperationsMap TinderboxToolProvider::availableOperations() const {
  return {{"tbx_nav", sortedList(navOperations())},
          {"tbx_doc", sortedList(docOperations())},
          {"tbx_export", sortedList(exportOperations())}};
}

bool TinderboxToolProvider::canHandle(std::string_view toolName) const {
  if (std::find(cachedOperations_.begin(), cachedOperations_.end(), toolName) != cachedOperations_.end()) return true;
  if (isGroupedTool(toolName)) return true;
  for (const OperationSet* set : {&navOperations(), &docOperations(), &exportOperations(), &appOperations()}) {
    if (set->contains(toolName)) return true;
  }
  return false;
}

asio::awaitable<std::optional<Json>> TinderboxToolProvider::handle(std::string toolName, std::string clientId,
                                                                   Json arguments) {
  (void)clientId;  // every client's call goes to the one server alike
  if (std::find(cachedOperations_.begin(), cachedOperations_.end(), toolName) == cachedOperations_.end()) {
    co_return std::nullopt;
  }
  co_return co_await callNativeOperation(std::move(toolName), std::move(arguments));
}

asio::awaitable<Json> TinderboxToolProvider::callNativeOperation(std::string operation, Json arguments) {
  // A strong reference for the whole call: a client cleared meanwhile stays alive for it.
  std::shared_ptr<MCPClient> client = client_.lock();
  if (!client) throw tinderbox_errors::makeNotConnected();
  validateArguments(operation, arguments);
  Json forwarded = arguments.is_object() ? arguments : Json::object();
  forwarded.erase("operation");
  normalizeAttributePrefix(forwarded);
  CallToolResult result;
  try {
    std::string name = operation;
    std::optional<Json> callArguments = std::move(forwarded);
    result = co_await client->callTool(std::move(name), std::move(callArguments));
  } catch (...) {
    const std::string detail = describeException(std::current_exception());
    Logger::error(component, "Failed to call Tinderbox tool", {{"operation", operation}, {"error", detail}});
    throw tinderbox_errors::makeCallFailed(operation, detail);
  }
  co_return postProcess(serializeCallToolResult(result), operation, arguments);
}

asio::awaitable<void> TinderboxToolProvider::fetchTinderboxOperations() {
  std::shared_ptr<MCPClient> client = client_.lock();
  if (!client) {
    Logger::info(component, "No client, skipping fetch");
    co_return;
  }
  try {
    // Only the first page: a next-page cursor is not followed.
    const ListToolsResult listed = co_await listToolsOf(client);
    Logger::info(component, "Got " + std::to_string(listed.tools.size()) + " tools from Tinderbox");
    std::vector<MCPTool> kept;
    for (const MCPTool& tool : listed.tools) {
      if (!isGroupedTool(tool.name)) kept.push_back(tool);
    }
    Logger::info(component, "Filtered to " + std::to_string(kept.size()) + " native tools");
    std::vector<std::string> names;
    for (const MCPTool& tool : kept) names.push_back(tool.name);
    std::sort(names.begin(), names.end());
    cachedNativeTools_ = std::move(kept);
    cachedOperations_ = std::move(names);
    Logger::info(component, "Cached " + std::to_string(cachedOperations_.size()) + " native operations");
  } catch (...) {
    cachedNativeTools_.clear();
    cachedOperations_.clear();
    Logger::error(component, "Failed to fetch operations", {{"error", describeException(std::current_exception())}});
  }
}

void TinderboxToolProvider::normalizeAttributePrefix(Json& arguments) {
  if (!arguments.is_object()) return;
  auto found = arguments.find("attribute");
  if (found == arguments.end() || !found->is_string()) return;
  const std::string value = found->get<std::string>();
  if (value.size() < 2 || value[0] != '$' || value[1] == '$') return;
  *found = value.substr(1);
}

Json TinderboxToolProvider::serializeToolContent(const ToolContent& content) {
  Json out = Json::object();
  out["type"] = toString(content.type);
  if (content.text) out["text"] = *content.text;
  if (content.data) out["data"] = *content.data;
  if (content.mimeType) out["mimeType"] = *content.mimeType;
  if (content.resource) {
    try {
      Json resource = content.resource->toJson();
      if (resource.is_object()) out["resource"] = std::move(resource);
    } catch (const std::exception&) {
      // left out, as an item whose resource cannot be encoded
    }
  }
  return out;
}

Json TinderboxToolProvider::serializeCallToolResult(const CallToolResult& result) {
  Json content = Json::array();
  for (const ToolContent& item : result.content) content.push_back(serializeToolContent(item));
  Json out = Json::object();
  out["content"] = std::move(content);
  if (result.isError) out["isError"] = *result.isError;
  return out;
}

Json TinderboxToolProvider::makeTextResponse(const std::string& text) {
  return textToolResult(text);
}

Json TinderboxToolProvider::postProcess(Json response, std::string_view operation, const Json& arguments) {
  auto content = response.find("content");
  if (content == response.end() || !content->is_array() || content->empty()) return response;
  for (const Json& item : *content) {
    if (!item.is_object()) return response;
  }
  const std::optional<std::string> firstText = stringArgument(content->front(), "text");
  if (!firstText) return response;
  if (operation == "get_notes") {
    const std::optional<std::string> notes = stringArgument(arguments, "notes");
    if (notes && !notes->empty()) return postProcessGetNotes(std::move(response), *firstText, *notes);
  } else if (operation == "evaluate") {
    const std::optional<std::string> note = stringArgument(arguments, "note");
    if (note && !note->empty() && trimWhitespaceAndNewlines(*firstText).empty()) {
      return makeTextResponse("No result for note path(s): " + *note + ". " +
                              "Ensure paths are fully qualified from the document root " +
                              "(e.g. '/Galaxy/Star 1', not '/Star 1').");
    }
  }
  return response;
}

Json TinderboxToolProvider::postProcessGetNotes(Json response, const std::string& text,
                                                const std::string& requestedPaths) {
  std::size_t missing = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line(text.data() + start, end - start);
    if (line.starts_with(bulletPrefix) && trimBlanks(line.substr(bulletPrefix.size())).empty()) ++missing;
    start = end + 1;
  }
  if (missing == 0) return response;

  std::vector<std::string> paths;
  start = 0;
  while (start <= requestedPaths.size()) {
    const std::size_t end = std::min(requestedPaths.find(';', start), requestedPaths.size());
    std::string piece = trimWhitespaceAndNewlines(std::string_view(requestedPaths).substr(start, end - start));
    if (!piece.empty()) paths.push_back(std::move(piece));
    start = end + 1;
  }
  const std::string noun = missing == 1 ? "path" : "paths";
  std::string pathText;
  if (paths.size() == missing) {
    for (std::size_t i = 0; i < paths.size(); ++i) pathText += (i ? ", " : "") + paths[i];
  } else {
    pathText = std::to_string(missing) + " of the requested " + noun;
  }
  const std::string hint = "\n\n\u26A0\uFE0F " + std::to_string(missing) + " note(s) not found: " + pathText + ". " +
                           "Paths must be fully qualified (e.g. '/Galaxy/Star 1'). " +
                           "Use get_notes with no parameters to browse all notes.";
  Json& first = response["content"][0];
  const std::string current = first.contains("text") && first["text"].is_string() ? first["text"].get<std::string>() : "";
  first["text"] = current + hint;
  return response;
}

}  // namespace qd
