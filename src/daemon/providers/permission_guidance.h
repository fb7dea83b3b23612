#pragma once

// Checking a desktop permission before a provider needs it, and turning a refusal into
// step-by-step guidance. The automation preflight runs a harmless one-line script against
// the target application on the lane "permissions-<target in lower case>" (8 s), so a
// refusal or a missing program shows up before the real script runs. Nothing is
// remembered: every call repeats the check.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/providers/script_runner.h"
#include "platform/environment.h"

namespace qd {

enum class AccessRequirement { automation, calendars, contacts, reminders, fullDiskAccess };

// "Automation", "Calendars", "Contacts", "Reminders", "Full Disk Access".
std::string_view rawValue(AccessRequirement requirement);
std::optional<AccessRequirement> accessRequirementFromRaw(std::string_view raw);

struct AccessCheckResult {
  bool granted = false;
  std::string message;  // "ok" when granted, else the guidance text
  bool operator==(const AccessCheckResult&) const = default;
};

namespace PermissionGuidance {

// The guidance lines joined by line feeds: what is missing, "Please:", the steps of each
// requirement kind present (fixed order and numbers, once each), the restart step, and
// "Details: " + extra when extra is not empty.
std::string detailedAccessMessage(std::string_view operation, const std::vector<AccessRequirement>& requirements,
                                  std::string_view targetApp, const std::optional<std::string>& extra);

// Never throws: any failure of the preflight run counts as not granted, with the run's
// own text as the details.
asio::awaitable<AccessCheckResult> checkAutomationAccess(ScriptRunner& runner, std::string targetApp);

// Throws ProviderError {"PermissionGuidance", 1, guidance} when not granted.
asio::awaitable<void> ensureAutomationAccess(ScriptRunner& runner, std::string targetApp);

// Whether the Messages database (<home>/Library/Messages/chat.db) exists and is readable
// by this process; the file is not opened.
AccessCheckResult checkMessagesDatabaseAccess(const platform::Environment& environment);

}  // namespace PermissionGuidance
}  // namespace qd
