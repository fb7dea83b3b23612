#include "app/service_unit.h"

#include <array>

#include "daemon/utilities/atomic_file.h"

#include "platform/user_folders.h"

namespace qd {
namespace {

constexpr const char* kExecutable = "REPLACE_WITH_EXECUTABLE";
constexpr const char* kArgument = "REPLACE_WITH_PROGRAM_PATH";
constexpr const char* kWorkingDir = "REPLACE_WITH_WORKING_DIR";
constexpr const char* kEnvironment = "REPLACE_WITH_ENVIRONMENT";
constexpr const char* kLogsDir = "REPLACE_WITH_LOGS_DIR";

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

bool hasControlCharacter(const std::string& value) {
  for (unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// "%" starts a specifier everywhere in a unit; "%%" is one "%".
std::string escapePercent(const std::string& value) {
  std::string out;
  for (char c : value) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

// One quoted word of a command or Environment= line: backslash and quote escaped, "%"
// doubled, and for commands "$" doubled too (systemd expands "$NAME" there).
std::string quotedWord(const std::string& value, bool command) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%' || (command && c == '$')) out += c;
    out += c;
  }
  return out + "\"";
}

// Splits a command or Environment= value into words, undoing what quotedWord did. None
// for an unterminated quote or a dangling backslash.
std::optional<std::vector<std::string>> splitWords(const std::string& text, bool command) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const auto unescapeTwin = [&](std::string& word, char c) {
    if ((c == '%' || (command && c == '$')) && i + 1 < text.size() && text[i + 1] == c) ++i;
    word += c;
  };
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    if (text[i] == '"') {
      ++i;
      bool closed = false;
      for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
          closed = true;
          ++i;
          break;
        }
        if (c == '\\') {
          if (++i >= text.size()) return std::nullopt;
          word += text[i];
          continue;
        }
        unescapeTwin(word, c);
      }
      if (!closed) return std::nullopt;
    } else {
      for (; i < text.size() && text[i] != ' ' && text[i] != '\t'; ++i) unescapeTwin(word, text[i]);
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string unescapePercent(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    out += value[i];
    if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') ++i;
  }
  return out;
}

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::map<std::string, std::string> serviceEnvironment(const platform::Environment& env) {
  std::map<std::string, std::string> out;
  out["XDG_DATA_HOME"] = platform::applicationSupportDirectory(env).parent_path().string();
  out["XDG_STATE_HOME"] = platform::logsDirectory(env).parent_path().parent_path().string();
  out["XDG_CONFIG_HOME"] = platform::configHomeDirectory(env).string();
  for (const auto& [name, value] : env.values()) {
    if (name.starts_with("TINDERBOX_")) out[name] = value;
  }
  return out;
}

RenderedUnit renderServiceUnit(const std::string& templateText, const LaunchCommand& command,
                               const std::filesystem::path& homeFolder, const std::filesystem::path& logsFolder,
                               const std::map<std::string, std::string>& environment) {
  // A misspelt placeholder is a broken template; values may hold the text legitimately,
  // so only the template itself is looked at.
  std::string bare = templateText;
  for (const char* placeholder : {kExecutable, kArgument, kWorkingDir, kEnvironment, kLogsDir}) {
    replaceAll(bare, placeholder, "");
  }
  if (bare.find("REPLACE_WITH_") != std::string::npos) {
    return {std::nullopt, "Internal error: service unit placeholders were not fully resolved."};
  }

  const std::array<std::pair<const char*, const std::string*>, 4> values{{{"the daemon executable", &command.executable},
                                                                          {"the daemon argument", &command.argument},
                                                                          {"the working folder", &command.workingDirectory},
                                                                          {"the home folder", nullptr}}};
  for (const auto& [what, value] : values) {
    const std::string text = value ? *value : homeFolder.string();
    if (hasControlCharacter(text)) {
      return {std::nullopt, std::string("The service unit cannot hold ") + what +
                                ": its path contains a line break or another control character."};
    }
  }
  if (hasControlCharacter(logsFolder.string())) {
    return {std::nullopt, "The service unit cannot hold the logs folder: its path contains a line break or another "
                          "control character."};
  }
  std::string environmentLines;
  for (const auto& [name, value] : environment) {
    if (hasControlCharacter(name) || hasControlCharacter(value) || name.find('=') != std::string::npos) {
      return {std::nullopt, "The service unit cannot hold the environment variable " + name +
                                ": its value contains a line break or another control character."};
    }
    if (!environmentLines.empty()) environmentLines += "\n";
    environmentLines += "Environment=" + quotedWord(name + "=" + value, false);
  }

  std::string text = templateText;
  replaceAll(text, "~/", escapePercent(homeFolder.string()) + "/");
  replaceAll(text, kExecutable, quotedWord(command.executable, true));
  replaceAll(text, kArgument, quotedWord(command.argument, true));
  replaceAll(text, kWorkingDir, escapePercent(command.workingDirectory));
  replaceAll(text, kEnvironment, environmentLines);
  replaceAll(text, kLogsDir, escapePercent(logsFolder.string()));
  return {std::move(text), {}};
}

std::optional<ServiceUnitFields> readServiceUnit(const std::string& text) {
  ServiceUnitFields fields;
  bool inService = false, sawService = false, sawExecStart = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[') {
      inService = line == "[Service]";
      sawService = sawService || inService;
      continue;
    }
    if (!inService) continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    const std::string key = trim(line.substr(0, equals));
    const std::string value = trim(line.substr(equals + 1));
    if (key == "ExecStart") {
      auto words = splitWords(value, true);
      if (!words || words->empty()) return std::nullopt;
      fields.execStart = std::move(*words);
      sawExecStart = true;
    } else if (key == "WorkingDirectory") {
      fields.workingDirectory = unescapePercent(value);
    } else if (key == "Environment") {
      auto words = splitWords(value, false);
      if (!words) return std::nullopt;
      for (const std::string& word : *words) {
        const auto at = word.find('=');
        if (at == std::string::npos || at == 0) return std::nullopt;
        fields.environment[word.substr(0, at)] = word.substr(at + 1);
      }
    } else if (key == "StandardOutput" || key == "StandardError") {
      if (!value.starts_with("append:")) continue;
      (key == "StandardOutput" ? fields.standardOutput : fields.standardError) = unescapePercent(value.substr(7));
    }
  }
  if (!sawService || !sawExecStart) return std::nullopt;
  return fields;
}

std::optional<ServiceUnitFields> readServiceUnitFile(const std::filesystem::path& path) {
  try {
    const auto text = readFileIfPresent(path);
    if (!text) return std::nullopt;
    return readServiceUnit(*text);
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace qd
