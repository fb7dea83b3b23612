#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/error.h"
#include "platform/environment.h"

namespace qd {

// A rejected path or agent name. Every case carries the value exactly as the caller
// passed it, never its standardized form.
class ValidationError : public Error {
 public:
  enum class Kind {
    notAbsolutePath,                    // "Path must be absolute: <path>"
    pathTraversal,                      // "Path contains traversal components: <path>"
    pathDoesNotExist,                   // "Path does not exist: <path>"
    notAFile,                           // "Path is not a file: <path>"
    invalidExtension,                   // "Path must have <expected> extension: <path>"
    socketPathOutsideAllowedDirectory,  // "Socket path must be within an allowed directory: <path>"
    invalidAgentName,  // "Agent name must be alphanumeric, underscore, or hyphen (max 50 chars): <name>"
  };

  ValidationError(Kind kind, std::string value, std::string expected = {});
  Kind kind() const { return kind_; }
  const std::string& value() const { return value_; }        // the path or name
  const std::string& expected() const { return expected_; }  // invalidExtension only

 private:
  Kind kind_;
  std::string value_;
  std::string expected_;
};

// Checks file-system paths and agent names from untrusted input. Every rejection logs one
// WARN line (component "Security", the rejected value in the metadata) and then throws a
// ValidationError. Nothing on disk is changed.
namespace PathValidator {

inline constexpr std::size_t maxAgentNameLength = 50;

// Absolute, free of "..", and within one of the allowed folders: $TMPDIR (/tmp when it is
// unset, empty or not absolute), /tmp, and the application support folder, so the daemon
// accepts its own default socket path. The socket file need not exist.
void validateSocketPath(std::string_view path, const platform::Environment& env = platform::Environment::current());
// The allowed folders of validateSocketPath, standardized, in the order they are tried.
std::vector<std::string> allowedSocketDirectories(const platform::Environment& env);

// The note application's executable: absolute, free of "..", existing, not a folder.
void validateTinderboxPath(std::string_view path);
// A document: absolute, ending in ".tbx", free of "..", not a folder; it need not exist.
void validateDocumentPath(std::string_view path);
// 1 to 50 characters, each one of A-Z, a-z, 0-9, "_" and "-".
void validateAgentName(std::string_view name);

// Lexical path standardization: a leading "~" or "~/" becomes the home folder, doubled
// separators and "." components go, a trailing separator goes (except for "/" itself), and
// ".." components are resolved in absolute paths ("/.." stays "/"). Symbolic links are not
// followed and the file system is not asked.
std::string standardizedPath(std::string_view path, const platform::Environment& env = platform::Environment::current());

// Whether `path` equals `directory` or lies below it, both standardized: "/tmpx/a" is not
// within "/tmp".
bool isWithinDirectory(std::string_view path, std::string_view directory,
                       const platform::Environment& env = platform::Environment::current());

}  // namespace PathValidator
}  // namespace qd
