#include "app/installer/codex_toml.h"

#include <toml++/toml.h>

#include <cstdio>
#include <functional>
#include <map>

#include "app/installer/json_client_config.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr std::string_view kServersTable = "mcp_servers";

std::size_t skipSpace(std::string_view s, std::size_t pos) {
  while (std::size_t n = unicode::whiteSpaceLengthAt(s, pos)) pos += n;
  return pos;
}

bool isBlankLine(std::string_view line) { return skipSpace(line, 0) == line.size(); }

bool isCommentLine(std::string_view line) {
  const std::size_t pos = skipSpace(line, 0);
  return pos < line.size() && line[pos] == '#';
}

bool startsWithBracket(std::string_view line) {
  const std::size_t pos = skipSpace(line, 0);
  return pos < line.size() && line[pos] == '[';
}

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string joinLines(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
  std::string out;
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) out += '\n';
    out += lines[i];
  }
  return out;
}

// A block without its leading and trailing blank lines; the lines in between stay exactly
// as they are, so no line of the user's changes.
std::string trimBlankLines(const std::vector<std::string>& lines) {
  std::size_t from = 0, to = lines.size();
  while (from < to && isBlankLine(lines[from])) ++from;
  while (to > from && isBlankLine(lines[to - 1])) --to;
  return joinLines(lines, from, to);
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      return lines;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(from, start)) != std::string_view::npos; start = at + from.size()) {
    out.append(text.substr(start, at - start));
    out.append(to);
  }
  out.append(text.substr(start));
  return out;
}

// A file uses CRLF when every line feed in it ends a CRLF pair; mixed files are edited as
// they are (a stray "\r" is white space at the end of a line).
bool usesCRLF(std::string_view text) {
  std::size_t lf = 0, crlf = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    ++lf;
    if (i > 0 && text[i - 1] == '\r') ++crlf;
  }
  return lf > 0 && lf == crlf;
}

// Runs an edit on line-feed text and gives the result the file's own line ends.
template <typename Edit>
auto withFileLineEnds(std::string_view contents, Edit edit) {
  const bool crlf = usesCRLF(contents);
  auto result = edit(crlf ? replaceAll(contents, "\r\n", "\n") : std::string(contents));
  if constexpr (std::is_same_v<decltype(result), std::string>) {
    return crlf ? replaceAll(result, "\n", "\r\n") : result;
  } else {
    if (result && crlf) *result = replaceAll(*result, "\n", "\r\n");
    return result;
  }
}

bool isBareKey(std::string_view key) {
  if (key.empty()) return false;
  for (char c : key) {
    if (!isAsciiLetter(c) && !isDigit(c) && c != '_' && c != '-') return false;
  }
  return true;
}

// A TOML basic string: backslash, quote and every control character escaped.
std::string tomlString(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04X", u);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void appendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The value of a basic string key (without its quotes), or nullopt when it is not one.
std::optional<std::string> unescapeBasic(std::string_view inner) {
  std::string out;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= inner.size()) return std::nullopt;
    switch (inner[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'b': out += '\b'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'f': out += '\f'; break;
      case 'r': out += '\r'; break;
      case 'u':
      case 'U': {
        const std::size_t digits = inner[i] == 'u' ? 4 : 8;
        if (i + digits >= inner.size()) return std::nullopt;
        const std::string hex(inner.substr(i + 1, digits));
        if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
        const unsigned long cp = std::stoul(hex, nullptr, 16);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        appendUtf8(out, cp);
        i += digits;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return out;
}

bool isServersTable(const TOMLSectionHeader& header) {
  return header.tableName == kServersTable || header.tableName == "mcpServers";
}

bool mentionsDaemon(std::string_view text) { return text.find(kDaemonExecutableName) != std::string_view::npos; }

// The end of a section's own body: the first line that starts with "[" (a header our
// splitter does not recognise belongs to the user, not to the section above it).
std::size_t ownBodyEnd(const std::vector<std::string>& body) {
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (startsWithBracket(body[i])) return i;
  }
  return body.size();
}

// Predicate: should this section (its header and its own body) go?
using DropSection = std::function<bool(const TOMLSectionHeader&, std::string_view ownBody)>;

// The text as blocks joined by one blank line, without the sections `drop` selects. Of a
// dropped section, the comment lines at the end of its own body (they introduce what
// follows) and every line from its first "[" line on are kept.
std::pair<std::string, int> removingSections(std::string_view text, const DropSection& drop) {
  std::vector<std::string> blocks;
  int dropped = 0;
  auto keep = [&](const std::vector<std::string>& lines) {
    std::string block = trimBlankLines(lines);
    if (!block.empty()) blocks.push_back(std::move(block));
  };
  for (const TOMLSection& section : splitTOMLSections(text)) {
    const auto& body = section.bodyLines;
    if (!section.header) {
      keep(body);
      continue;
    }
    const std::size_t end = ownBodyEnd(body);
    if (!drop(*section.header, joinLines(body, 0, end))) {
      std::vector<std::string> lines{section.header->line};
      lines.insert(lines.end(), body.begin(), body.end());
      keep(lines);
      continue;
    }
    ++dropped;
    std::size_t from = end;
    while (from > 0 && (isCommentLine(body[from - 1]) || isBlankLine(body[from - 1]))) --from;
    keep(std::vector<std::string>(body.begin() + static_cast<std::ptrdiff_t>(from), body.end()));
  }
  std::string out;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i > 0) out += "\n\n";
    out += blocks[i];
  }
  return {out, dropped};
}

std::string removingManagedSections(std::string_view text) {
  return removingSections(text, [](const TOMLSectionHeader& header, std::string_view body) {
           return isServersTable(header) && (isManagedOrLegacyName(unquotedTOMLKey(header.sectionName)) ||
                                             mentionsDaemon(body));
         }).first;
}

std::string renderManagedSections(const std::string& command) {
  std::string out;
  for (const auto& name : managedEndpointNames()) {
    if (!out.empty()) out += "\n\n";
    out += renderCodexServerSection(name, command, {"--client", "--profile", name});
  }
  return out;
}

bool isBlankText(std::string_view text) { return isBlankLine(text); }

}  // namespace

CodexTOMLError CodexTOMLError::unsupportedJSONServer(const std::string& name) {
  return CodexTOMLError(Kind::unsupportedJSONServer,
                        "Codex config.toml contains unsupported JSON fields for server '" + name + "'.");
}

CodexTOMLError CodexTOMLError::malformedJSONConfig() {
  return CodexTOMLError(Kind::malformedJSONConfig, "Codex config.toml contained malformed JSON that could not be migrated.");
}

std::optional<TOMLSectionHeader> matchTOMLSectionHeader(std::string_view line) {
  std::size_t pos = skipSpace(line, 0);
  if (pos >= line.size() || line[pos] != '[') return std::nullopt;
  const std::size_t tableStart = ++pos;
  if (pos >= line.size() || !(isAsciiLetter(line[pos]) || line[pos] == '_')) return std::nullopt;
  while (pos < line.size() && (isAsciiLetter(line[pos]) || isDigit(line[pos]) || line[pos] == '_')) ++pos;
  if (pos >= line.size() || line[pos] != '.') return std::nullopt;
  const std::size_t tableEnd = pos++;
  const std::size_t close = line.find(']', pos);
  if (close == std::string_view::npos || close == pos) return std::nullopt;
  if (skipSpace(line, close + 1) != line.size()) return std::nullopt;
  return TOMLSectionHeader{std::string(line.substr(tableStart, tableEnd - tableStart)),
                           std::string(line.substr(pos, close - pos)), std::string(line)};
}

std::vector<TOMLSection> splitTOMLSections(std::string_view text) {
  std::vector<TOMLSection> sections;
  if (text.empty()) return sections;
  TOMLSection current;
  for (auto& line : splitLines(text)) {
    if (auto header = matchTOMLSectionHeader(line)) {
      sections.push_back(std::move(current));
      current = TOMLSection{std::move(header), {}};
    } else {
      current.bodyLines.push_back(std::move(line));
    }
  }
  sections.push_back(std::move(current));
  if (!sections.front().header && trimBlankLines(sections.front().bodyLines).empty()) sections.erase(sections.begin());
  return sections;
}

std::string unquotedTOMLKey(std::string_view key) {
  std::size_t from = skipSpace(key, 0);
  std::size_t to = key.size();
  while (to > from && (key[to - 1] == ' ' || key[to - 1] == '\t')) --to;
  const std::string_view core = key.substr(from, to - from);
  if (core.size() >= 2 && core.front() == '\'' && core.back() == '\'') {
    const std::string_view inner = core.substr(1, core.size() - 2);
    if (inner.find('\'') == std::string_view::npos) return std::string(inner);
  }
  if (core.size() >= 2 && core.front() == '"' && core.back() == '"') {
    if (auto value = unescapeBasic(core.substr(1, core.size() - 2))) return *value;
  }
  return std::string(isBareKey(core) ? core : key);
}

std::string renderCodexServerSection(const std::string& name, const std::string& command,
                                     const std::vector<std::string>& args) {
  std::string out = "[mcp_servers." + (isBareKey(name) ? name : tomlString(name)) + "]\ncommand = " + tomlString(command) +
                    "\nargs = [";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ", ";
    out += tomlString(args[i]);
  }
  return out + "]";
}

std::string migrateLegacyCodexJSONToTOML(std::string_view trimmedJSON) {
  const Json config = parseClientConfigJson(trimmedJSON);
  for (const auto& [key, _] : config.items()) {
    if (key != "mcpServers") throw CodexTOMLError::malformedJSONConfig();
  }
  Json servers = Json::object();
  if (auto it = config.find("mcpServers"); it != config.end() && !it->is_null()) {
    if (!it->is_object()) throw CodexTOMLError::malformedJSONConfig();
    servers = *it;
  }
  std::map<std::string, const Json*> byName;  // byte order is code point order in UTF-8
  for (const auto& [name, value] : servers.items()) byName[name] = &value;
  std::string out;
  for (const auto& [name, value] : byName) {
    if (!value->is_object()) throw CodexTOMLError::unsupportedJSONServer(name);
    std::vector<std::string> args;
    for (const auto& [key, field] : value->items()) {
      if (key == "command" && field.is_string()) continue;
      if (key != "args" || !field.is_array()) throw CodexTOMLError::unsupportedJSONServer(name);
      for (const Json& arg : field) {
        if (!arg.is_string()) throw CodexTOMLError::unsupportedJSONServer(name);
        args.push_back(arg.get<std::string>());
      }
    }
    auto command = value->find("command");
    if (command == value->end()) throw CodexTOMLError::unsupportedJSONServer(name);
    if (!out.empty()) out += "\n\n";
    out += renderCodexServerSection(name, command->get<std::string>(), args);
  }
  return out;
}

std::string loadCodexConfigText(std::string_view contents) {
  if (!unicode::isValidUtf8(contents)) throw CodexTOMLError(CodexTOMLError::Kind::notUTF8, "The file is not valid UTF-8 text.");
  const std::size_t first = skipSpace(contents, 0);
  if (first < contents.size() && contents[first] == '{') {
    std::size_t last = contents.size();
    while (last > first && unicode::whiteSpaceLengthAt(contents, last - 1) == 1) --last;
    return migrateLegacyCodexJSONToTOML(contents.substr(first, last - first));
  }
  return std::string(contents);
}

void validateTOML(std::string_view text) {
  try {
    (void)toml::parse(text);
  } catch (const toml::parse_error& e) {
    throw CodexTOMLError(CodexTOMLError::Kind::invalidResult,
                         "The edited file would not be valid TOML: " + std::string(e.description()) + " (line " +
                             std::to_string(e.source().begin.line) + ").");
  }
}

namespace {

// The edit is made on lines, so a line that only looks like a header (inside a multi-line
// string) could cut a value short and still leave valid TOML. Both texts are read with
// toml++ and compared without the server entries: everything else must be equal. Entries
// under the servers tables may only have gone (they were ours or named our daemon).
void checkOnlyServersChanged(std::string_view before, std::string_view after) {
  toml::table old;
  try {
    old = toml::parse(before);
  } catch (const toml::parse_error&) {
    return;  // the broken part was in our sections, which are gone; the result parses
  }
  toml::table now = toml::parse(after);
  for (const char* tableName : {"mcp_servers", "mcpServers"}) {
    toml::table* oldServers = old[tableName].as_table();
    toml::table* newServers = now[tableName].as_table();
    for (const auto& name : codexServerNames()) {
      if (oldServers) oldServers->erase(name);
      if (newServers) newServers->erase(name);
    }
    if (oldServers) {
      std::vector<std::string> gone;
      for (const auto& [key, _] : *oldServers) {
        if (!newServers || !newServers->contains(key.str())) gone.emplace_back(key.str());
      }
      for (const auto& key : gone) oldServers->erase(key);
      if (oldServers->empty()) old.erase(tableName);
    }
    if (newServers && newServers->empty()) now.erase(tableName);
  }
  if (old != now) {
    throw CodexTOMLError(CodexTOMLError::Kind::invalidResult,
                         "The edit would change other settings of the file (is a line inside a multi-line string "
                         "shaped like a section header?).");
  }
}

// Checks the result of an edit of `loaded` (the file's TOML text) before it is written.
void checkEdit(std::string_view loaded, std::string_view result) {
  validateTOML(result);
  checkOnlyServersChanged(loaded, result);
}

}  // namespace

std::string codexConfigWithManagedServers(const std::optional<std::string>& contents, const std::string& command) {
  return withFileLineEnds(contents.value_or(""), [&](const std::string& text) {
    const std::string loaded = loadCodexConfigText(text);
    const std::string remaining = removingManagedSections(loaded);
    const std::string ours = renderManagedSections(command);
    std::string result = isBlankText(remaining) ? ours + "\n" : remaining + "\n\n" + ours + "\n";
    checkEdit(loaded, result);
    return result;
  });
}

std::optional<std::string> codexConfigWithoutManagedServers(const std::string& contents) {
  return withFileLineEnds(contents, [&](const std::string& text) -> std::optional<std::string> {
    const std::string loaded = loadCodexConfigText(text);
    const std::string remaining = removingManagedSections(loaded);
    if (isBlankText(remaining)) return std::nullopt;
    checkEdit(loaded, remaining + "\n");
    return remaining + "\n";
  });
}

std::optional<std::string> codexConfigWithoutForeignTinderbox(const std::string& contents) {
  return withFileLineEnds(contents, [&](const std::string& text) -> std::optional<std::string> {
    const std::string loaded = loadCodexConfigText(text);
    if (!mentionsDaemon(loaded)) return std::nullopt;
    auto [remaining, dropped] = removingSections(loaded, [](const TOMLSectionHeader& header, std::string_view body) {
      return header.tableName == kServersTable && unquotedTOMLKey(header.sectionName) == "tinderbox" &&
             !mentionsDaemon(body);
    });
    if (dropped == 0) return std::nullopt;
    checkEdit(loaded, remaining + "\n");
    return remaining + "\n";
  });
}

bool codexConfigHoldsManagedServers(std::string_view contents) {
  for (const auto& name : codexServerNames()) {
    if (contents.find("[mcp_servers." + name + "]") != std::string_view::npos) return true;
  }
  for (const auto& section : splitTOMLSections(contents)) {
    if (section.header && section.header->tableName == kServersTable &&
        isManagedOrLegacyName(unquotedTOMLKey(section.header->sectionName))) {
      return true;
    }
  }
  return false;
}

}  // namespace qd
