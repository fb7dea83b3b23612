#pragma once

// The note app's own MCP tools in the daemon's catalog, forwarded to its server, plus the
// three grouped tools "tbx_nav", "tbx_doc" and "tbx_export" with their operation lists. It
// never starts or stops the server: the supervisor hands out the client, the daemon sets
// it here (held weakly: the daemon holds the strong reference) and asks for a refresh.
//
// Lives on the io thread; the caches are replaced whole by a refresh and only ever read
// there, so a reader sees the old list or the new one.

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/core/provider_error.h"
#include "daemon/core/tool_provider.h"

namespace qd {

class MCPClient;

// The provider's failures: the description is what a client sees.
namespace tinderbox_errors {
inline constexpr const char* domain = "TinderboxProvider";
enum Code { invalidArgument = 1, tinderboxCallFailed = 2, tinderboxNotConnected = 3 };
ProviderError makeInvalidArgument(std::string message);
TinderboxCallError makeCallFailed(const std::string& operation, const std::string& detail);
ProviderError makeNotConnected();  // "Tinderbox is not connected"
}  // namespace tinderbox_errors

class TinderboxToolProvider final : public ToolProvider {
 public:
  using OperationSet = std::set<std::string, std::less<>>;
  static const OperationSet& urlOperations();
  static const OperationSet& navigationOperations();
  static const OperationSet& viewOperations();
  static const OperationSet& documentOperations();
  static const OperationSet& exportOperations();
  static const OperationSet& appOperations();  // restart, open and quit the note app
  static const OperationSet& navOperations();  // of "tbx_nav"
  static const OperationSet& docOperations();  // of "tbx_doc"
  static bool isGroupedTool(std::string_view name);

  std::string providerID() const override { return "tinderbox"; }
  // The native tools as last fetched, then the three grouped tools.
  std::vector<MCPTool> tools() const override;
  FeatureTier featureTier() const override { return FeatureTier::release; }
  OperationsMap availableOperations() const override;
  bool canHandle(std::string_view toolName) const override;
  // Forwards a native tool; none for any other name.
  asio::awaitable<std::optional<Json>> handle(std::string toolName, std::string clientId, Json arguments) override;

  void setClient(const std::shared_ptr<MCPClient>& client) { client_ = client; }
  // Refreshes the caches from the current client; never fails. Without a client the
  // caches stay; a failed listing empties them.
  asio::awaitable<void> fetchTinderboxOperations();

  const std::vector<std::string>& cachedOperations() const { return cachedOperations_; }

  // The answer rewrites, public for tests.
  static Json postProcess(Json response, std::string_view operation, const Json& arguments);
  static Json postProcessGetNotes(Json response, const std::string& text, const std::string& requestedPaths);
  static Json makeTextResponse(const std::string& text);
  static Json serializeCallToolResult(const CallToolResult& result);
  static Json serializeToolContent(const ToolContent& content);
  // "$Name" becomes "Name" in the "attribute" argument; "$", "$$x" and non-strings stay.
  static void normalizeAttributePrefix(Json& arguments);

 private:
  asio::awaitable<Json> callNativeOperation(std::string operation, Json arguments);

  std::weak_ptr<MCPClient> client_;
  std::vector<MCPTool> cachedNativeTools_;
  std::vector<std::string> cachedOperations_;
};

}  // namespace qd
