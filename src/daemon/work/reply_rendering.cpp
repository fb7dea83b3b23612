#include "daemon/work/reply_rendering.h"

#include "daemon/mcp/mcp_types.h"
#include "daemon/utilities/any_codable.h"

namespace qd {

Json textReply(std::string text) { return textToolResult(std::move(text)); }

std::string prettyJsonText(const Json& value) { return dumpJson(value, 2); }

std::string compactJsonTextEscapingSolidus(const Json& value) {
  // Outside strings JSON text holds no "/", so escaping every one is escaping those in
  // strings, which is what the stored form has always looked like.
  const std::string compact = dumpJson(value);
  std::string out;
  out.reserve(compact.size());
  for (char c : compact) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

namespace plain {

std::string list(const std::vector<std::string>& renderedElements) {
  std::string out = "[";
  for (std::size_t i = 0; i < renderedElements.size(); ++i) {
    if (i) out += ", ";
    out += renderedElements[i];
  }
  return out + "]";
}

std::string map(const std::vector<std::pair<std::string, std::string>>& renderedEntries) {
  if (renderedEntries.empty()) return "[:]";
  std::string out = "[";
  bool first = true;
  for (const auto& [key, rendered] : renderedEntries) {
    if (!first) out += ", ";
    first = false;
    out += string(key) + ": " + rendered;
  }
  return out + "]";
}

std::string string(const std::string& text) { return dumpJson(Json(text)); }

std::string optional(const std::optional<std::string>& renderedValue) {
  return renderedValue ? "Optional(" + *renderedValue + ")" : "nil";
}

std::string value(const Json& v) {
  if (v.is_string()) return string(v.get_ref<const std::string&>());
  return AnyCodable(v).description();
}

}  // namespace plain

Json taskListJson(const std::vector<TrackedTask>& tasks) {
  Json out = Json::array();
  for (const TrackedTask& task : tasks) {
    Json comments = Json::array();
    for (const auto& c : task.comments) comments.push_back(Json{{"who", c.who}, {"note", c.note}, {"timestamp", c.timestamp}});
    out.push_back(Json{{"id", task.id},
                       {"title", task.title},
                       {"status", task.status},
                       {"assignee", task.assignee ? Json(*task.assignee) : Json(nullptr)},
                       {"updatedAt", task.updatedAt},
                       {"metadata", stringMapToJson(task.metadata)},
                       {"comments", std::move(comments)}});
  }
  return out;
}

Json renderTaskList(const std::vector<TrackedTask>& tasks) { return textReply(prettyJsonText(taskListJson(tasks))); }

std::string plainTaskListing(const std::vector<TrackedTask>& tasks) {
  std::vector<std::string> entries;
  entries.reserve(tasks.size());
  for (const TrackedTask& task : tasks) {
    std::vector<std::string> comments;
    for (const auto& c : task.comments) {
      comments.push_back(plain::map(
          {{"who", plain::string(c.who)}, {"note", plain::string(c.note)}, {"timestamp", std::to_string(c.timestamp)}}));
    }
    std::vector<std::pair<std::string, std::string>> metadata;
    for (const auto& [key, value] : task.metadata) metadata.emplace_back(key, plain::string(value));
    std::optional<std::string> assignee;
    if (task.assignee) assignee = plain::string(*task.assignee);
    entries.push_back(plain::map({{"id", plain::string(task.id)},
                                  {"title", plain::string(task.title)},
                                  {"status", plain::string(task.status)},
                                  {"assignee", plain::optional(assignee)},
                                  {"updatedAt", std::to_string(task.updatedAt)},
                                  {"metadata", plain::map(metadata)},
                                  {"comments", plain::list(comments)}}));
  }
  return plain::list(entries);
}

}  // namespace qd
