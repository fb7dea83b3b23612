#include "daemon/tinderbox/note_helpers.h"

#include <exception>

namespace qd {
namespace {

std::string childPath(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

std::string joinedText(const CallToolResult& result) {
  std::string out;
  bool first = true;
  for (const ToolContent& item : result.content) {
    if (!item.text) continue;
    if (!first) out += "\n";
    first = false;
    out += *item.text;
  }
  return out;
}

}  // namespace

bool succeeded(const std::optional<CallToolResult>& result) { return result && !result->isError.value_or(false); }

std::string escapedQueryString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

asio::awaitable<std::optional<CallToolResult>> NoteHelpers::call(std::string tool, Json arguments) {
  if (!client_.isConnected()) co_return std::nullopt;
  try {
    co_return co_await client_.callTool(std::move(tool), std::move(arguments));
  } catch (const std::exception&) {
    // Journal writes are best effort; the caller goes on without the note.
  }
  co_return std::nullopt;
}

asio::awaitable<void> NoteHelpers::ensurePath(std::string path) {
  std::string parent = "/";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      std::string piece = path.substr(start, end - start);
      std::string next = childPath(parent, piece);
      co_await ensureContainer(std::move(piece), std::move(parent));
      parent = std::move(next);
    }
    start = end + 1;
  }
}

asio::awaitable<void> NoteHelpers::ensureContainer(std::string name, std::string parent) {
  if (!client_.isConnected()) co_return;
  if (parent.empty()) parent = "/";
  const std::string fullPath = childPath(parent, name);
  if (state_.createdLogContainers.contains(fullPath)) co_return;
  std::string queriedName = name;
  std::string queriedContainer = parent;
  if (co_await noteExists(std::move(queriedName), std::move(queriedContainer))) {
    state_.createdLogContainers.insert(fullPath);
    co_return;
  }
  std::string tool = "create_note";
  Json arguments{{"name", name}, {"container", parent}};
  const auto created = co_await call(std::move(tool), std::move(arguments));
  if (succeeded(created)) state_.createdLogContainers.insert(fullPath);
}

asio::awaitable<bool> NoteHelpers::noteExists(std::string name, std::string container) {
  if (!client_.isConnected()) co_return false;
  std::string query = "$Name==\"" + escapedQueryString(name) + "\" & $Container==\"" + escapedQueryString(container) + "\"";
  std::string tool = "get_notes";
  Json arguments{{"query", std::move(query)}};
  const auto answer = co_await call(std::move(tool), std::move(arguments));
  if (!succeeded(answer)) co_return false;
  co_return joinedText(*answer).find("Found 0 notes") == std::string::npos;
}

std::string NoteHelpers::uniqueNoteTitle(const std::string& containerPath, const std::string& baseTitle) {
  const std::int64_t n = ++state_.noteTitleCounters[containerPath + "::" + baseTitle];
  if (n == 1) return baseTitle;
  return baseTitle + " (" + std::to_string(n) + ")";
}

asio::awaitable<void> NoteHelpers::setNoteMetadata(std::string notePath, NoteAttributes metadata) {
  if (!client_.isConnected()) co_return;
  for (auto& [attribute, value] : metadata) {
    if (value.empty()) continue;
    std::string path = notePath;
    co_await setTinderboxValue(std::move(path), std::move(attribute), std::move(value));
  }
}

asio::awaitable<void> NoteHelpers::setTinderboxValue(std::string path, std::string attribute, std::string value) {
  if (!client_.isConnected()) co_return;
  std::string tool = "set_value";
  Json arguments{{"notes", std::move(path)}, {"attribute", std::move(attribute)}, {"value", std::move(value)}};
  co_await call(std::move(tool), std::move(arguments));
}

}  // namespace qd
