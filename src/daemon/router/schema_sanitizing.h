#pragma once

// The strict, uniform form in which tools are offered to AI clients on the socket. Tool
// schemas come from many sources and are loose (a property flagged "required": true, no
// "type", an array without "items", descriptions with line breaks); some MCP clients
// reject a whole server over one such schema, so every offered tool passes through here.
// Pure functions: no state, no failure. The rewrite is idempotent, so running it twice
// (list_tools does) changes nothing the second time.

#include <string>
#include <string_view>

#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/json.h"

namespace qd {

// Every code point below U+0020 becomes one space; nothing else changes (U+007F and the C1
// controls stay), runs are not collapsed, nothing is trimmed.
std::string sanitizeControlCharacters(std::string_view text);

// The tool with: its description cleaned; "$schema" dropped; "type" "object"; every
// top-level property an object (a non-object becomes {}), its Boolean "required" flag
// lifted into the tool's "required" list and removed, "type" "string" added when it has
// none of "type", "oneOf", "anyOf", "allOf", "$ref", an array given "items" {"type":
// "string"} when it has no object there, and its nested schemas (items, combinators, and
// its own properties' members) cleaned; "properties"
// always present; "required" sorted, or absent when empty; "additionalProperties" kept.
MCPTool sanitizedToolSchemaForExternalClients(const MCPTool& tool);

// One nested schema: its "description" cleaned, and the object members of "properties",
// an object "items" and the object elements of "anyOf", "oneOf" and "allOf" (a list only
// when every element is an object) cleaned in turn. Nothing is added or removed at nested
// levels. A value that is not an object is returned unchanged.
Json sanitizeSchemaDictionary(const Json& schema);

}  // namespace qd
