#pragma once

// The JavaScript for Automation programs the DEVONthink tool runs. Each starts with
// `const app = Application('DEVONthink 3');` and ends by evaluating one JSON.stringify,
// whose text osascript prints. Every value from a call goes in as a JSON string literal.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd::devonthink {

// The value as a JSON string literal, quotes included, from our JSON writer; U+2028 and
// U+2029 are escaped too, so the literal is valid in any JavaScript.
std::string jsonString(std::string_view value);

std::string isRunningScript();
std::string openDatabasesScript();
std::string currentDatabaseScript();
std::string selectedRecordsScript();
std::string searchScript(const std::string& query);
std::string lookupRecordScript(const std::string& name);
std::string recordByUuidScript(const std::string& uuid);
// `id` as text: the program compares it with Number(r.id()) of every record.
std::string recordByIdScript(const std::string& id);
std::string recordPropertiesScript(const std::string& uuid);
std::string recordContentScript(const std::string& uuid);
std::string groupContentScript(const std::string& uuid);
std::string createRecordScript(const std::string& name, const std::string& content, const std::string& type,
                               const std::string& groupUUID);
std::string createFromUrlScript(const std::string& url, const std::string& name, const std::string& groupUUID);
std::string deleteRecordScript(const std::string& uuid);
std::string moveRecordScript(const std::string& uuid, const std::string& destinationGroupUUID);
std::string renameRecordScript(const std::string& uuid, const std::string& newName);
std::string addTagsScript(const std::string& uuid, const std::vector<std::string>& tags);
std::string removeTagsScript(const std::string& uuid, const std::vector<std::string>& tags);
std::string updateRecordContentScript(const std::string& uuid, const std::string& content);
// One try/catch pair per value given, in the order comment, flag, locked.
std::string buildPropertyUpdateScript(const std::optional<std::string>& comment, std::optional<bool> flag,
                                      std::optional<bool> locked);
std::string setRecordPropertiesScript(const std::string& uuid, const std::optional<std::string>& comment,
                                      std::optional<bool> flag, std::optional<bool> locked);

}  // namespace qd::devonthink
