#include "platform/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qd::platform {
namespace {

std::filesystem::path xdgBase(const Environment& env, const char* variable, const char* fallbackBelowHome) {
  if (auto value = env.get(variable); value && !value->empty() && value->front() == '/') {
    return std::filesystem::path(*value);
  }
  return homeDirectory(env) / fallbackBelowHome;
}

}  // namespace

std::filesystem::path homeDirectory(const Environment& env) {
  if (auto home = env.get("HOME"); home && !home->empty()) return std::filesystem::path(*home);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir) {
    return std::filesystem::path(result->pw_dir);
  }
  return std::filesystem::path("/");
}

std::filesystem::path applicationSupportDirectory(const Environment& env) {
  return xdgBase(env, "XDG_DATA_HOME", ".local/share") / kAppDirectoryName;
}

std::filesystem::path logsDirectory(const Environment& env) {
  return xdgBase(env, "XDG_STATE_HOME", ".local/state") / kAppDirectoryName / "logs";
}

std::filesystem::path configHomeDirectory(const Environment& env) {
  return xdgBase(env, "XDG_CONFIG_HOME", ".config");
}

std::filesystem::path preferencesDirectory(const Environment& env) {
  return configHomeDirectory(env) / kAppDirectoryName;
}

std::filesystem::path preferencesSuiteFile(const Environment& env, std::string_view suiteName) {
  return preferencesDirectory(env) / (std::string(suiteName) + ".json");
}

}  // namespace qd::platform
