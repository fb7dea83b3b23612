#pragma once

// The AppleScript programs of the Bookends tool, line by line. Every value placed inside
// a string literal is escaped; values placed outside one (a limit, field names, the output
// format) are checked by the caller first.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qd::bookends {

using Script = std::vector<std::string>;

// The AppleScript handler that writes a value as the inside of a JSON string (24 lines and
// a blank one), placed before the tell block of every script that answers JSON.
Script escapeJSONHandler();

Script libraryInfoScript();
Script selectedScript();
// `matches`: the lines that set `matches` from the query in `q`.
Script searchScript(const std::string& query, const Script& matches);
// The lines that set `matches` for a search type, none for an unknown type.
std::optional<Script> searchMatches(const std::string& searchType);
// `fields`: checked names (see isValidField).
Script listScript(std::int64_t limit, const std::vector<std::string>& fields);
Script formatScript(const std::vector<std::string>& publicationIds, const std::optional<std::string>& formatName,
                    const std::string& outputFormat);
Script groupsScript();
Script attachmentsScript(const std::string& publicationId);
Script pdfInfoScript();

// The Bookends property a field name reads: the mapped name, or the name itself.
std::string propertyForField(const std::string& field);
// A key of the field table, or a plain identifier (an ASCII letter, then letters and digits):
// nothing else may become a variable or property name in a script.
bool isValidField(const std::string& field);
const std::vector<std::string>& defaultFields();

// "plain text", "RTF", "BibTeX", "HTML", "Markdown".
const std::vector<std::string>& outputFormats();

}  // namespace qd::bookends
