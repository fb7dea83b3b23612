#include "daemon/providers/devonthink_scripts.h"

namespace qd::devonthink {
namespace {

constexpr const char* kApp = "const app = Application('DEVONthink 3');\n";
constexpr const char* kRecordFields = "{ uuid: r.uuid(), id: r.id(), name: r.name(), path: r.path() }";
constexpr const char* kNotFound = "if (!r) {\n  JSON.stringify({ success: false, error: 'Record not found' });\n} else {\n";

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string recordByUuid(const std::string& uuid, const char* variable = "r") {
  return std::string("const ") + variable + " = app.recordWithUuid(" + jsonString(uuid) + ");\n";
}

// The record reply of a lookup or a creation.
std::string recordReply(const char* variable) {
  return std::string("JSON.stringify({ success: !!") + variable + ", record: " + variable + " ? { uuid: " + variable +
         ".uuid(), id: " + variable + ".id(), name: " + variable + ".name(), path: " + variable +
         ".path() } : null });";
}

// Line and paragraph separators are valid in JSON strings but ended string literals in
// older JavaScript.
std::string withSeparatorsEscaped(std::string text) {
  text = replaceAll(std::move(text), "\u2028", "\\u2028");
  return replaceAll(std::move(text), "\u2029", "\\u2029");
}

std::string tagsArray(const std::vector<std::string>& tags) { return withSeparatorsEscaped(dumpJson(Json(tags))); }

// The parent group when a UUID is given, and the creation call with or without `in`.
std::string parentLines(const std::string& groupUUID) {
  return "const groupUUID = " + jsonString(groupUUID) +
         ";\nlet parent = null;\nif (groupUUID.length) parent = app.recordWithUuid(groupUUID);\n";
}

}  // namespace

std::string jsonString(std::string_view value) {
  std::string text;
  try {
    text = dumpJson(Json::array({std::string(value)}));
  } catch (...) {
    return "\"\"";
  }
  if (text.size() < 2) return "\"\"";
  return withSeparatorsEscaped(text.substr(1, text.size() - 2));
}

std::string isRunningScript() {
  return std::string(kApp) + "app.includeStandardAdditions = true;\nJSON.stringify({ success: true, isRunning: app.running() });";
}

std::string openDatabasesScript() {
  return std::string(kApp) +
         "const databases = app.databases().map(db => ({ name: db.name(), uuid: db.uuid(), filename: db.filename() }));\n"
         "JSON.stringify({ success: true, databases });";
}

std::string currentDatabaseScript() {
  return std::string(kApp) +
         "const db = app.currentDatabase();\n"
         "JSON.stringify({ success: !!db, database: db ? { name: db.name(), uuid: db.uuid(), filename: db.filename() } : null });";
}

std::string selectedRecordsScript() {
  return std::string(kApp) + "const records = app.selectedRecords().map(r => (" + kRecordFields + "));\n" +
         "JSON.stringify({ success: true, records });";
}

std::string searchScript(const std::string& query) {
  return std::string(kApp) + "const q = " + jsonString(query) + ";\n" + "const records = app.search(q).map(r => (" +
         kRecordFields + "));\n" + "JSON.stringify({ success: true, count: records.length, records });";
}

std::string lookupRecordScript(const std::string& name) {
  return std::string(kApp) + "const n = " + jsonString(name) + ";\n" +
         "const records = app.records.whose({ name: n })().map(r => (" + kRecordFields + "));\n" +
         "JSON.stringify({ success: true, count: records.length, records });";
}

std::string recordByUuidScript(const std::string& uuid) { return kApp + recordByUuid(uuid) + recordReply("r"); }

std::string recordByIdScript(const std::string& id) {
  return std::string(kApp) + "const wanted = Number(" + jsonString(id) + ");\n" +
         "const r = app.records().find(x => Number(x.id()) === wanted);\n" + recordReply("r");
}

std::string recordPropertiesScript(const std::string& uuid) {
  return kApp + recordByUuid(uuid) +
         "JSON.stringify({ success: !!r, record: r ? { uuid: r.uuid(), id: r.id(), name: r.name(), path: r.path(), "
         "type: r.type(), tags: r.tags(), flagged: r.flagged(), comment: r.comment() } : null });";
}

std::string recordContentScript(const std::string& uuid) {
  return kApp + recordByUuid(uuid) + "JSON.stringify({ success: !!r, content: r ? r.plainText() : null });";
}

std::string groupContentScript(const std::string& uuid) {
  return kApp + recordByUuid(uuid, "g") +
         "const out = g ? g.children().map(r => ({ uuid: r.uuid(), id: r.id(), name: r.name(), path: r.path(), "
         "type: r.type() })) : [];\n"
         "JSON.stringify({ success: !!g, records: out });";
}

std::string createRecordScript(const std::string& name, const std::string& content, const std::string& type,
                               const std::string& groupUUID) {
  return kApp + parentLines(groupUUID) + "const options = { name: " + jsonString(name) + " };\n" +
         "const content = " + jsonString(content) + ";\n" + "const type = " + jsonString(type) + ";\n" +
         "let rec;\n"
         "if (type === \"markdown\") {\n"
         "  rec = parent ? app.createMarkdown(content, { in: parent, withProperties: options })\n"
         "               : app.createMarkdown(content, { withProperties: options });\n"
         "} else {\n"
         "  rec = parent ? app.createRecordWith({ plainText: content }, { in: parent, withProperties: options })\n"
         "               : app.createRecordWith({ plainText: content }, { withProperties: options });\n"
         "}\n" +
         recordReply("rec");
}

std::string createFromUrlScript(const std::string& url, const std::string& name, const std::string& groupUUID) {
  return kApp + parentLines(groupUUID) + "const options = {};\n" + "const name = " + jsonString(name) + ";\n" +
         "if (name.length) options.name = name;\n" + "const url = " + jsonString(url) + ";\n" +
         "const rec = parent ? app.createRecordWith({ url: url }, { in: parent, withProperties: options })\n"
         "                   : app.createRecordWith({ url: url }, { withProperties: options });\n" +
         recordReply("rec");
}

std::string deleteRecordScript(const std::string& uuid) {
  return kApp + recordByUuid(uuid) + kNotFound + "  app.delete(r);\n  JSON.stringify({ success: true });\n}";
}

std::string moveRecordScript(const std::string& uuid, const std::string& destinationGroupUUID) {
  return kApp + recordByUuid(uuid) + recordByUuid(destinationGroupUUID, "d") +
         "if (!r || !d) {\n  JSON.stringify({ success: false, error: 'Record or destination not found' });\n} else {\n"
         "  app.move(r, { to: d });\n  JSON.stringify({ success: true });\n}";
}

std::string renameRecordScript(const std::string& uuid, const std::string& newName) {
  return kApp + recordByUuid(uuid) + kNotFound + "  r.name = " + jsonString(newName) +
         ";\n  JSON.stringify({ success: true });\n}";
}

std::string addTagsScript(const std::string& uuid, const std::vector<std::string>& tags) {
  return kApp + recordByUuid(uuid) + kNotFound + "  r.tags = r.tags().concat(" + tagsArray(tags) +
         ");\n  JSON.stringify({ success: true });\n}";
}

std::string removeTagsScript(const std::string& uuid, const std::vector<std::string>& tags) {
  return kApp + recordByUuid(uuid) + kNotFound + "  const tagsToRemove = new Set(" + tagsArray(tags) + ");\n" +
         "  r.tags = r.tags().filter(tag => !tagsToRemove.has(tag));\n  JSON.stringify({ success: true });\n}";
}

std::string updateRecordContentScript(const std::string& uuid, const std::string& content) {
  return kApp + recordByUuid(uuid) + kNotFound + "  const content = " + jsonString(content) + ";\n" +
         "  const recordType = r.type();\n"
         "  let updatedProperty;\n"
         "  if (recordType === 'HTML' || recordType === 'webarchive') {\n"
         "    r.source = content;\n    updatedProperty = 'source';\n"
         "  } else {\n"
         "    r.plainText = content;\n    updatedProperty = 'plainText';\n"
         "  }\n"
         "  JSON.stringify({ success: true, uuid: r.uuid(), name: r.name(), recordType, updatedProperty });\n}";
}

std::string buildPropertyUpdateScript(const std::optional<std::string>& comment, std::optional<bool> flag,
                                      std::optional<bool> locked) {
  std::vector<std::string> parts;
  const auto pair = [&](const std::string& assignment, const std::string& name) {
    parts.push_back("    try { " + assignment + "; updated.push('" + name + "'); }\n    catch (e) { skipped.push('" + name +
                    ": ' + e.toString()); }");
  };
  if (comment) pair("rec.comment = " + jsonString(*comment), "comment");
  if (flag) pair(std::string("rec.flag = ") + (*flag ? "true" : "false"), "flag");
  if (locked) pair(std::string("rec.locking = ") + (*locked ? "true" : "false"), "locking");
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? "\n" : "") + parts[i];
  return out;
}

std::string setRecordPropertiesScript(const std::string& uuid, const std::optional<std::string>& comment,
                                      std::optional<bool> flag, std::optional<bool> locked) {
  return kApp + recordByUuid(uuid, "rec") +
         "if (!rec) {\n  JSON.stringify({ success: false, error: 'Record not found' });\n} else {\n"
         "  const updated = [];\n  const skipped = [];\n" +
         buildPropertyUpdateScript(comment, flag, locked) +
         "\n  JSON.stringify({ success: true, uuid: rec.uuid(), name: rec.name(), recordType: rec.type(), updated, "
         "skipped });\n}";
}

}  // namespace qd::devonthink
