#pragma once

// The JSON side of the client configuration files: reading one strictly, the pure edits of
// our entries, and the form a rewritten file takes (two-space indentation, every object's
// keys in byte order, a final line feed).

#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

enum class JsonClientKind {
  generic,   // Claude Code, Claude Desktop, Gemini CLI: "mcpServers" {command, args}
  droid,     // "mcpServers" {type "stdio", command, args, disabled false}
  openCode,  // "mcp" {type "local", command [executable, args...], enabled true}
};

const char* containerKey(JsonClientKind kind);

// The top-level object of a client file. Empty text, white space only and a top-level null
// count as an empty object. Throws ClientConfigContentError naming the cause for what a
// rewrite would damage: malformed JSON (the parser's message, with line and column),
// comments, a top level that is not an object, a duplicate key, an integer beyond 64 bits,
// nesting too deep.
Json parseClientConfigJson(std::string_view text);
std::string renderClientConfigJson(const Json& config);

// The object under `key`; an empty object when the key is absent or null. Throws
// ClientConfigContentError when the value is anything else.
Json containerObject(const Json& config, const char* key);

Json managedEntry(JsonClientKind kind, const std::string& command, const std::string& name);

// Deletes the legacy entry and sets our five entries (replacing whatever had their names).
Json configByInstallingManagedJSONEntries(Json config, JsonClientKind kind, const std::string& command);

struct ManagedRemoval {
  Json remaining;                        // the container without our entries
  std::vector<std::string> removedKeys;  // ascending
};

// Generic and Droid: object entries that have a managed or legacy name, or whose string
// "command" is ours. Values that are not objects always stay.
ManagedRemoval removingManagedJSONEntries(const Json& servers, const std::string& expectedCommand);
// OpenCode: entries with a managed or legacy name whatever their value, and object entries
// whose "command" is an array of strings starting with our command.
ManagedRemoval removingManagedOpenCodeEntries(const Json& mcp, const std::string& expectedCommand);

// Detection over a parsed container: a managed or legacy key, or an entry running our command.
bool holdsManagedEntries(const Json& container, JsonClientKind kind, const std::string* expectedCommand);

}  // namespace qd
