#include "daemon/router/schema_sanitizing.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

struct CleanCase {
  const char* what;
  const char* input;     // an MCPTool as JSON
  const char* expected;  // the cleaned tool as JSON
};

const CleanCase kCases[] = {
    {"a required flag is lifted into the list",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"type":"integer","required":true}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"type":"integer"}},"required":["n"]}})"},
    {"a false flag is dropped and a missing type becomes string",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"required":false}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"type":"string"}}}})"},
    {"a flag that is not a Boolean is dropped without lifting",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"type":"string","required":"yes"}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"n":{"type":"string"}}}})"},
    {"empty and non-object properties become strings",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{},"b":"text","c":7,"d":null}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{"type":"string"},"b":{"type":"string"},
        "c":{"type":"string"},"d":{"type":"string"}}}})"},
    {"a reference or a combinator gets no type",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"r":{"$ref":"#/x"},"o":{"oneOf":[{"type":"string"}]}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"r":{"$ref":"#/x"},"o":{"oneOf":[{"type":"string"}]}}}})"},
    {"an array gets string items when it has no object there",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{"type":"array"},"b":{"type":"array","items":"x"}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{"type":"array","items":{"type":"string"}},
        "b":{"type":"array","items":{"type":"string"}}}}})"},
    {"items keep their own shape and get their description cleaned",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{"type":"array","items":{"description":"x\ty"}}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"a":{"type":"array","items":{"description":"x y"}}}}})"},
    {"required names are sorted and kept without a property",
     R"({"name":"t","inputSchema":{"type":"object","required":["b","a","ghost"],
        "properties":{"a":{"type":"string"},"b":{"type":"string"},"c":{"type":"string","required":true}}}})",
     R"({"name":"t","inputSchema":{"type":"object","required":["a","b","c","ghost"],
        "properties":{"a":{"type":"string"},"b":{"type":"string"},"c":{"type":"string"}}}})"},
    {"no properties: an empty map, type object, $schema gone, additionalProperties kept",
     R"({"name":"t","inputSchema":{"$schema":"http://json-schema.org/draft-07/schema#","type":"whatever",
        "additionalProperties":false}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{},"additionalProperties":false}})"},
    {"nested flags and missing types stay below the top level",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"o":{"type":"object",
        "properties":{"inner":{"required":true,"description":"a\nb"}}}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"o":{"type":"object",
        "properties":{"inner":{"required":true,"description":"a b"}}}}}})"},
    {"combinator lists are cleaned only when every element is an object",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"x":{"anyOf":[{"description":"a\rb"}]},
        "y":{"allOf":[{"description":"a\rb"},3]}}}})",
     R"({"name":"t","inputSchema":{"type":"object","properties":{"x":{"anyOf":[{"description":"a b"}]},
        "y":{"allOf":[{"description":"a\rb"},3]}}}})"},
    {"the description of the tool and of properties lose control characters only",
     R"({"name":"t","description":"line\r\nnext\u007f\u0085","inputSchema":{"type":"object",
        "properties":{"p":{"type":"string","description":"\u0001x"}}}})",
     R"({"name":"t","description":"line  next\u007f\u0085","inputSchema":{"type":"object",
        "properties":{"p":{"type":"string","description":" x"}}}})"},
};

// Key order carries no meaning in a schema.
nlohmann::json unordered(const Json& value) { return nlohmann::json::parse(dumpJson(value)); }

TEST(SchemaSanitizing, CleansEachCaseAndIsIdempotent) {
  for (const CleanCase& c : kCases) {
    SCOPED_TRACE(c.what);
    const MCPTool cleaned = sanitizedToolSchemaForExternalClients(MCPTool::fromJson(parseJson(c.input)));
    EXPECT_EQ(unordered(cleaned.toJson()), nlohmann::json::parse(c.expected));
    EXPECT_EQ(sanitizedToolSchemaForExternalClients(cleaned), cleaned);
  }
}

TEST(SchemaSanitizing, ControlCharactersBecomeSpacesOneForOne) {
  EXPECT_EQ(sanitizeControlCharacters(std::string("a\0b\x1f" "c", 5)), "a b c");
  EXPECT_EQ(sanitizeControlCharacters("caf\u00e9 \u2192 ok"), "caf\u00e9 \u2192 ok");
  EXPECT_EQ(sanitizeSchemaDictionary(Json("not an object")), Json("not an object"));
}

}  // namespace
}  // namespace qd
