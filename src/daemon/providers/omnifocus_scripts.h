#pragma once

// The AppleScript programs the OmniFocus tool sends, built from the call's request
// records. Every program is framed by `tell application "OmniFocus"` / `tell default
// document` and two `end tell` lines; every value from the call is escaped into a
// double-quoted literal.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/timezone.h>

#include "daemon/utilities/json.h"

namespace qd::omnifocus {

using Program = std::vector<std::string>;

struct QueryRequest {
  std::string entity = "tasks";
  std::int64_t limit = 50;
  Json filters = Json::object();
  std::vector<std::string> fields{};
  std::string sortBy{};
  std::string sortOrder = "asc";
  bool includeCompleted = false;
  bool summary = false;
};

struct AddTaskRequest {
  std::string name{};
  std::string note{};
  std::string projectName{};
  bool flagged = false;
  std::string dueDate{};
  std::string deferDate{};
  std::int64_t estimatedMinutes = 0;
  std::vector<std::string> tags{};
  std::string parentTaskId{};
  std::string parentTaskName{};
};

struct AddProjectRequest {
  std::string name{};
  std::string note{};
  std::string folderName{};
  bool sequential = false;
  std::string dueDate{};
  std::string deferDate{};
  bool flagged = false;
  std::int64_t estimatedMinutes = 0;
  std::vector<std::string> tags{};
};

// Optional fields: absent means not given.
struct EditItemRequest {
  std::string itemType = "task";
  std::string id{};
  std::string name{};
  std::string newName{};
  std::string newNote{};
  std::optional<bool> newFlagged{};
  std::optional<std::string> newDueDate{};
  std::optional<std::string> newDeferDate{};
  std::optional<std::int64_t> newEstimatedMinutes{};
  std::optional<std::string> newStatus{};
  std::optional<std::vector<std::string>> addTags{};
  std::optional<std::vector<std::string>> removeTags{};
  std::optional<std::vector<std::string>> replaceTags{};
  std::optional<bool> newSequential{};
  std::optional<std::string> newFolderName{};
  std::optional<std::string> newProjectStatus{};
};

// OmniFocus' date text for an ISO date-time with a zone offset ("2025-03-01T10:00:00+0000"
// -> "03/01/2025 10:00:00" as wall-clock time in `zone`) or a plain date ("2025-03-01" ->
// "03/01/2025"); none for anything else. en_US_POSIX, so the user's locale never changes
// the text.
std::optional<std::string> parseDate(std::string_view text, const icu::TimeZone& zone);
// In the daemon's time zone.
std::optional<std::string> parseDate(std::string_view text);

std::string buildTaskProperties(const AddTaskRequest& request);
// Under the parent (by id, else by name), else in the project, else in the inbox; the
// request's tags are added to the new task inside the same program, before it returns.
Program buildAddTaskScript(const AddTaskRequest& request, const std::string& properties);
// In the folder when one is named; tags as for a task.
Program addProjectScript(const AddProjectRequest& request);

// None when both id and name are empty ("Missing id or name").
std::optional<Program> removeScript(const std::string& itemType, const std::string& id, const std::string& name);
std::optional<Program> editScript(const EditItemRequest& request);
// The tag programs an edit runs after its own, in order: add, remove, replace (clear, then
// add). They find the item as the edit did: by id, else by its new name when the edit
// renamed it, else by name.
std::vector<Program> editTagPrograms(const EditItemRequest& request);

// Count of the entity's items ("projects", "folders", anything else counts tasks).
Program countScript(const std::string& entity, bool includeCompleted);
// The trimmed output as a decimal integer with an optional sign; 0 when it does not read.
std::int64_t parseCount(std::string_view output);
std::string countReply(const std::string& entity, std::int64_t count);

// The listing a non-summary query runs; the limit is raised to 1 when smaller.
Program queryListingScript(const QueryRequest& request);
// "inbox" in any case lists the inbox, any other name the incomplete tasks.
Program perspectiveScript(const std::string& name, std::int64_t limit);
Program dumpDatabaseScript();

}  // namespace qd::omnifocus
