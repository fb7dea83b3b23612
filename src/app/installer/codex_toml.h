#pragma once

// Codex keeps its MCP servers in ~/.codex/config.toml. We edit that file as text, line by
// line, so that every comment, blank line and key order of the user's stays as it was; a
// TOML library would drop comments and reorder keys, so toml++ is used only to check the
// edited text: it must parse, and read back it must hold everything the file held apart
// from the server entries we removed or wrote.
//
// The file is cut into sections at header lines of the form "[table.name]" (white space
// around it allowed, nothing after it). Other lines that start with "[" (a one-word table
// such as [features], an array of tables [[x]], a header with a trailing comment) do not
// start a section, but our own section's body ends before the first of them and before
// the comment lines just above it, so they are never removed with ours. A section name in
// quotes ([mcp_servers."tinderbox"]) is the same table as the bare one and is compared
// unquoted. A file with CRLF line ends keeps them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/installer/managed_entries.h"

namespace qd {

class CodexTOMLError : public ClientConfigContentError {
 public:
  enum class Kind { unsupportedJSONServer, malformedJSONConfig, notUTF8, invalidResult };
  CodexTOMLError(Kind kind, std::string description)
      : ClientConfigContentError(std::move(description)), kind_(kind) {}
  static CodexTOMLError unsupportedJSONServer(const std::string& name);
  static CodexTOMLError malformedJSONConfig();
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct TOMLSectionHeader {
  std::string tableName;    // before the first dot
  std::string sectionName;  // everything after it, dots and quotes included
  std::string line;         // the whole line as read

  bool operator==(const TOMLSectionHeader&) const = default;
};

struct TOMLSection {
  std::optional<TOMLSectionHeader> header;  // absent for the lines before the first header
  std::vector<std::string> bodyLines;

  bool operator==(const TOMLSection&) const = default;
};

std::optional<TOMLSectionHeader> matchTOMLSectionHeader(std::string_view line);
// Sections in file order; a preamble that is blank is left out.
std::vector<TOMLSection> splitTOMLSections(std::string_view text);
// A section name compared as TOML reads it: one basic or literal string key unquoted.
std::string unquotedTOMLKey(std::string_view key);

// "[mcp_servers.<name>]", "command = ...", "args = [...]": three lines, no final line feed.
std::string renderCodexServerSection(const std::string& name, const std::string& command,
                                     const std::vector<std::string>& args);

// A JSON-shaped config.toml of an older version, as TOML sections (sorted by name). Refuses
// (CodexTOMLError) anything it could not carry over: keys other than "mcpServers", servers
// with keys other than a string "command" and a string-array "args".
std::string migrateLegacyCodexJSONToTOML(std::string_view trimmedJSON);

// The TOML text of a file's content: checked as UTF-8, migrated when it is JSON-shaped.
std::string loadCodexConfigText(std::string_view contents);

// The pure edits of the installer, from the file's bytes (nullopt: no file) to new bytes.
// Each result is checked with toml++ (CodexTOMLError invalidResult: its message and line,
// or a value outside the servers tables that the edit would change).
std::string codexConfigWithManagedServers(const std::optional<std::string>& contents, const std::string& command);
// nullopt: nothing is left, the file goes.
std::optional<std::string> codexConfigWithoutManagedServers(const std::string& contents);
// nullopt: the file holds no foreign "tinderbox" section beside ours, so nothing to do.
std::optional<std::string> codexConfigWithoutForeignTinderbox(const std::string& contents);
// Detection: the text holds the header of a managed or legacy server.
bool codexConfigHoldsManagedServers(std::string_view contents);

void validateTOML(std::string_view text);

}  // namespace qd
