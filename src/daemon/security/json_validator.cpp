#include "daemon/security/json_validator.h"

#include <utility>
#include <vector>

#include "daemon/logging/logger.h"

namespace qd {

JSONValidationError JSONValidationError::exceedsMaxSize(std::int64_t size, std::int64_t limit) {
  JSONValidationError e(Kind::exceedsMaxSize, "JSON exceeds maximum size limit (" + std::to_string(size) +
                                                  " bytes > " + std::to_string(limit) + " bytes)");
  e.size_ = size;
  e.limit_ = limit;
  return e;
}

JSONValidationError JSONValidationError::exceedsMaxDepth(std::int64_t depth) {
  JSONValidationError e(Kind::exceedsMaxDepth, "JSON exceeds maximum nesting depth (" + std::to_string(depth) + " levels)");
  e.depth_ = depth;
  return e;
}

JSONValidationError JSONValidationError::invalidJSON(std::string message) {
  JSONValidationError e(Kind::invalidJSON, "Invalid JSON: " + message);
  e.message_ = std::move(message);
  return e;
}

namespace JSONValidator {
namespace {

[[noreturn]] void rejectDepth() {
  Logger::warn("Security", "JSON exceeds max nesting depth", {{"limit", maxDepth}});
  throw JSONValidationError::exceedsMaxDepth(maxDepth);
}

// parseJson's texts read "Invalid JSON: <parser message>"; the error keeps the message.
std::string parserMessage(const JsonParseError& error) {
  constexpr std::string_view prefix = "Invalid JSON: ";
  std::string text = error.description();
  if (text.starts_with(prefix)) text.erase(0, prefix.size());
  return text;
}

}  // namespace

Json safeParse(std::string_view text) {
  const auto size = static_cast<std::int64_t>(text.size());
  if (size > maxSize) {
    Logger::warn("Security", "JSON exceeds max size", {{"size", size}, {"limit", maxSize}});
    throw JSONValidationError::exceedsMaxSize(size, maxSize);
  }
  // The parser counts containers (a top-level array is 1). Allowing one more container
  // than maxDepth keeps every text that can still pass; checkDepth then decides exactly,
  // on a value whose nesting is already bounded.
  Json value;
  try {
    value = parseJson(text, static_cast<std::size_t>(maxDepth) + 1);
  } catch (const JsonParseError& error) {
    if (error.kind() == JsonParseError::Kind::tooDeep) rejectDepth();
    throw JSONValidationError::invalidJSON(parserMessage(error));
  }
  if (!checkDepth(value, maxDepth)) rejectDepth();
  return value;
}

bool checkDepth(const Json& value, std::int64_t maxDepth) {
  std::vector<std::pair<const Json*, std::int64_t>> stack{{&value, 0}};
  while (!stack.empty()) {
    const auto [item, depth] = stack.back();
    stack.pop_back();
    if (depth > maxDepth) return false;
    if (item->is_object() || item->is_array()) {
      for (const Json& child : *item) stack.emplace_back(&child, depth + 1);
    }
  }
  return true;
}

}  // namespace JSONValidator
}  // namespace qd
