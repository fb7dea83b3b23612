#include "app/daemon_helper.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "app/program_run.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

std::string decoded(const std::string& bytes) {
  return trimWhitespaceAndNewlines(unicode::isValidUtf8(bytes) ? bytes : std::string());
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

DaemonHelperRun runDaemonHelperOnce(const std::filesystem::path& daemon, const std::string& argument,
                                    const platform::Environment& env, std::chrono::milliseconds limit) {
  const ProgramRun run = runProgram(daemon.string(), {argument}, env, true, limit);
  DaemonHelperRun result;
  if (run.launchError) {
    result.combinedOutput = *run.launchError;
    return result;
  }
  result.timedOut = run.timedOut;
  result.status = run.status;
  for (const std::string* output : {&run.standardError, &run.standardOutput}) {
    const std::string text = decoded(*output);
    if (text.empty()) continue;
    if (!result.combinedOutput.empty()) result.combinedOutput += "\n";
    result.combinedOutput += text;
  }
  return result;
}

bool isClosedConnectionOutput(const std::string& output) {
  const std::string text = lowered(output);
  return text.find("connectionclosed") != std::string::npos ||
         text.find("connection to daemon closed") != std::string::npos;
}

std::string sanitizedHelperErrorMessage(const std::string& output, int status) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    line = trimWhitespaceAndNewlines(line);
    if (!line.empty()) lines.push_back(std::move(line));
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->starts_with("Error: ")) return *it;
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!it->starts_with("{")) return *it;
  }
  return "Could not complete request (status " + std::to_string(status) +
         "). Use Email Diagnostics from the menu to send logs.";
}

std::string helperTimedOutMessage(std::chrono::milliseconds limit) {
  return "The daemon did not answer within " +
         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
         " seconds and the request was stopped. Use Email Diagnostics from the menu to send logs.";
}

}  // namespace qd
