#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "daemon/utilities/error.h"
#include "daemon/utilities/json.h"

namespace qd {

class JSONValidationError : public Error {
 public:
  enum class Kind { exceedsMaxSize, exceedsMaxDepth, invalidJSON };

  // "JSON exceeds maximum size limit (<size> bytes > <limit> bytes)"
  static JSONValidationError exceedsMaxSize(std::int64_t size, std::int64_t limit);
  // "JSON exceeds maximum nesting depth (<depth> levels)"
  static JSONValidationError exceedsMaxDepth(std::int64_t depth);
  // "Invalid JSON: <message>"
  static JSONValidationError invalidJSON(std::string message);

  Kind kind() const { return kind_; }
  std::int64_t size() const { return size_; }    // exceedsMaxSize
  std::int64_t limit() const { return limit_; }  // exceedsMaxSize
  std::int64_t depth() const { return depth_; }  // exceedsMaxDepth
  const std::string& message() const { return message_; }  // invalidJSON

 private:
  JSONValidationError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}

  Kind kind_;
  std::int64_t size_ = 0;
  std::int64_t limit_ = 0;
  std::int64_t depth_ = 0;
  std::string message_;
};

// Parses untrusted JSON text under a size limit and a nesting-depth limit. Rejections for
// size and depth log one WARN line (component "Security") before they throw.
namespace JSONValidator {

inline constexpr std::int64_t maxSize = 10485760;  // bytes; exactly this many pass
inline constexpr std::int64_t maxDepth = 20;

// Any JSON value, top-level scalars included. The size is checked before any parsing and
// the depth while parsing, so neither a huge nor a deeply nested text reaches recursive
// code. A value fails the depth rule when anything in it lies more than 20 containers
// deep: the top value has depth 0, a member of a top-level object depth 1, so an empty
// container at depth 20 passes and a number at depth 21 fails.
Json safeParse(std::string_view text);

// Walks the value with an explicit stack; false when anything lies deeper than maxDepth.
// Object keys are not walked.
bool checkDepth(const Json& value, std::int64_t maxDepth);

}  // namespace JSONValidator
}  // namespace qd
