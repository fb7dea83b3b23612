// libFuzzer target: arbitrary bytes as the lines an MCP client sends to MCPServer. Every
// line must be answered by at most one message, every answer must be a JSON-RPC response
// or error response, a request must be answered with its own id, and an answer may carry
// only the id its line carried.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "daemon/mcp/fake_transport.h"
#include "daemon/mcp/jsonrpc.h"
#include "daemon/mcp/mcp_server.h"
#include "daemon/mcp/line_splitter.h"

namespace {

using qd::Json;

void fail(const char* what, const std::string& line, const std::string& reply) {
  std::fprintf(stderr, "%s\nline:  %s\nreply: %s\n", what, line.c_str(), reply.c_str());
  std::abort();
}

asio::awaitable<qd::CallToolResult> echo(qd::CallToolParams params) {
  co_return qd::CallToolResult::text(params.arguments ? qd::dumpJson(*params.arguments) : "none");
}

asio::awaitable<qd::CallToolResult> failing(qd::CallToolParams) {
  throw std::runtime_error("the tool failed");
  co_return qd::CallToolResult{};
}

// The id the line's request carries, when it is a request; nothing otherwise.
std::optional<qd::RequestID> requestId(const std::string& line) {
  try {
    auto message = qd::JSONRPCMessage::parse(line);
    if (auto* request = std::get_if<qd::JSONRPCRequest>(&message.value)) return request->id;
  } catch (...) {
  }
  return std::nullopt;
}

// The "id" member of the line's JSON object, whatever its kind.
std::optional<Json> rawId(const std::string& line) {
  try {
    Json raw = qd::parseJson(line);
    if (raw.is_object() && raw.contains("id")) return raw["id"];
  } catch (...) {
  }
  return std::nullopt;
}

void checkLine(const std::string& line) {
  asio::io_context io;
  auto transport = std::make_shared<qd::test::FakeTransport>();
  qd::ServerCapabilities capabilities;
  capabilities.tools = qd::ToolsCapability{};
  auto server = qd::MCPServer::create(io.get_executor(), transport, {"fuzz", "1.0.0"}, capabilities);
  qd::MCPTool tool;
  tool.name = "echo";
  tool.inputSchema.type = "object";
  server->registerTool(tool, echo);
  tool.name = "fail";
  server->registerTool(tool, failing);
  auto started = server->start();
  asio::co_spawn(io, std::move(started), asio::detached);
  io.run();

  transport->deliver(line);
  io.restart();
  io.run();
  if (server->messagesInFlight() != 0) fail("a line is still being handled", line, "");
  if (transport->sent.size() > 1) fail("more than one answer", line, transport->sent[1]);

  const auto expected = requestId(line);
  if (transport->sent.empty()) {
    if (expected) fail("a request without an answer", line, "");
    return;
  }
  const std::string& reply = transport->sent[0];
  qd::JSONRPCMessage message;
  try {
    message = qd::JSONRPCMessage::parse(reply);
  } catch (...) {
    fail("an answer that is not JSON-RPC", line, reply);
  }
  std::optional<qd::RequestID> answeredId;
  if (auto* response = std::get_if<qd::JSONRPCResponse>(&message.value)) {
    answeredId = response->id;
  } else if (auto* error = std::get_if<qd::JSONRPCErrorResponse>(&message.value)) {
    answeredId = error->id;
  } else {
    fail("an answer that is neither a response nor an error", line, reply);
  }
  if (expected && (!answeredId || !(*answeredId == *expected))) fail("a request answered with another id", line, reply);
  if (answeredId) {
    const auto sentId = rawId(line);
    if (!sentId || *sentId != answeredId->toJson()) fail("an answer with an id the line did not carry", line, reply);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Lines as the transports frame them: split at line feeds, empty ones skipped.
  qd::LineSplitter splitter;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  bytes.push_back('\n');
  for (const auto& line : splitter.append(bytes)) checkLine(line);
  return 0;
}
