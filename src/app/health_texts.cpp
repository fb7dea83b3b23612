#include "app/health_texts.h"

#include <unistd.h>

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* kOperationFailed = "Operation failed. Use Email Diagnostics from the menu to send logs.";
constexpr const char* kCommunicationError =
    "Operation failed due to a daemon communication error. Use Email Diagnostics from the menu to send logs.";

// Lines of valid UTF-8 text split at every line end the platform's newline set names:
// LF, VT, FF, CR (CRLF counting once), NEL, LS, PS.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t skip = 0;
    if (c == '\n' || c == '\v' || c == '\f') {
      skip = 1;
    } else if (c == '\r') {
      skip = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      skip = 2;
    } else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      skip = 3;
    }
    if (skip == 0) {
      current += text[i];
      continue;
    }
    lines.push_back(std::move(current));
    current.clear();
    i += skip - 1;
  }
  lines.push_back(std::move(current));
  return lines;
}

bool isJsonLine(const std::string& line) { return line.starts_with("{") || line.starts_with("["); }

}  // namespace

std::string sanitizedUserMessage(const std::string& message) {
  const std::string trimmed = trimWhitespaceAndNewlines(unicode::isValidUtf8(message) ? message : std::string());
  if (trimmed.empty()) return kOperationFailed;
  std::vector<std::string> lines;
  for (const std::string& line : splitLines(trimmed)) {
    std::string kept = trimWhitespaceAndNewlines(line);
    if (!kept.empty()) lines.push_back(std::move(kept));
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->starts_with("Error: ")) return *it;
  }
  std::size_t jsonLines = 0;
  for (const std::string& line : lines) jsonLines += isJsonLine(line) ? 1 : 0;
  const bool mostlyJson = lines.size() < 4 ? jsonLines >= 2 : jsonLines >= lines.size() / 2;
  if (mostlyJson) return kCommunicationError;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!isJsonLine(*it)) return *it;
  }
  return kOperationFailed;
}

std::optional<std::string> readLogTail(const std::filesystem::path& file, std::size_t count) {
  std::optional<std::string> text;
  try {
    text = readFileIfPresent(file);
  } catch (const Error&) {
    return std::nullopt;
  }
  if (!text || !unicode::isValidUtf8(*text)) return std::nullopt;
  std::vector<std::string> lines;
  for (std::string& line : splitLines(*text)) {
    if (!line.empty()) lines.push_back(std::move(line));
  }
  const std::size_t first = lines.size() > count ? lines.size() - count : 0;
  std::string out;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (i > first) out += "\n";
    out += lines[i];
  }
  return out;
}

std::string daemonStartupFailureSummary(const std::optional<std::string>& installedExecutable,
                                        const std::filesystem::path& daemonErrorLog) {
  const std::string path = installedExecutable.value_or("(missing from service unit)");
  if (installedExecutable && ::access(path.c_str(), X_OK) != 0) {
    return "The service unit points to a missing daemon executable:\n\n" + path +
           "\n\nQuarvel Dorarov will rewrite the service path on the next start attempt. If it still fails, use "
           "Email Diagnostics from the menu.";
  }
  const auto tail = readLogTail(daemonErrorLog, 12);
  if (!tail || tail->empty()) {
    return "The service daemon stopped during startup. Use Restart Service or Email Diagnostics from the menu.";
  }
  return "The service daemon stopped during startup.\n\nRecent daemon log:\n" + *tail +
         "\n\nUse Email Diagnostics from the menu to send the full logs.";
}

std::string serviceRunFailureMessage(const std::string& program, int status, const std::vector<std::string>& arguments,
                                     const std::string& standardError, const std::string& standardOutput) {
  std::string details;
  for (const std::string* output : {&standardError, &standardOutput}) {
    const std::string text = trimWhitespaceAndNewlines(unicode::isValidUtf8(*output) ? *output : std::string());
    if (text.empty()) continue;
    if (!details.empty()) details += "\n";
    details += text;
  }
  std::string command = program;
  for (const std::string& argument : arguments) command += " " + argument;
  return program + " exited with status " + std::to_string(status) + ".\n\nCommand: " + command +
         (details.empty() ? std::string() : "\n\nDetails:\n" + details);
}

}  // namespace qd
