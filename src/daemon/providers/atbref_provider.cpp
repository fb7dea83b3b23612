#include "daemon/providers/atbref_provider.h"

#include <utility>

#include "daemon/core/provider_error.h"
#include "daemon/providers/apple_script.h"
#include "daemon/providers/page_text.h"
#include "daemon/utilities/unicode_text.h"
#include "platform/url_loader.h"

namespace qd {

namespace {

const std::vector<std::string>& operationNames() {
  static const std::vector<std::string> names{
      "help",           "search",           "get_page",           "list_topics",
      "lookup_operator", "lookup_attribute", "lookup_designator", "lookup_date_format",
      "get_operators_list", "get_attributes_list", "get_designators", "get_date_formats"};
  return names;
}

Json property(const char* description) { return Json{{"type", "string"}, {"description", description}}; }

// A string argument, or none when it is missing or of another type.
std::optional<std::string> stringArgument(const Json& arguments, const char* key) {
  if (!arguments.is_object()) return std::nullopt;
  const auto found = arguments.find(key);
  if (found == arguments.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool containsIgnoringCase(std::string_view text, std::string_view query) {
  return unicode::lowercased(text).find(unicode::lowercased(query)) != std::string::npos;
}

struct Topic {
  std::string title;
  std::string url;
};

std::string renderTopics(const std::vector<Topic>& topics) {
  std::string text;
  for (const Topic& topic : topics) {
    if (!text.empty()) text += "\n";
    text += "\u2022 " + topic.title + "\n  " + topic.url;
  }
  return text;
}

bool isWebScheme(const std::string& scheme) { return scheme == "http" || scheme == "https"; }

}  // namespace

std::vector<MCPTool> ATBRefProvider::tools() const {
  MCPTool tool;
  tool.name = "atbref";
  tool.description =
      "Tinderbox reference documentation lookup - search attributes, operators, actions, export codes, and syntax.";
  tool.inputSchema.type = "object";
  tool.inputSchema.properties =
      Json{{"operation", property("Operation: help, search, get_page, list_topics, lookup_operator, lookup_attribute, "
                                  "lookup_designator, lookup_date_format, get_operators_list, get_attributes_list, "
                                  "get_designators, get_date_formats")},
           {"query", property("Search query or lookup term (required for search and lookup operations)")},
           {"url", property("aTbRef page URL (required for get_page operation)")}};
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  return {tool};
}

OperationsMap ATBRefProvider::availableOperations() const { return {{"atbref", operationNames()}}; }

asio::awaitable<std::optional<Json>> ATBRefProvider::handle(std::string toolName, std::string clientId,
                                                            Json arguments) {
  (void)clientId;
  if (toolName != "atbref") co_return std::nullopt;
  co_return co_await handleATBRef(std::move(arguments));
}

std::string ATBRefProvider::helpText() const {
  const std::string& host = site_.host;
  return "# aTbRef Tool Operations\n\n"
         "Tinderbox reference documentation lookup via " + host + ".\n\n"
         "## Search and Browse\n"
         "- `search` \u2014 Search aTbRef pages by keyword (params: query)\n"
         "- `get_page` \u2014 Fetch and summarize an aTbRef page (params: url)\n"
         "- `list_topics` \u2014 List common aTbRef topic pages\n\n"
         "## Lookup Operations\n"
         "- `lookup_operator` \u2014 Look up operator documentation (params: query)\n"
         "- `lookup_attribute` \u2014 Look up attribute documentation (params: query)\n"
         "- `lookup_designator` \u2014 Look up designator documentation (params: query)\n"
         "- `lookup_date_format` \u2014 Look up date format documentation (params: query)\n\n"
         "## Reference Lists\n"
         "- `get_operators_list` \u2014 Get the full operator list page\n"
         "- `get_attributes_list` \u2014 Get the system attributes list page\n"
         "- `get_designators` \u2014 Get the designators reference page\n"
         "- `get_date_formats` \u2014 Get the date formats reference page\n\n"
         "## Parameters\n"
         "- `query` (string, required for search/lookup) \u2014 Search query or lookup term\n"
         "- `url` (string, required for get_page) \u2014 aTbRef page URL (must be from " + host + ")\n\n"
         "## Examples\n"
         "- {\"operation\": \"search\", \"query\": \"export\"}\n"
         "- {\"operation\": \"lookup_operator\", \"query\": \"collect\"}\n"
         "- {\"operation\": \"list_topics\"}";
}

asio::awaitable<std::string> ATBRefProvider::fetchAndStrip(std::string url) {
  platform::UrlLoadOptions options;
  options.timeout = site_.fetchTimeout;
  std::string body;
  try {
    // Named first: g++ 12 destroys a capturing lambda written inside co_await twice.
    auto load = [url, options] { return platform::loadURL(url, options); };
    body = co_await runBlocking(pool_, std::move(load));
  } catch (const platform::UrlLoadError& e) {
    throw ProviderError("atbref", 1, e.what());
  }
  if (!unicode::isValidUtf8(body)) body.clear();
  co_return strippedPageText(body);
}

asio::awaitable<std::string> ATBRefProvider::lookup(const Json& arguments, std::string path, std::string label) {
  const std::optional<std::string> query = stringArgument(arguments, "query");
  if (!query || query->empty()) co_return "Missing query parameter for " + label + " lookup";
  std::string url = site_.baseURL + path;
  const auto parts = platform::parseURL(url);
  if (!parts || !isWebScheme(parts->scheme)) co_return std::string("Invalid page URL");
  std::string text = co_await fetchAndStrip(url);
  if (containsIgnoringCase(text, *query)) co_return text;
  co_return "No " + label + " match found for '" + *query + "' in " + url;
}

asio::awaitable<Json> ATBRefProvider::handleATBRef(Json arguments) {
  const std::string operation = stringArgument(arguments, "operation").value_or("help");
  const std::vector<Topic> topics{{"Operators", site_.baseURL + operatorsPath},
                                  {"System Attributes", site_.baseURL + attributesPath},
                                  {"Designators", site_.baseURL + designatorsPath},
                                  {"Date Formats", site_.baseURL + dateFormatsPath}};
  using AppleScriptHelpers::textResult;
  if (operation == "help") co_return textResult(helpText());
  if (operation == "list_topics") co_return textResult(renderTopics(topics));
  if (operation == "search") {
    const std::optional<std::string> query = stringArgument(arguments, "query");
    if (!query || query->empty()) co_return textResult("Missing query parameter for search operation");
    std::vector<Topic> kept;
    for (const Topic& topic : topics) {
      if (containsIgnoringCase(topic.title, *query) || containsIgnoringCase(topic.url, *query)) kept.push_back(topic);
    }
    if (kept.empty()) co_return textResult("No aTbRef topic matches for '" + *query + "'.");
    co_return textResult(renderTopics(kept));
  }
  if (operation == "get_page") {
    const std::optional<std::string> url = stringArgument(arguments, "url");
    const auto parts = url ? platform::parseURL(*url) : std::nullopt;
    const std::string host = parts ? unicode::lowercased(parts->host) : std::string();
    const std::string& siteHost = site_.host;
    const bool onSite = !host.empty() && (host == siteHost || (host.size() > siteHost.size() + 1 &&
                                                               host.ends_with("." + siteHost)));
    if (!onSite) co_return textResult("Invalid aTbRef URL. Must be from " + siteHost + " domain.");
    // Only the web is read: file:// and other protocols never reach the loader.
    if (!isWebScheme(parts->scheme)) co_return textResult("Invalid page URL");
    std::string page = *url;
    co_return textResult(co_await fetchAndStrip(std::move(page)));
  }
  const std::vector<std::pair<std::string, std::pair<const char*, const char*>>> lookups{
      {"lookup_operator", {operatorsPath, "operator"}},
      {"lookup_attribute", {attributesPath, "attribute"}},
      {"lookup_designator", {designatorsPath, "designator"}},
      {"lookup_date_format", {dateFormatsPath, "date format"}}};
  for (const auto& [name, page] : lookups) {
    if (operation == name) co_return textResult(co_await lookup(arguments, page.first, page.second));
  }
  const std::vector<std::pair<std::string, const char*>> lists{{"get_operators_list", operatorsPath},
                                                              {"get_attributes_list", attributesPath},
                                                              {"get_designators", designatorsPath},
                                                              {"get_date_formats", dateFormatsPath}};
  for (const auto& [name, path] : lists) {
    if (operation != name) continue;
    std::string url = site_.baseURL + path;
    const auto parts = platform::parseURL(url);
    if (!parts || !isWebScheme(parts->scheme)) co_return textResult("Invalid page URL");
    co_return textResult(co_await fetchAndStrip(std::move(url)));
  }
  co_return textResult("Unsupported atbref operation: " + operation + "\nUse operation='help' to see available operations.");
}

}  // namespace qd
