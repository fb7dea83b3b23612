#pragma once

// The reply shapes of the coordination tools: one text item, pretty JSON texts, the plain
// bracketed list form, and the task list.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "daemon/utilities/json.h"
#include "daemon/work/tracked_records.h"

namespace qd {

// {"content": [{"type": "text", "text": text}]}
Json textReply(std::string text);

// Indented JSON, members in the order they were written.
std::string prettyJsonText(const Json& value);

// Compact JSON with every "/" written as "\/", the form stored in note attributes.
std::string compactJsonTextEscapingSolidus(const Json& value);

// The plain bracketed form: a list as "[a, b]" ("[]" when empty), a map as
// "[\"k\": v, ...]" in the given order ("[:]" when empty), a string in double quotes, an
// absent optional as nil and a present one as Optional(value). Elements and values are
// passed already rendered.
namespace plain {
std::string list(const std::vector<std::string>& renderedElements);
std::string map(const std::vector<std::pair<std::string, std::string>>& renderedEntries);
std::string string(const std::string& text);
std::string optional(const std::optional<std::string>& renderedValue);
// A JSON value in its display form (strings quoted, objects as maps).
std::string value(const Json& value);
}  // namespace plain

// One object per task with "id", "title", "status", "assignee" (null when none),
// "updatedAt", "metadata" and "comments" ({"who", "note", "timestamp"}), in the given order.
Json taskListJson(const std::vector<TrackedTask>& tasks);

// The tasks tool's list reply: the task list as pretty JSON in one text item.
Json renderTaskList(const std::vector<TrackedTask>& tasks);

// The agents tool's list reply text: the same entries in the plain bracketed form, the
// keys in that fixed order, the assignee as nil or Optional("name").
std::string plainTaskListing(const std::vector<TrackedTask>& tasks);

}  // namespace qd
