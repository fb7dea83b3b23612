#include "daemon/providers/permission_guidance.h"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "daemon/core/provider_error.h"
#include "daemon/providers/apple_script.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/process_runner.h"
#include "daemon/utilities/unicode_text.h"
#include "platform/user_folders.h"

namespace qd {

std::string_view rawValue(AccessRequirement requirement) {
  switch (requirement) {
    case AccessRequirement::automation: return "Automation";
    case AccessRequirement::calendars: return "Calendars";
    case AccessRequirement::contacts: return "Contacts";
    case AccessRequirement::reminders: return "Reminders";
    case AccessRequirement::fullDiskAccess: return "Full Disk Access";
  }
  return "";
}

std::optional<AccessRequirement> accessRequirementFromRaw(std::string_view raw) {
  for (auto requirement : {AccessRequirement::automation, AccessRequirement::calendars, AccessRequirement::contacts,
                           AccessRequirement::reminders, AccessRequirement::fullDiskAccess}) {
    if (rawValue(requirement) == raw) return requirement;
  }
  return std::nullopt;
}

namespace PermissionGuidance {
namespace {

std::string settingsSteps(std::string_view pane) {
  return "3. Open System Settings > Privacy & Security > " + std::string(pane) +
         "\n4. Add/enable your terminal/app in allowed applications";
}

// The error's text as the user should read it: a run's own message, not its domain form.
std::string localizedDescription(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const ProcessRunnerError& e) {
    return e.message();
  } catch (...) {
    return describeException(std::current_exception());
  }
}

}  // namespace

std::string detailedAccessMessage(std::string_view operation, const std::vector<AccessRequirement>& requirements,
                                  std::string_view targetApp, const std::optional<std::string>& extra) {
  const auto has = [&](AccessRequirement r) {
    return std::find(requirements.begin(), requirements.end(), r) != requirements.end();
  };
  const std::string target(targetApp);
  std::string text = target + " access is required for " + std::string(operation) + ", but it is not granted.";
  text += "\nPlease:";
  if (has(AccessRequirement::automation)) {
    text += "\n1. Open System Settings > Privacy & Security > Automation";
    text += "\n2. Find your terminal/app in the list and enable '" + target + "'";
  }
  if (has(AccessRequirement::calendars)) text += "\n" + settingsSteps("Calendars");
  if (has(AccessRequirement::contacts)) text += "\n" + settingsSteps("Contacts");
  if (has(AccessRequirement::reminders)) text += "\n" + settingsSteps("Reminders");
  if (has(AccessRequirement::fullDiskAccess)) {
    text += "\n3. Open System Settings > Privacy & Security > Full Disk Access";
    text += "\n4. Add/enable your terminal/app to allow Messages database access";
  }
  text += "\n5. Restart your terminal/app and try again";
  if (extra && !extra->empty()) text += "\nDetails: " + *extra;
  return text;
}

asio::awaitable<AccessCheckResult> checkAutomationAccess(ScriptRunner& runner, std::string targetApp) {
  const std::vector<std::string> lines{"tell application \"" + AppleScriptHelpers::escape(targetApp) +
                                       "\" to get name"};
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "permissions-" + unicode::lowercased(targetApp), 8.0,
                                                "PermissionGuidance", "Permission preflight failed");
  std::exception_ptr failure;
  try {
    co_await runner.run(std::move(run));
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) co_return AccessCheckResult{true, "ok"};
  co_return AccessCheckResult{false, detailedAccessMessage("automation request to " + targetApp,
                                                           {AccessRequirement::automation}, targetApp,
                                                           localizedDescription(failure))};
}

asio::awaitable<void> ensureAutomationAccess(ScriptRunner& runner, std::string targetApp) {
  const AccessCheckResult result = co_await checkAutomationAccess(runner, std::move(targetApp));
  if (!result.granted) throw ProviderError("PermissionGuidance", 1, result.message);
}

AccessCheckResult checkMessagesDatabaseAccess(const platform::Environment& environment) {
  const std::filesystem::path path = platform::homeDirectory(environment) / "Library/Messages/chat.db";
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    return {false, detailedAccessMessage("Messages database access", {AccessRequirement::fullDiskAccess}, "Messages",
                                         "chat.db not found at " + path.string())};
  }
  if (::access(path.c_str(), R_OK) != 0) {
    return {false, detailedAccessMessage("Messages database access", {AccessRequirement::fullDiskAccess}, "Messages",
                                         "chat.db is not readable at " + path.string())};
  }
  return {true, "ok"};
}

}  // namespace PermissionGuidance
}  // namespace qd
