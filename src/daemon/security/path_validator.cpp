#include "daemon/security/path_validator.h"

#include <filesystem>
#include <system_error>

#include "daemon/logging/logger.h"
#include "daemon/utilities/agent_name.h"
#include "daemon/utilities/unicode_text.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

std::string describe(ValidationError::Kind kind, const std::string& value, const std::string& expected) {
  using Kind = ValidationError::Kind;
  switch (kind) {
    case Kind::notAbsolutePath: return "Path must be absolute: " + value;
    case Kind::pathTraversal: return "Path contains traversal components: " + value;
    case Kind::pathDoesNotExist: return "Path does not exist: " + value;
    case Kind::notAFile: return "Path is not a file: " + value;
    case Kind::invalidExtension: return "Path must have " + expected + " extension: " + value;
    case Kind::socketPathOutsideAllowedDirectory: return "Socket path must be within an allowed directory: " + value;
    case Kind::invalidAgentName:
      return "Agent name must be alphanumeric, underscore, or hyphen (max 50 chars): " + value;
  }
  return value;
}

[[noreturn]] void reject(std::string_view logMessage, ValidationError::Kind kind, std::string_view path,
                         Json metadata = Json(), std::string expected = {}) {
  if (metadata.is_null()) metadata = Json{{"path", std::string(path)}};
  Logger::warn("Security", logMessage, metadata);
  throw ValidationError(kind, std::string(path), std::move(expected));
}

bool containsTraversal(std::string_view path) { return path.find("..") != std::string_view::npos; }

}  // namespace

ValidationError::ValidationError(Kind kind, std::string value, std::string expected)
    : Error(describe(kind, value, expected)), kind_(kind), value_(std::move(value)), expected_(std::move(expected)) {}

namespace PathValidator {

std::string standardizedPath(std::string_view path, const platform::Environment& env) {
  std::string expanded(path);
  if (path == "~" || path.starts_with("~/")) {
    expanded = platform::homeDirectory(env).string() + std::string(path.substr(1));
  }
  const bool absolute = !expanded.empty() && expanded.front() == '/';
  std::vector<std::string_view> parts;
  std::string_view rest(expanded);
  while (!rest.empty()) {
    const auto slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == ".." && absolute) {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += '/';
    out += parts[i];
  }
  return out;
}

bool isWithinDirectory(std::string_view path, std::string_view directory, const platform::Environment& env) {
  const std::string standardPath = standardizedPath(path, env);
  std::string standardDirectory = standardizedPath(directory, env);
  if (standardPath == standardDirectory) return true;
  if (standardDirectory.empty() || standardDirectory.back() != '/') standardDirectory += '/';
  return standardPath.starts_with(standardDirectory);
}

std::vector<std::string> allowedSocketDirectories(const platform::Environment& env) {
  // An empty or relative TMPDIR would standardize to a prefix that every absolute path
  // begins with (or none does); such a value is treated as unset.
  std::string temporary = "/tmp";
  if (auto value = env.get("TMPDIR"); value && !value->empty() && value->front() == '/') temporary = *value;
  return {standardizedPath(temporary, env), standardizedPath("/tmp", env),
          standardizedPath(platform::applicationSupportDirectory(env).string(), env)};
}

void validateSocketPath(std::string_view path, const platform::Environment& env) {
  if (!path.starts_with("/")) reject("Rejected non-absolute socket path", ValidationError::Kind::notAbsolutePath, path);
  if (containsTraversal(path)) {
    reject("Rejected path traversal in socket path", ValidationError::Kind::pathTraversal, path);
  }
  const auto allowed = allowedSocketDirectories(env);
  for (const std::string& directory : allowed) {
    if (isWithinDirectory(path, directory, env)) return;
  }
  std::string joined;
  for (const std::string& directory : allowed) joined += (joined.empty() ? "" : ", ") + directory;
  reject("Socket path outside allowed directories", ValidationError::Kind::socketPathOutsideAllowedDirectory, path,
         Json{{"path", std::string(path)}, {"allowedDirs", joined}});
}

void validateTinderboxPath(std::string_view path) {
  if (!path.starts_with("/")) {
    reject("Rejected non-absolute Tinderbox path", ValidationError::Kind::notAbsolutePath, path);
  }
  if (containsTraversal(path)) {
    reject("Rejected path traversal in Tinderbox path", ValidationError::Kind::pathTraversal, path);
  }
  const std::string standard = standardizedPath(path, platform::Environment());  // absolute: no "~" to expand
  if (containsTraversal(standard)) {
    reject("Rejected path traversal after normalization", ValidationError::Kind::pathTraversal, path);
  }
  std::error_code ec;
  const auto status = std::filesystem::status(standard, ec);
  if (!std::filesystem::exists(status)) {
    reject("Tinderbox path does not exist", ValidationError::Kind::pathDoesNotExist, path);
  }
  if (std::filesystem::is_directory(status)) {
    reject("Tinderbox path is a directory, not a file", ValidationError::Kind::notAFile, path);
  }
}

void validateDocumentPath(std::string_view path) {
  if (!path.starts_with("/")) {
    reject("Rejected non-absolute document path", ValidationError::Kind::notAbsolutePath, path);
  }
  if (!path.ends_with(".tbx")) {
    reject("Rejected document without .tbx extension", ValidationError::Kind::invalidExtension, path, Json(), ".tbx");
  }
  if (containsTraversal(path)) {
    reject("Rejected path traversal in document path", ValidationError::Kind::pathTraversal, path);
  }
  const std::string standard = standardizedPath(path, platform::Environment());  // absolute: no "~" to expand
  if (containsTraversal(standard)) {
    reject("Rejected path traversal after normalization", ValidationError::Kind::pathTraversal, path);
  }
  std::error_code ec;
  if (std::filesystem::is_directory(standard, ec)) {
    reject("Document path is a directory", ValidationError::Kind::notAFile, path);
  }
}

void validateAgentName(std::string_view name) {
  if (!name.empty() && name.size() <= maxAgentNameLength && isValidAgentName(name)) return;
  reject("Rejected invalid agent name", ValidationError::Kind::invalidAgentName, name,
         Json{{"name", unicode::truncatedToGraphemes(name, maxAgentNameLength)}});
}

}  // namespace PathValidator
}  // namespace qd
