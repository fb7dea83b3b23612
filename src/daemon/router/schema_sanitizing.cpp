#include "daemon/router/schema_sanitizing.h"

#include <array>
#include <set>

namespace qd {
namespace {

constexpr std::array<const char*, 3> kCombinators = {"anyOf", "oneOf", "allOf"};

void cleanDescription(Json& schema) {
  auto it = schema.find("description");
  if (it != schema.end() && it->is_string()) *it = sanitizeControlCharacters(it->get_ref<const std::string&>());
}

bool allObjects(const Json& list) {
  for (const Json& element : list) {
    if (!element.is_object()) return false;
  }
  return true;
}

// "items" and the combinator lists, as both levels clean them.
void cleanItemsAndCombinators(Json& schema) {
  if (auto items = schema.find("items"); items != schema.end() && items->is_object()) {
    *items = sanitizeSchemaDictionary(*items);
  }
  for (const char* key : kCombinators) {
    auto list = schema.find(key);
    if (list == schema.end() || !list->is_array() || !allObjects(*list)) continue;
    for (Json& element : *list) element = sanitizeSchemaDictionary(element);
  }
}

}  // namespace

std::string sanitizeControlCharacters(std::string_view text) {
  // Every byte below 0x20 is a whole code point in UTF-8 (continuation and lead bytes are
  // all 0x80 or above), so a byte walk replaces exactly the C0 controls.
  std::string out(text);
  for (char& byte : out) {
    if (static_cast<unsigned char>(byte) < 0x20) byte = ' ';
  }
  return out;
}

Json sanitizeSchemaDictionary(const Json& schema) {
  if (!schema.is_object()) return schema;
  Json out = schema;
  cleanDescription(out);
  if (auto properties = out.find("properties"); properties != out.end() && properties->is_object()) {
    for (auto& [name, value] : properties->items()) {
      if (value.is_object()) value = sanitizeSchemaDictionary(value);
    }
  }
  cleanItemsAndCombinators(out);
  return out;
}

MCPTool sanitizedToolSchemaForExternalClients(const MCPTool& tool) {
  std::set<std::string> required;
  if (tool.inputSchema.required) required.insert(tool.inputSchema.required->begin(), tool.inputSchema.required->end());

  Json properties = Json::object();
  if (tool.inputSchema.properties && tool.inputSchema.properties->is_object()) {
    for (const auto& [name, value] : tool.inputSchema.properties->items()) {
      Json property = value.is_object() ? value : Json::object();
      if (auto flag = property.find("required"); flag != property.end()) {
        if (flag->is_boolean() && flag->get<bool>()) required.insert(name);
        property.erase(flag);
      }
      if (!property.contains("type") && !property.contains("oneOf") && !property.contains("anyOf") &&
          !property.contains("allOf") && !property.contains("$ref")) {
        property["type"] = "string";
      }
      cleanDescription(property);
      // Nested members keep their flags and types but lose control characters too.
      if (auto nested = property.find("properties"); nested != property.end() && nested->is_object()) {
        for (auto& [nestedName, nestedValue] : nested->items()) {
          if (nestedValue.is_object()) nestedValue = sanitizeSchemaDictionary(nestedValue);
        }
      }
      if (auto type = property.find("type"); type != property.end() && *type == "array") {
        auto items = property.find("items");
        if (items == property.end() || !items->is_object()) property["items"] = Json{{"type", "string"}};
      }
      cleanItemsAndCombinators(property);
      properties[name] = std::move(property);
    }
  }

  MCPTool clean;
  clean.name = tool.name;
  if (tool.description) clean.description = sanitizeControlCharacters(*tool.description);
  clean.inputSchema.type = "object";
  clean.inputSchema.properties = std::move(properties);
  if (!required.empty()) clean.inputSchema.required = std::vector<std::string>(required.begin(), required.end());
  clean.inputSchema.additionalProperties = tool.inputSchema.additionalProperties;
  return clean;
}

}  // namespace qd
