#include "daemon/mcp/oversized_request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qd {
namespace {

// The id the start shows, else the one the end shows.
std::optional<RequestID> idOf(const std::string& head, const std::string& tail) {
  if (auto id = requestIdFromLineStart(head)) return id;
  return requestIdFromLineEnd(tail);
}

TEST(OversizedRequest, TheIdIsTakenOnlyWhereAnEndOfTheLineShowsItForCertain) {
  const std::string filler = "aaaaaaaaaaaaaaaa";
  const std::optional<RequestID> none;
  struct Case {
    const char* name;
    std::string head, tail;
    std::optional<RequestID> expected;
  } cases[] = {
      {"first members of the object", R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"a":")" + filler,
       filler, RequestID::integer(5)},
      {"a string id first", R"({ "id" : "call-1" , "params":{"a":")" + filler, filler, RequestID::string("call-1")},
      {"last member, as the SDKs write it", R"({"method":"tools/call","params":{"a":")" + filler,
       filler + R"("}},"jsonrpc":"2.0","id":7})", RequestID::integer(7)},
      {"last member with blanks and a carriage return", R"({"params":{"a":")" + filler,
       filler + "\"}} , \"id\" : -3 }\r", RequestID::integer(-3)},
      {"last member, a string", R"({"params":{"a":")" + filler, filler + R"("},"id":"x-9"})",
       RequestID::string("x-9")},
      {"the head cut inside the id", R"({"jsonrpc":"2.0","id":12)", filler, none},
      {"an id after a nested value in the head", R"({"params":{"a":1},"id":4,"method":"m")", filler, none},
      {"an id that is an object", R"({"id":{"n":1},"params":{"a":")" + filler, filler, none},
      {"an id inside a nested object at the end", R"({"params":{"a":")" + filler, filler + R"(","id":7}})", none},
      {"an id spelled inside a string at the end", R"({"params":{"a":")" + filler, filler + R"(,\"id\":7}"})", none},
      {"a string id with an escape", R"({"params":{"a":")" + filler, filler + R"(","id":"a\"b"})", none},
      {"a fractional id", R"({"params":{"a":")" + filler, filler + R"(","id":1.5})", none},
      {"a line that is no object", R"([{"id":1},")" + filler, filler + R"("])", none},
      {"nothing but filler", filler, filler, none},
  };
  for (const auto& c : cases) EXPECT_EQ(idOf(c.head, c.tail), c.expected) << c.name;
}

}  // namespace
}  // namespace qd
