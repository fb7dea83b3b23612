#include "daemon/mcp/jsonrpc.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

template <class T>
const T& as(const JSONRPCMessage& m) {
  const T* p = std::get_if<T>(&m.value);
  if (!p) throw std::runtime_error("unexpected message shape");
  return *p;
}

JSONRPCMessage roundTrip(const JSONRPCMessage& m) { return JSONRPCMessage::parse(m.encode()); }

TEST(JsonRpc, MessagesRoundTripWithIdKinds) {
  const JSONRPCMessage messages[] = {
      {JSONRPCRequest(RequestID::integer(0), "ping")},
      {JSONRPCRequest(RequestID::string("abc"), "tools/call", Json{{"name", "x"}, {"arguments", {{"n", 1}}}})},
      {JSONRPCNotification("notifications/initialized")},
      {JSONRPCNotification("notifications/cancelled", Json{{"requestId", 4}})},
      {JSONRPCResponse(RequestID::integer(0), Json{{"tools", Json::array()}})},
      {JSONRPCResponse(RequestID::string("7"), Json{{"a", {1, 2}}})},
      {JSONRPCErrorResponse(RequestID::integer(9), JSONRPCError::methodNotFound("foo/bar"))},
      {JSONRPCErrorResponse(std::nullopt, JSONRPCError(-32700, "Parse error", Json{{"line", 1}}))},
  };
  for (const auto& m : messages) EXPECT_EQ(roundTrip(m), m) << m.encode();
}

TEST(JsonRpc, WritesTheWireFormExactly) {
  EXPECT_EQ(JSONRPCMessage{JSONRPCRequest(RequestID::integer(1), "ping")}.encode(),
            R"({"jsonrpc":"2.0","id":1,"method":"ping"})");
  EXPECT_EQ(JSONRPCMessage{JSONRPCResponse(RequestID::string("a"), Json())}.encode(),
            R"({"jsonrpc":"2.0","id":"a","result":null})");
  EXPECT_EQ(JSONRPCMessage{JSONRPCErrorResponse(std::nullopt, JSONRPCError::invalidParams("bad"))}.encode(),
            R"({"jsonrpc":"2.0","error":{"code":-32602,"message":"bad"}})");
}

TEST(JsonRpc, ParseChoosesTheShape) {
  struct Case {
    const char* text;
    std::size_t shape;  // variant index: request, notification, response, errorResponse
  };
  const Case cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", 0},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", 1},
      {R"({"jsonrpc":"2.0","method":"n","params":{"a":1}})", 1},
      {R"({"jsonrpc":"2.0","result":{},"method":"m"})", 1},
      {R"({"jsonrpc":"2.0","id":1,"result":{},"method":"m"})", 2},
      {R"({"jsonrpc":"2.0","id":1,"error":{"code":1,"message":"m"},"method":"x"})", 3},
      {R"({"jsonrpc":"2.0","id":null,"error":{"code":-32000,"message":"m"}})", 3},
      {R"({"jsonrpc":"2.0","error":{"code":-1,"message":"m"}})", 3},
  };
  for (const auto& c : cases) EXPECT_EQ(JSONRPCMessage::parse(c.text).value.index(), c.shape) << c.text;

  const auto req = as<JSONRPCRequest>(JSONRPCMessage::parse(R"({"jsonrpc":"2.0","id":"7","method":"ping"})"));
  EXPECT_TRUE(req.id.isString());
  EXPECT_NE(req.id, RequestID::integer(7));
  EXPECT_EQ(req.id.description(), RequestID::integer(7).description());

  const auto err = as<JSONRPCErrorResponse>(JSONRPCMessage::parse(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32099,"message":"m"}})"));
  EXPECT_FALSE(err.id);
  EXPECT_EQ(err.error.code, -32099);
  EXPECT_EQ(JSONRPCMessage{err}.encode(), R"({"jsonrpc":"2.0","error":{"code":-32099,"message":"m"}})");
}

TEST(JsonRpc, ParseFailures) {
  struct Case {
    const char* text;
    const char* jsonrpcMessage;  // nullptr: the reader's own error
  };
  const Case cases[] = {
      {R"({"id":1,"result":{}})", "Missing or invalid jsonrpc version"},
      {R"({"jsonrpc":null,"id":1,"result":{}})", "Missing or invalid jsonrpc version"},
      {R"({"jsonrpc":"1.0","id":1,"method":"x"})", "Missing or invalid jsonrpc version"},
      {R"({"jsonrpc":"2.0","result":{}})", "Cannot determine message type"},
      {R"({"jsonrpc":"2.0","id":1,"result":null})", "Cannot determine message type"},
      {R"({"jsonrpc":2,"id":1,"method":"x"})", nullptr},
      {R"([{"jsonrpc":"2.0","method":"x"}])", nullptr},
      {R"({"jsonrpc":"2.0","id":true,"method":"x"})", nullptr},
      {R"({"jsonrpc":"2.0","id":1.5,"method":"x"})", nullptr},
      {R"({"jsonrpc":"2.0","id":1,"method":"x","params":[1]})", nullptr},
      {"not json", nullptr},
  };
  for (const auto& c : cases) {
    try {
      JSONRPCMessage::parse(c.text);
      ADD_FAILURE() << "parsed: " << c.text;
    } catch (const JSONRPCError& e) {
      ASSERT_NE(c.jsonrpcMessage, nullptr) << c.text;
      EXPECT_EQ(e.code, -32600);
      EXPECT_EQ(e.message, c.jsonrpcMessage);
    } catch (const Error& e) {
      EXPECT_EQ(c.jsonrpcMessage, nullptr) << c.text << ": " << e.description();
    }
  }
  try {
    JSONRPCMessage::parse(R"({"jsonrpc":"2.0","id":true,"method":"x"})");
  } catch (const DecodingError& e) {
    EXPECT_EQ(e.description(), "Request ID must be a string or integer");
  }
}

TEST(JsonRpc, ErrorCodesAndFactories) {
  EXPECT_EQ(jsonRPCErrorCodeFromRaw(-32601), JSONRPCErrorCode::methodNotFound);
  EXPECT_EQ(jsonRPCErrorCodeFromRaw(-32000), JSONRPCErrorCode::serverError);
  EXPECT_FALSE(jsonRPCErrorCodeFromRaw(-32001));
  const auto e = JSONRPCError::methodNotFound("foo/bar");
  EXPECT_EQ(e.code, -32601);
  EXPECT_EQ(e.message, "Method not found: foo/bar");
  EXPECT_EQ(JSONRPCError::internalError("x").code, -32603);
  EXPECT_EQ(JSONRPCError::parseError("x").code, -32700);
}

TEST(JsonRpc, DirectDecodingRequiresItsKeysButNotTheVersion) {
  EXPECT_EQ(JSONRPCRequest::fromJson(parseJson(R"({"jsonrpc":"1.0","id":2,"method":"m"})")).jsonrpc, "1.0");
  EXPECT_THROW(JSONRPCRequest::fromJson(parseJson(R"({"id":2,"method":"m"})")), DecodingError);
  EXPECT_THROW(JSONRPCResponse::fromJson(parseJson(R"({"jsonrpc":"2.0","id":2})")), DecodingError);
  EXPECT_FALSE(JSONRPCRequest(RequestID::integer(1), "m").toJson().contains("params"));
}

TEST(JsonRpc, IdsHashByKindAndCanonicalText) {
  std::unordered_set<RequestID> ids{RequestID::integer(7), RequestID::string("7"), RequestID::string("caf\u00e9")};
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_TRUE(ids.contains(RequestID::string("cafe\u0301")));
  EXPECT_TRUE(ids.contains(RequestID::integer(7)));
  EXPECT_FALSE(ids.contains(RequestID::integer(8)));
}

}  // namespace
}  // namespace qd
