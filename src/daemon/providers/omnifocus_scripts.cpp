#include "daemon/providers/omnifocus_scripts.h"

#include <memory>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/icu_time.h"
#include "daemon/utilities/unicode_text.h"

namespace qd::omnifocus {
namespace {

using AppleScriptHelpers::escape;

const char* boolText(bool value) { return value ? "true" : "false"; }

std::string literal(std::string_view value) { return "\"" + escape(value) + "\""; }

// The frame around the body lines.
Program framed(Program body) {
  Program lines{"tell application \"OmniFocus\"", "tell default document"};
  lines.insert(lines.end(), std::make_move_iterator(body.begin()), std::make_move_iterator(body.end()));
  lines.push_back("end tell");
  lines.push_back("end tell");
  return lines;
}

std::string itemCollection(const std::string& itemType) {
  return itemType == "project" ? "flattened projects" : "flattened tasks";
}

std::string itemSelector(const std::string& id, const std::string& name) {
  return !id.empty() ? "id = " + literal(id) : "name = " + literal(name);
}

std::string targetLine(const std::string& itemType, const std::string& selector) {
  return "set targetItem to first " + itemCollection(itemType) + " whose " + selector;
}

std::string tagLookup(const std::string& tag) { return "set tagObj to first flattened tag whose name = " + literal(tag); }

// Per tag, in order: look it up and add it to `owner`.
void appendTagLines(Program& lines, const std::vector<std::string>& tags, const std::string& owner) {
  for (const auto& tag : tags) {
    lines.push_back(tagLookup(tag));
    lines.push_back("add tagObj to tags of " + owner);
  }
}

// The due date, defer date and estimated minutes parts shared by tasks and projects.
std::string scheduleProperties(const std::string& dueDate, const std::string& deferDate, std::int64_t minutes) {
  std::string out;
  if (!dueDate.empty()) {
    if (auto date = parseDate(dueDate)) out += ", due date:date \"" + *date + "\"";
  }
  if (!deferDate.empty()) {
    if (auto date = parseDate(deferDate)) out += ", defer date:date \"" + *date + "\"";
  }
  if (minutes >= 1) out += ", estimated minutes:" + std::to_string(minutes);
  return out;
}

std::string completionClause(bool projects, bool includeCompleted) {
  if (includeCompleted) return "";
  return projects ? " whose status is not done and status is not dropped" : " whose completed is false and dropped is false";
}

std::string whereClause(bool projects, const Json& filters, bool includeCompleted) {
  std::string clause = completionClause(projects, includeCompleted);
  if (filters.is_object()) {
    const auto flagged = filters.find("flagged");
    if (flagged != filters.end() && flagged->is_boolean()) {
      clause += clause.empty() ? " whose" : " and";
      clause += std::string(" flagged is ") + boolText(flagged->get<bool>());
    }
  }
  return clause;
}

// One entry per item, name then " | id=" and the id, at most `limit`; the entries run
// together (the list is coerced to text with the default empty delimiter).
Program listing(std::int64_t limit, const std::string& variable, const std::string& loopLine,
                const std::optional<std::string>& setup = std::nullopt) {
  Program body{"set outLines to {}", "set i to 0"};
  if (setup) body.push_back(*setup);
  body.push_back(loopLine);
  body.push_back("set i to i + 1");
  body.push_back("if i > " + std::to_string(std::max<std::int64_t>(limit, 1)) + " then exit repeat");
  body.push_back("set end of outLines to ((name of " + variable + " as string) & \" | id=\" & (id of " + variable +
                 " as string))");
  body.push_back("end repeat");
  body.push_back("return outLines as string");
  return framed(std::move(body));
}

Program tasksListing(std::int64_t limit, const Json& filters, bool includeCompleted) {
  const std::string clause = whereClause(false, filters, includeCompleted);
  std::string projectName;
  if (filters.is_object()) {
    const auto it = filters.find("projectName");
    if (it != filters.end() && it->is_string()) projectName = it->get<std::string>();
  }
  if (projectName.empty()) return listing(limit, "t", "repeat with t in flattened tasks" + clause);
  return listing(limit, "t", "repeat with t in flattened tasks of p" + clause,
                 "set p to first flattened project whose name contains " + literal(projectName));
}

}  // namespace

std::optional<std::string> parseDate(std::string_view text, const icu::TimeZone& zone) {
  if (auto time = icutime::parse(text, zone, "yyyy-MM-dd'T'HH:mm:ssZ")) {
    return icutime::format(*time, zone, "MM/dd/yyyy HH:mm:ss");
  }
  if (auto day = icutime::parse(text, zone, "yyyy-MM-dd")) return icutime::format(*day, zone, "MM/dd/yyyy");
  return std::nullopt;
}

std::optional<std::string> parseDate(std::string_view text) {
  const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
  return parseDate(text, *zone);
}

std::string buildTaskProperties(const AddTaskRequest& request) {
  return "name:" + literal(request.name) + ", note:" + literal(request.note) + ", flagged:" + boolText(request.flagged) +
         scheduleProperties(request.dueDate, request.deferDate, request.estimatedMinutes);
}

Program buildAddTaskScript(const AddTaskRequest& request, const std::string& properties) {
  Program body;
  std::string returnLine;
  if (!request.parentTaskId.empty() || !request.parentTaskName.empty()) {
    const std::string parent = !request.parentTaskId.empty() ? "id = " + literal(request.parentTaskId)
                                                             : "name = " + literal(request.parentTaskName);
    body.push_back("set parentTask to first flattened task whose " + parent);
    body.push_back("set newTask to make new task with properties {" + properties + "} at end of tasks of parentTask");
    returnLine = "return \"Created task: \" & (name of newTask as string) & \" under parent task\"";
  } else if (!request.projectName.empty()) {
    body.push_back("set theProject to first flattened project whose name = " + literal(request.projectName));
    body.push_back("set newTask to make new task with properties {" + properties + "} at end of tasks of theProject");
    returnLine = "return \"Created task: \" & (name of newTask as string) & \" in project " +
                 escape(request.projectName) + "\"";
  } else {
    body.push_back("set newTask to make new inbox task with properties {" + properties + "}");
    returnLine = "return \"Created task: \" & (name of newTask as string)";
  }
  // Tagged here, on the task just made: an item found afterwards by creation date could be
  // any older one.
  appendTagLines(body, request.tags, "newTask");
  body.push_back(returnLine);
  return framed(std::move(body));
}

Program addProjectScript(const AddProjectRequest& request) {
  const std::string properties = "name:" + literal(request.name) + ", note:" + literal(request.note) +
                                 ", sequential:" + boolText(request.sequential) + ", flagged:" +
                                 boolText(request.flagged) +
                                 scheduleProperties(request.dueDate, request.deferDate, request.estimatedMinutes);
  Program body;
  std::string returnLine;
  if (!request.folderName.empty()) {
    body.push_back("set theFolder to first flattened folder whose name = " + literal(request.folderName));
    body.push_back("set newProject to make new project with properties {" + properties +
                   "} at end of projects of theFolder");
    returnLine = "return \"Created project: \" & (name of newProject as string) & \" in folder " +
                 escape(request.folderName) + "\"";
  } else {
    body.push_back("set newProject to make new project with properties {" + properties + "}");
    returnLine = "return \"Created project: \" & (name of newProject as string)";
  }
  appendTagLines(body, request.tags, "newProject");
  body.push_back(returnLine);
  return framed(std::move(body));
}

std::optional<Program> removeScript(const std::string& itemType, const std::string& id, const std::string& name) {
  if (id.empty() && name.empty()) return std::nullopt;
  return framed({targetLine(itemType, itemSelector(id, name)), "set oldName to name of targetItem as string",
                 "delete targetItem", "return \"Removed " + escape(itemType) + ": \" & oldName"});
}

std::optional<Program> editScript(const EditItemRequest& r) {
  if (r.id.empty() && r.name.empty()) return std::nullopt;
  Program lines{"tell application \"OmniFocus\"", "tell default document",
                targetLine(r.itemType, itemSelector(r.id, r.name))};
  if (!r.newName.empty()) lines.push_back("set name of targetItem to " + literal(r.newName));
  if (!r.newNote.empty()) lines.push_back("set note of targetItem to " + literal(r.newNote));
  if (r.newFlagged) lines.push_back(std::string("set flagged of targetItem to ") + boolText(*r.newFlagged));

  const auto dateLine = [&](const std::optional<std::string>& value, const std::string& property) {
    if (!value) return;
    if (value->empty()) {
      lines.push_back("set " + property + " of targetItem to missing value");
    } else if (auto date = parseDate(*value)) {
      lines.push_back("set " + property + " of targetItem to date \"" + *date + "\"");
    }
  };
  dateLine(r.newDueDate, "due date");
  dateLine(r.newDeferDate, "defer date");
  if (r.newEstimatedMinutes) {
    lines.push_back("set estimated minutes of targetItem to " + std::to_string(*r.newEstimatedMinutes));
  }

  if (r.itemType == "task" && r.newStatus) {
    const std::string status = unicode::lowercased(*r.newStatus);
    if (status == "completed") {
      lines.push_back("set completed of targetItem to true");
    } else if (status == "dropped") {
      lines.push_back("set dropped of targetItem to true");
    } else if (status == "incomplete") {
      lines.push_back("set completed of targetItem to false");
      lines.push_back("set dropped of targetItem to false");
    }
  }

  if (r.itemType == "project") {
    if (r.newSequential) lines.push_back(std::string("set sequential of targetItem to ") + boolText(*r.newSequential));
    if (r.newProjectStatus) {
      const std::string status = unicode::lowercased(*r.newProjectStatus);
      if (status == "active") {
        lines.push_back("set status of targetItem to active");
      } else if (status == "completed" || status == "done") {
        lines.push_back("set status of targetItem to done");
      } else if (status == "dropped") {
        lines.push_back("set status of targetItem to dropped");
      } else if (status == "onhold") {
        lines.push_back("set status of targetItem to on hold");
      }
    }
    if (r.newFolderName && !r.newFolderName->empty()) {
      // The folder lookup goes just before the line that is last so far.
      lines.insert(lines.end() - 1, "set targetFolder to first flattened folder whose name = " + literal(*r.newFolderName));
      lines.push_back("move targetItem to end of projects of targetFolder");
    }
  }

  lines.push_back("return \"Updated " + escape(r.itemType) + ": \" & (name of targetItem as string)");
  lines.push_back("end tell");
  lines.push_back("end tell");
  return lines;
}

std::vector<Program> editTagPrograms(const EditItemRequest& r) {
  // The item as the edit left it: a rename of an item found by name is found by its new name.
  const std::string selector = !r.id.empty()        ? "id = " + literal(r.id)
                               : !r.newName.empty() ? "name = " + literal(r.newName)
                                                    : "name = " + literal(r.name);
  const std::string target = targetLine(r.itemType, selector);
  std::vector<Program> programs;
  const auto perTag = [&](const std::vector<std::string>& tags, const std::string& verb) {
    for (const auto& tag : tags) programs.push_back(framed({target, tagLookup(tag), verb}));
  };
  if (r.addTags && !r.addTags->empty()) perTag(*r.addTags, "add tagObj to tags of targetItem");
  if (r.removeTags && !r.removeTags->empty()) perTag(*r.removeTags, "remove tagObj from tags of targetItem");
  if (r.replaceTags) {
    programs.push_back(framed({target, "set tags of targetItem to {}"}));
    perTag(*r.replaceTags, "add tagObj to tags of targetItem");
  }
  return programs;
}

Program countScript(const std::string& entity, bool includeCompleted) {
  std::string collection = "flattened tasks";
  std::string clause;
  if (entity == "projects") {
    collection = "flattened projects";
    clause = completionClause(true, includeCompleted);
  } else if (entity == "folders") {
    collection = "flattened folders";
  } else if (entity == "tasks") {
    clause = completionClause(false, includeCompleted);
  }
  return framed({"set itemCount to count of " + collection + clause, "return itemCount as string"});
}

std::int64_t parseCount(std::string_view output) { return AppleScriptHelpers::outputInteger(output).value_or(0); }

std::string countReply(const std::string& entity, std::int64_t count) {
  return "Found " + std::to_string(count) + " " + entity + " matching criteria";
}

Program queryListingScript(const QueryRequest& request) {
  if (request.entity == "projects") {
    return listing(request.limit, "p",
                   "repeat with p in flattened projects" + whereClause(true, request.filters, request.includeCompleted));
  }
  if (request.entity == "folders") return listing(request.limit, "f", "repeat with f in flattened folders");
  return tasksListing(request.limit, request.filters, request.includeCompleted);
}

Program perspectiveScript(const std::string& name, std::int64_t limit) {
  if (unicode::lowercased(name) == "inbox") return listing(limit, "t", "repeat with t in inbox tasks");
  return tasksListing(limit, Json::object(), false);
}

Program dumpDatabaseScript() {
  return framed({"set outLines to {}", "repeat with p in flattened projects",
                 "set end of outLines to (\"P: \" & (name of p as string))", "end repeat",
                 "repeat with t in flattened tasks", "set end of outLines to (\"• \" & (name of t as string))",
                 "end repeat", "return outLines as string"});
}

}  // namespace qd::omnifocus
