#include "daemon/providers/apple_script.h"

#include <limits>
#include <utility>

#include "daemon/mcp/mcp_types.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/script_literal.h"

namespace qd::AppleScriptHelpers {

Json textResult(std::string text) { return textToolResult(std::move(text)); }

std::string escape(std::string_view text) { return scriptLiteralEscaped(text); }

std::string laneForScript(const std::vector<std::string>& lines) {
  std::string script;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) script += '\n';
    script += lines[i];
  }
  static const std::pair<const char*, const char*> applications[] = {
      {"tell application \"Contacts\"", "contacts"}, {"tell application \"Notes\"", "notes"},
      {"tell application \"Messages\"", "messages"}, {"tell application \"Mail\"", "mail"},
      {"tell application \"Reminders\"", "reminders"}, {"tell application \"Calendar\"", "calendar"},
      {"tell application \"Maps\"", "maps"},
  };
  for (const auto& [needle, lane] : applications) {
    if (script.find(needle) != std::string::npos) return lane;
  }
  return "apple-mcp";
}

void appendLineJoinedReturn(std::vector<std::string>& lines) {
  lines.insert(lines.end(), {"set AppleScript's text item delimiters to linefeed", "set outputText to outLines as text",
                             "set AppleScript's text item delimiters to \"\"", "return outputText"});
}

std::optional<std::int64_t> outputInteger(std::string_view output) {
  const std::string text = trimWhitespaceAndNewlines(output);
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  // Accumulated as a negative number, so the most negative value reads too.
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const int digit = text[i] - '0';
    if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
  return -value;
}

std::vector<std::string> scriptArguments(const std::vector<std::string>& lines) {
  std::vector<std::string> arguments;
  arguments.reserve(lines.size() * 2);
  for (const auto& line : lines) {
    arguments.push_back("-e");
    arguments.push_back(line);
  }
  return arguments;
}

ScriptRun scriptRun(const std::vector<std::string>& lines, std::string lane, double timeoutSeconds,
                    std::string errorDomain, std::string failureDescription) {
  return ScriptRun{scriptArguments(lines), std::move(lane), timeoutSeconds, std::move(errorDomain),
                   std::move(failureDescription)};
}

asio::awaitable<std::string> runAppleScript(ScriptRunner& runner, std::vector<std::string> lines) {
  ScriptRun run = scriptRun(lines, laneForScript(lines), 15.0, "AppleScriptHelpers", "AppleScript failed");
  co_return co_await runner.run(std::move(run));
}

}  // namespace qd::AppleScriptHelpers
