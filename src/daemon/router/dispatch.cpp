// The daemon's side of the socket protocol: one request line in, exactly one reply line
// out. The envelope, the three methods, the road of a tool call and the error table.

#include <chrono>
#include <functional>
#include <typeinfo>

#include "daemon/core/daemon_error.h"
#include "daemon/core/provider_error.h"
#include "daemon/logging/logger.h"
#include "daemon/mcp/mcp_error.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/queue/request_queue.h"
#include "daemon/router/json_normalizing.h"
#include "daemon/router/router.h"
#include "daemon/router/router_internal.h"
#include "daemon/router/tool_catalog.h"
#include "daemon/runtime/child_process.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_runner.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/tinderbox_supervisor.h"

namespace qd {
namespace {

using router::kComponent;

constexpr std::string_view kInternalErrorLine = R"({"error":"Internal error"})";

bool isAdminMethod(std::string_view method) {
  return method == "app_get_health" || method == "app_get_tool_catalog" || method == "app_get_settings" ||
         method == "app_save_settings";
}

std::optional<std::string> encodeResponseString(const Json& reply) {
  try {
    return dumpJson(reply);
  } catch (const std::exception& error) {
    Logger::error(kComponent, "JSONSerialization.data FAILED", Json{{"error", error.what()}});
    return std::nullopt;
  }
}

std::string createErrorResponse(std::optional<std::int64_t> requestId, const std::string& text) {
  Json reply = Json::object();
  reply["error"] = text;
  if (requestId) reply["_requestId"] = *requestId;
  return encodeResponseString(reply).value_or(std::string(kInternalErrorLine));
}

Json withRequestId(Json result, std::optional<std::int64_t> requestId) {
  if (requestId) result["_requestId"] = *requestId;
  return result;
}

// "unknownMethod: m" -> "m"; "unknown" when there is no ':'.
std::string unknownMethodName(const std::string& detail) {
  const auto colon = detail.find(':');
  if (colon == std::string::npos) return "unknown";
  return trimWhitespaceAndNewlines(std::string_view(detail).substr(colon + 1));
}

// Errors of our own whose text was written for the person at the client: a provider's
// permission guidance or failed script, a child process, the messaging bus or the note
// app's supervisor refusing.
// They are answered with that text; everything else that is not a DaemonError or a
// QueueError is answered "Internal error".
std::optional<std::string> userFacingText(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const SupervisorError& e) {
    return e.description();
  } catch (const ProviderError& e) {
    return e.message();
  } catch (const MessagingError& e) {
    return e.description();
  } catch (const ChildProcessError& e) {
    return e.description();
  } catch (const ProcessRunnerError& e) {
    return e.description();
  } catch (const TransportError& e) {
    return e.description();
  } catch (const MCPError& e) {
    return e.description();
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace

RequestEnvelope parseRequestEnvelope(std::string_view line) {
  // The parser's own error (text that is not JSON, or nested too deeply) passes through
  // and is answered "Internal error".
  Json value = parseJson(line);
  if (!value.is_object()) throw DaemonError::invalidParameter("Invalid JSON");
  RequestEnvelope envelope;
  if (auto id = value.find("_requestId"); id != value.end() && id->is_number_integer()) {
    envelope.requestId = id->get<std::int64_t>();
  }
  auto method = value.find("method");
  if (method == value.end() || !method->is_string()) throw DaemonError::missingParameter("method");
  envelope.method = method->get<std::string>();
  if (auto params = value.find("params"); params != value.end() && params->is_object()) envelope.params = *params;
  return envelope;
}

Json initializeResult() {
  return Json{{"protocolVersion", "2024-11-05"},
              {"capabilities", Json{{"tools", Json::object()}}},
              {"serverInfo", Json{{"name", "quarvel-toolbox"}, {"version", Configuration::routerVersion}}}};
}

asio::awaitable<std::optional<std::string>> TinderboxDaemon::handleClientMessage(
    std::string clientId, std::optional<ClientProcessInfo> clientProcessInfo, std::string message) {
  (void)clientProcessInfo;  // accepted and not used
  RequestEnvelope envelope;
  try {
    envelope = parseRequestEnvelope(message);
  } catch (...) {
    co_return handleClientMessageError(clientId, std::nullopt, std::current_exception());
  }
  const std::optional<std::int64_t> requestId = envelope.requestId;
  const std::string method = envelope.method;
  Json result;
  try {
    result = co_await dispatchMethod(clientId, std::move(envelope));
  } catch (...) {
    co_return handleClientMessageError(clientId, requestId, std::current_exception());
  }
  Json reply = withRequestId(std::move(result), requestId);
  if (std::optional<std::string> line = encodeResponseString(reply)) co_return line;
  Logger::error(kComponent, "Failed to encode response", Json{{"method", method}});
  co_return createErrorResponse(requestId, "Failed to serialize response");
}

asio::awaitable<Json> TinderboxDaemon::dispatchMethod(std::string clientId, RequestEnvelope envelope) {
  const std::string& method = envelope.method;
  if (isAdminMethod(method)) throw DaemonError::invalidParameter("app-admin methods require XPC admin channel");
  if (method == "initialize") co_return initializeResult();
  if (method == "list_tools") co_return co_await handleListTools(std::move(clientId));
  if (method == "call_tool") {
    if (!envelope.params) throw DaemonError::missingParameter("params for call_tool");
    co_return co_await handleCallTool(std::move(clientId), std::move(*envelope.params));
  }
  throw DaemonError::invalidParameter("unknownMethod: " + method);
}

asio::awaitable<Json> TinderboxDaemon::handleListTools(std::string clientId) {
  Json tools = Json::array();
  for (ExternalToolBinding& binding : exposedBindings(clientId)) {
    // The tool is moved into its JSON below; its name is kept for the error logs.
    const std::string name = binding.externalTool.name;
    try {
      // Bound tools are cleaned already; cleaning is idempotent, so a second pass here
      // would change nothing and only copy every schema again.
      Json encoded = std::move(binding.externalTool).toJson();
      if (!encoded.is_object()) {
        Logger::error(kComponent, "Failed to convert tool to dictionary", Json{{"toolName", name}});
        continue;
      }
      tools.push_back(std::move(encoded));
    } catch (const std::exception& error) {
      Logger::error(kComponent, "Failed to encode tool",
                    Json{{"toolName", name}, {"error", error.what()}});
    }
  }
  // Not an initializer list: that would copy every tool once more.
  Json result = Json::object();
  result["tools"] = std::move(tools);
  co_return result;
}

asio::awaitable<Json> TinderboxDaemon::handleCallTool(std::string clientId, Json params) {
  std::optional<std::string> name = router::stringMember(params, "name");
  if (!name) throw DaemonError::missingParameter("name");
  Json requested = Json::object();
  if (auto found = params.find("arguments"); found != params.end() && found->is_object()) requested = *found;

  const std::vector<ExternalToolBinding> exposed = exposedBindings(clientId, /*withSchemas=*/false);
  const ExternalToolBinding* binding = nullptr;
  for (const ExternalToolBinding& candidate : exposed) {
    if (candidate.externalTool.name == *name) {
      binding = &candidate;
      break;
    }
  }
  if (!binding) throw DaemonError::invalidParameter("Unknown tool: " + *name);

  Json arguments = requested;
  if (binding->forcedOperation) arguments["operation"] = *binding->forcedOperation;

  const auto start = std::chrono::steady_clock::now();
  validateToolAccess(clientId, binding->internalName, arguments);
  const std::string operationName = resolveOperationName(binding->internalName, arguments);
  const std::int64_t timeoutMs = std::max<std::int64_t>(0, configuration_.timeoutForOperation(operationName));
  const bool readOnly = isReadOnlyOperation(operationName);

  std::shared_ptr<TinderboxDaemon> self = shared_from_this();
  // The binding may not outlive a catalog refresh during the call: copy what it names.
  std::function<asio::awaitable<SendableData>()> work = [self, clientId, toolName = binding->internalName,
                                                         arguments]() {
    return self->runToolCall(clientId, toolName, arguments);
  };
  auto elapsedMs = [start] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  std::exception_ptr failure;
  Json result;
  try {
    SendableData data;
    if (isRouterCoreTool(binding->internalName)) {
      // health_check and daemon_self_check only read the daemon's state: a hung note-app
      // call or a full queue must not hold or refuse the calls that show what is going on.
      // Named copies, moved: g++ 12 destroys a temporary argument of an awaited coroutine twice.
      std::string caller = clientId;
      std::string toolName = binding->internalName;
      Json callArguments = arguments;
      data = co_await runToolCall(std::move(caller), std::move(toolName), std::move(callArguments));
    } else {
      data = co_await queue_->enqueue<SendableData>(readOnly, timeoutMs, std::move(work));
    }
    result = normalizeJSONPayload(data.value);
  } catch (...) {
    failure = std::current_exception();
  }
  ToolCallLogContext context{clientId, *name, requested, elapsedMs(), !failure, std::nullopt};
  if (failure) context.error = describeException(failure);
  logToolCall(context);
  if (failure) std::rethrow_exception(failure);
  co_return result;
}

asio::awaitable<SendableData> TinderboxDaemon::runToolCall(std::string clientId, std::string toolName,
                                                             Json arguments) {
  std::optional<Json> result = co_await handleHelperTool(clientId, toolName, arguments);
  if (!result) result = co_await handleProviderTool(clientId, toolName, arguments);
  if (!result) throw DaemonError::invalidParameter("Unknown tool: " + toolName);
  co_return SendableData{std::move(*result)};
}

std::string TinderboxDaemon::handleClientMessageError(const std::string& clientId,
                                                      std::optional<std::int64_t> requestId,
                                                      const std::exception_ptr& error) const {
  try {
    std::rethrow_exception(error);
  } catch (const DaemonError& e) {
    if (e.kind() == DaemonError::Kind::missingParameter) {
      if (e.payload() == "method") return createErrorResponse(std::nullopt, "Missing method");
      return createErrorResponse(requestId, "Missing required parameter");
    }
    if (e.kind() == DaemonError::Kind::invalidParameter) {
      if (e.payload() == "Invalid JSON") return createErrorResponse(std::nullopt, "Invalid JSON");
      if (e.payload().starts_with("unknownMethod")) {
        return createErrorResponse(requestId, "Unknown method: " + unknownMethodName(e.payload()));
      }
    }
    Logger::warn(kComponent, "Daemon operation failed", Json{{"clientId", clientId}, {"error", e.description()}});
    return createErrorResponse(requestId, e.description());
  } catch (const QueueError& e) {
    Logger::warn(kComponent, "Queue operation failed", Json{{"clientId", clientId}, {"error", e.description()}});
    return createErrorResponse(requestId, e.description());
  } catch (const TinderboxCallError& e) {
    Logger::warn(kComponent, "Tinderbox call failed",
                 Json{{"clientId", clientId}, {"operation", e.operation()}, {"detail", e.detail()}});
    return createErrorResponse(requestId, "Operation '" + e.operation() + "' failed: " + e.detail());
  } catch (...) {
  }
  if (std::optional<std::string> text = userFacingText(error)) {
    Logger::warn(kComponent, "Daemon operation failed", Json{{"clientId", clientId}, {"error", *text}});
    return createErrorResponse(requestId, *text);
  }
  std::string errorType = "unknown";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    errorType = typeid(e).name();
  } catch (...) {
  }
  Logger::error(kComponent, "Unhandled error in client message handler",
                Json{{"clientId", clientId}, {"error", describeException(error)}, {"errorType", errorType}});
  return createErrorResponse(requestId, "Internal error");
}

}  // namespace qd
