#include "daemon/admin/admin_protocol.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

namespace protocol = DaemonAdminXPCProtocol;

TEST(AdminProtocolTest, ReadsWellFormedRequests) {
  auto parsed = protocol::parseRequest(R"({"id":3,"method":"app_get_settings"})");
  ASSERT_TRUE(std::holds_alternative<protocol::Request>(parsed));
  const auto& plain = std::get<protocol::Request>(parsed);
  EXPECT_EQ(plain.id, 3);
  EXPECT_EQ(plain.method, "app_get_settings");
  EXPECT_FALSE(plain.params);

  // Params are handed on as sent, whatever their kind: the service judges them.
  parsed = protocol::parseRequest(R"({"params":[1],"method":"m","id":-9})");
  ASSERT_TRUE(std::holds_alternative<protocol::Request>(parsed));
  EXPECT_EQ(std::get<protocol::Request>(parsed).id, -9);
  EXPECT_EQ(std::get<protocol::Request>(parsed).params, Json::parse("[1]"));

  // A null "params" is no params, like a missing one.
  parsed = protocol::parseRequest(R"({"id":1,"method":"m","params":null})");
  EXPECT_FALSE(std::get<protocol::Request>(parsed).params);
}

TEST(AdminProtocolTest, MalformedLinesKeepAnIntegerIdOnly) {
  struct Case {
    const char* line;
    std::optional<std::int64_t> id;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"not json", std::nullopt},
      {R"([{"id":1,"method":"m"}])", std::nullopt},
      {R"("text")", std::nullopt},
      {R"({"method":"m"})", std::nullopt},
      {R"({"id":"1","method":"m"})", std::nullopt},
      {R"({"id":1.0,"method":"m"})", std::nullopt},
      {R"({"id":true,"method":"m"})", std::nullopt},
      {R"({"id":18446744073709551615,"method":"m"})", std::nullopt},  // beyond 64 bits: a double
      {R"({"id":5})", 5},
      {R"({"id":6,"method":7})", 6},
      {R"({"id":7,"method":null})", 7},
      {R"({"id":8,"method":"m"} trailing)", std::nullopt},
  };
  for (const Case& c : cases) {
    auto parsed = protocol::parseRequest(c.line);
    ASSERT_TRUE(std::holds_alternative<protocol::Malformed>(parsed)) << c.line;
    EXPECT_EQ(std::get<protocol::Malformed>(parsed).id, c.id) << c.line;
  }
}

TEST(AdminProtocolTest, RepliesAreCompactWithSortedKeysAtEveryDepth) {
  const Json result = Json::parse(R"({"zeta":1,"alpha":{"y":true,"b":[{"d":1,"c":2}]},"m":"x"})");
  EXPECT_EQ(protocol::encodeResult(12, result),
            R"({"id":12,"result":{"alpha":{"b":[{"c":2,"d":1}],"y":true},"m":"x","zeta":1}})");
  EXPECT_EQ(protocol::encodeError(4, "Daemon unavailable"), R"({"error":"Daemon unavailable","id":4})");
  EXPECT_EQ(protocol::encodeError(std::nullopt, "Invalid admin request"), R"({"error":"Invalid admin request","id":null})");
}

TEST(AdminProtocolTest, ClientSideRoundTrip) {
  EXPECT_EQ(protocol::encodeRequest(1, "app_get_health", std::nullopt), R"({"id":1,"method":"app_get_health"})");
  EXPECT_EQ(protocol::encodeRequest(2, "app_save_settings", Json{{"settings", Json::object()}}),
            R"({"id":2,"method":"app_save_settings","params":{"settings":{}}})");

  auto reply = protocol::parseReply(R"({"id":2,"result":{"saved":true}})");
  EXPECT_EQ(reply.id, 2);
  EXPECT_EQ(reply.result, Json::parse(R"({"saved":true})"));
  EXPECT_FALSE(reply.error);
  reply = protocol::parseReply(R"({"error":"boom","id":3,"result":null})");
  EXPECT_EQ(reply.error, "boom");
  EXPECT_FALSE(reply.result);
  EXPECT_THROW(protocol::parseReply("{"), JsonParseError);
}

TEST(AdminProtocolTest, AdminSocketLivesBesideTheDaemonSocket) {
  EXPECT_EQ(protocol::socketPathBeside("/home/u/.local/share/QuarvelDorarov/daemon.sock"),
            "/home/u/.local/share/QuarvelDorarov/admin.sock");
}

}  // namespace
}  // namespace qd
