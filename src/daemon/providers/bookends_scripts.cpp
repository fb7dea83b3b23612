#include "daemon/providers/bookends_scripts.h"

#include <algorithm>
#include <map>

#include "daemon/providers/apple_script.h"

namespace qd::bookends {
namespace {

using AppleScriptHelpers::escape;

const char* const kBlank = "    ";

// The lines that append `variable` to jsonOutput, with ", " before every item but the first.
void appendItem(Script& script, const std::string& variable) {
  script.insert(script.end(), {"        if i > 1 then", "          set jsonOutput to jsonOutput & \", \"",
                               "        end if", "        set jsonOutput to jsonOutput & " + variable});
}

void closeJsonLoop(Script& script) {
  script.insert(script.end(), {"      end try", "    end repeat", "    set jsonOutput to jsonOutput & \"]\"",
                               "    return jsonOutput", "  end tell", "end tell"});
}

// `"\"key\": \"" & my escapeJSON(variable) & "\""`: one JSON string member, as AppleScript.
std::string jsonStringMember(const std::string& key, const std::string& variable) {
  return "\"\\\"" + key + "\\\": \\\"\" & my escapeJSON(" + variable + ") & \"\\\"\"";
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += separator;
    out += parts[i];
  }
  return out;
}

// A JSON object of string members as one AppleScript expression.
std::string jsonObjectExpression(const std::vector<std::pair<std::string, std::string>>& members) {
  std::vector<std::string> parts;
  for (const auto& [key, variable] : members) parts.push_back(jsonStringMember(key, variable));
  if (parts.empty()) return "\"{\" & \"}\"";
  return "\"{\" & " + joined(parts, " & \", \" & ") + " & \"}\"";
}

const std::map<std::string, std::string>& fieldMapping() {
  static const std::map<std::string, std::string> mapping = [] {
    std::map<std::string, std::string> m;
    for (const char* same : {"id", "type", "title", "authors", "editors", "journal", "abstract", "notes", "keywords",
                             "pages", "publisher", "volume", "location", "url", "doi", "pmid", "isbn", "citekey",
                             "rating", "attachments", "language"}) {
      m[same] = same;
    }
    m["publicationDateString"] = "publication date string";
    m["shortTitle"] = "short title";
    m["labelColor"] = "label color";
    m["dateAdded"] = "date added";
    m["dateModified"] = "date modified";
    for (int i = 1; i <= 20; ++i) m["user" + std::to_string(i)] = "user" + std::to_string(i);
    return m;
  }();
  return mapping;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

Script escapeJSONHandler() {
  // Walks the text's code points: a quote and a backslash are escaped, every control
  // character below U+0020 is written as \u00XX (so a vertical tab in a title still gives
  // valid JSON), and everything else is kept as it is.
  return {
      "on escapeJSON(theText)",
      "    if theText is missing value then return \"\"",
      "    set theText to theText as string",
      "    if theText is \"\" then return \"\"",
      "    set hexDigits to \"0123456789abcdef\"",
      "    set codePoints to id of theText",
      "    if class of codePoints is not list then set codePoints to {codePoints}",
      "    set outText to \"\"",
      "    repeat with codePoint in codePoints",
      "        set n to contents of codePoint",
      "        if n is 34 then",
      "            set outText to outText & \"\\\\\\\"\"",
      "        else if n is 92 then",
      "            set outText to outText & \"\\\\\\\\\"",
      "        else if n < 32 then",
      R"(            set outText to outText & "\\u00" & character ((n div 16) + 1) of hexDigits & )"
      R"(character ((n mod 16) + 1) of hexDigits)",
      "        else",
      "            set outText to outText & (character id n)",
      "        end if",
      "    end repeat",
      "    return outText",
      "end escapeJSON",
      "",
  };
}

Script libraryInfoScript() {
  return {"tell application \"Bookends\"", "set winName to name of front library window",
          "return \"Library: \" & winName", "end tell"};
}

namespace {
Script outLinesLoop(const std::string& list) {
  return {"set outLines to {}", "repeat with p in " + list,
          "set end of outLines to (\"id=\" & (id of p as string) & \" | title=\" & (title of p as string))",
          "end repeat", "return outLines as string"};
}
}  // namespace

Script selectedScript() {
  Script script{"tell application \"Bookends\"", "set selPubs to selected publications of front library window"};
  const Script loop = outLinesLoop("selPubs");
  script.insert(script.end(), loop.begin(), loop.end());
  script.push_back("end tell");
  return script;
}

std::optional<Script> searchMatches(const std::string& searchType) {
  if (searchType == "sql") return Script{"set matches to publications of front library window whose SQL search string is q"};
  if (searchType == "all") {
    return Script{"set matches to publications of front library window whose (title contains q) or ¬",
                  "(authors contains q) or (keywords contains q) or ¬", "(notes contains q)"};
  }
  static const std::map<std::string, std::string> searchTypeToField{
      {"year", "publication date string"}, {"title", "title"},         {"author", "authors"},
      {"keywords", "keywords"},            {"journal", "journal"},     {"publisher", "publisher"},
      {"notes", "notes"},                  {"doi", "doi"},
  };
  const auto it = searchTypeToField.find(searchType);
  if (it == searchTypeToField.end()) return std::nullopt;
  return Script{"set matches to publications of front library window whose (value of field \"" + escape(it->second) +
                "\" of it contains q)"};
}

Script searchScript(const std::string& query, const Script& matches) {
  Script script{"tell application \"Bookends\"", "set q to \"" + escape(query) + "\""};
  script.insert(script.end(), matches.begin(), matches.end());
  const Script loop = outLinesLoop("matches");
  script.insert(script.end(), loop.begin(), loop.end());
  script.push_back("end tell");
  return script;
}

Script listScript(std::int64_t limit, const std::vector<std::string>& fields) {
  Script script = escapeJSONHandler();
  std::vector<std::string> fieldLines;
  std::vector<std::pair<std::string, std::string>> members;
  for (const auto& field : fields) {
    fieldLines.push_back("            set " + field + "Value to " + propertyForField(field) + " of pub");
    members.emplace_back(field, field + "Value");
  }
  script.insert(script.end(), {"tell application \"Bookends\"", "  tell front library window",
                               "    set allPubs to every publication item", "    set pubCount to count of allPubs",
                               "    set maxPubs to " + std::to_string(limit), "    if pubCount > maxPubs then",
                               "      set pubCount to maxPubs", "    end if", kBlank, "    set jsonOutput to \"[\"",
                               "    repeat with i from 1 to pubCount", "      set pub to item i of allPubs", "      try",
                               joined(fieldLines, "\n"), "        set pubJSON to " + jsonObjectExpression(members)});
  appendItem(script, "pubJSON");
  closeJsonLoop(script);
  return script;
}

Script formatScript(const std::vector<std::string>& publicationIds, const std::optional<std::string>& formatName,
                    const std::string& outputFormat) {
  std::vector<std::string> quoted;
  for (const auto& id : publicationIds) quoted.push_back("\"" + escape(id) + "\"");
  const std::string usingClause = formatName ? "using \"" + escape(*formatName) + "\"" : "";
  return {"tell application \"Bookends\"",
          "  tell front library window",
          "    set pubList to {}",
          "    set idList to {" + joined(quoted, ", ") + "}",
          "    repeat with pubId in idList",
          "      try",
          "        set thePub to first publication item whose id is pubId",
          "        set end of pubList to thePub",
          "      end try",
          "    end repeat",
          kBlank,
          "    if (count of pubList) > 0 then",
          "      set formattedRefs to format pubList " + usingClause + " as " + outputFormat,
          "      return formattedRefs",
          "    else",
          "      return \"No publications found with the given IDs\"",
          "    end if",
          "  end tell",
          "end tell"};
}

Script groupsScript() {
  Script script = escapeJSONHandler();
  script.insert(script.end(),
                {"tell application \"Bookends\"", "  tell front library window", "    set allGroups to every group item",
                 "    set groupCount to count of allGroups", kBlank, "    set jsonOutput to \"[\"",
                 "    repeat with i from 1 to groupCount", "      set theGroup to item i of allGroups", "      try",
                 "        set groupId to id of theGroup", "        set groupName to name of theGroup",
                 "        set groupColor to color index of theGroup", kBlank,
                 "        set groupJSON to \"{\\\"id\\\": \\\"\" & my escapeJSON(groupId) & \"\\\", \\\"name\\\": \\\"\" & "
                 "my escapeJSON(groupName) & \"\\\", \\\"colorIndex\\\": \" & groupColor & \"}\"",
                 kBlank});
  appendItem(script, "groupJSON");
  closeJsonLoop(script);
  return script;
}

Script attachmentsScript(const std::string& publicationId) {
  Script script = escapeJSONHandler();
  script.insert(script.end(),
                {"tell application \"Bookends\"", "  tell front library window",
                 "    set thePub to first publication item whose id is \"" + escape(publicationId) + "\"",
                 "    set allAttachments to every attachment item of thePub",
                 "    set attachCount to count of allAttachments", kBlank, "    set jsonOutput to \"[\"",
                 "    repeat with i from 1 to attachCount", "      set theAttachment to item i of allAttachments",
                 "      try", "        set attachName to name of theAttachment",
                 "        set attachPath to path of theAttachment", kBlank,
                 "        set attachJSON to " + jsonObjectExpression({{"name", "attachName"}, {"path", "attachPath"}}),
                 kBlank});
  appendItem(script, "attachJSON");
  closeJsonLoop(script);
  return script;
}

Script pdfInfoScript() {
  Script script = escapeJSONHandler();
  script.insert(script.end(),
                {"tell application \"Bookends\"",
                 "  tell front library window",
                 "    try",
                 "      set pdfName to name of displayed PDF",
                 "      set pdfPath to path to displayed PDF",
                 "      set selectedText to \"\"",
                 "      set selectedTextInfo to \"\"",
                 "      set linkToSelectedText to \"\"",
                 "      set linkToPdf to \"\"",
                 "      try",
                 "        set selectedText to selected text of displayed PDF",
                 "      end try",
                 "      try",
                 "        set selectedTextInfo to selected text info of displayed PDF",
                 "      end try",
                 "      try",
                 "        set linkToSelectedText to link to selected text of displayed PDF",
                 "      end try",
                 "      try",
                 "        set linkToPdf to link to displayed PDF",
                 "      end try",
                 "      return " + jsonObjectExpression({{"name", "pdfName"},
                                                         {"path", "pdfPath"},
                                                         {"selectedText", "selectedText"},
                                                         {"selectedTextInfo", "selectedTextInfo"},
                                                         {"linkToSelectedText", "linkToSelectedText"},
                                                         {"linkToPdf", "linkToPdf"}}),
                 "    on error",
                 "      return \"{\\\"error\\\": \\\"No PDF currently displayed\\\"}\"",
                 "    end try",
                 "  end tell",
                 "end tell"});
  return script;
}

std::string propertyForField(const std::string& field) {
  const auto it = fieldMapping().find(field);
  return it == fieldMapping().end() ? field : it->second;
}

bool isValidField(const std::string& field) {
  if (fieldMapping().count(field) > 0) return true;
  if (field.empty() || !isAsciiLetter(field.front())) return false;
  return std::all_of(field.begin(), field.end(),
                     [](char c) { return isAsciiLetter(c) || (c >= '0' && c <= '9'); });
}

const std::vector<std::string>& defaultFields() {
  static const std::vector<std::string> fields{"id",  "title", "authors", "journal", "publicationDateString",
                                               "doi", "citekey"};
  return fields;
}

const std::vector<std::string>& outputFormats() {
  static const std::vector<std::string> formats{"plain text", "RTF", "BibTeX", "HTML", "Markdown"};
  return formats;
}

}  // namespace qd::bookends
