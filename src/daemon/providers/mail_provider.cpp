#include "daemon/providers/mail_provider.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "daemon/providers/apple_script.h"
#include "daemon/providers/permission_guidance.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

using AppleScriptHelpers::escape;
using AppleScriptHelpers::textResult;

const std::vector<std::string>& operations() {
  static const std::vector<std::string> names{"help", "unread", "send", "search", "mailboxes", "accounts", "latest"};
  return names;
}

constexpr const char* kHelp =
    "# Apple Mail Operations\n"
    "\n"
    "## Read Operations\n"
    "- `unread` — List unread inbox messages: subject and sender (params: limit)\n"
    "- `latest` — List the latest inbox messages: subject, sender, date and read status (params: limit)\n"
    "- `search` — Search message subjects in all mailboxes (params: searchTerm, limit)\n"
    "- `mailboxes` — List mailbox names\n"
    "- `accounts` — List account names\n"
    "\n"
    "## Write Operations\n"
    "- `send` — Send a message (params: to, subject, body)\n"
    "\n"
    "## Parameters\n"
    "- `searchTerm` (string, required for search) — Text to match in subjects\n"
    "- `limit` (number, optional) — Maximum messages to return (default: 10 for unread, 5 for latest, 10 for search; "
    "max: 20 for search)\n"
    "- `to` (string, required for send) — Recipient address\n"
    "- `subject` (string, required for send) — Subject\n"
    "- `body` (string, required for send) — Message text";

// The unread listing has no upper bound: only the largest integer AppleScript takes holds it.
constexpr int kUnboundedLimit = 536870911;

std::vector<std::string> inboxScript(bool latest, int limit) {
  std::vector<std::string> lines{"tell application \"Mail\"", "set outLines to {}",
                                 latest ? "set allUnread to (messages of inbox)"
                                        : "set allUnread to (messages of inbox whose read status is false)",
                                 "set maxCount to " + std::to_string(limit),
                                 "repeat with i from 1 to (count of allUnread)",
                                 "if i > maxCount then exit repeat",
                                 "set m to item i of allUnread"};
  if (latest) {
    lines.insert(lines.end(), {"if read status of m then", "set readText to \"read\"", "else",
                               "set readText to \"unread\"", "end if",
                               "set end of outLines to ((subject of m as string) & \" | \" & (sender of m as string) & "
                               "\" | \" & ((date sent of m) as string) & \" | \" & readText)"});
  } else {
    lines.push_back("set end of outLines to ((subject of m as string) & \" | \" & (sender of m as string))");
  }
  lines.push_back("end repeat");
  AppleScriptHelpers::appendLineJoinedReturn(lines);
  lines.push_back("end tell");
  return lines;
}

std::vector<std::string> searchScript(const std::string& term, int limit) {
  const std::string n = std::to_string(limit);
  std::vector<std::string> lines{"tell application \"Mail\"",
                                 "set outLines to {}",
                                 "set emailCount to 0",
                                 "set allMailboxes to mailboxes",
                                 "repeat with i from 1 to (count of allMailboxes)",
                                 "if emailCount >= " + n + " then exit repeat",
                                 "set currentMailbox to item i of allMailboxes",
                                 "set mailboxName to name of currentMailbox",
                                 "set mailboxMessages to messages of currentMailbox",
                                 "repeat with j from 1 to (count of mailboxMessages)",
                                 "if emailCount >= " + n + " then exit repeat",
                                 "set currentMsg to item j of mailboxMessages",
                                 "set emailSubject to subject of currentMsg as string",
                                 "if emailSubject contains \"" + escape(term) + "\" then",
                                 "set emailSender to sender of currentMsg as string",
                                 "set emailDate to (date sent of currentMsg) as string",
                                 "set end of outLines to (emailSubject & \" | \" & emailSender & \" | \" & emailDate & "
                                 "\" | \" & mailboxName)",
                                 "set emailCount to emailCount + 1",
                                 "end if",
                                 "end repeat",
                                 "end repeat"};
  AppleScriptHelpers::appendLineJoinedReturn(lines);
  lines.push_back("end tell");
  return lines;
}

// Names of every mailbox or account; one that cannot be read is skipped.
std::vector<std::string> namesScript(const std::string& collection, const std::string& list, const std::string& item) {
  std::vector<std::string> lines{"tell application \"Mail\"",
                                 "set outLines to {}",
                                 "try",
                                 "set " + list + " to " + collection,
                                 "repeat with " + item + " in " + list,
                                 "try",
                                 "set end of outLines to (name of " + item + " as string)",
                                 "on error",
                                 "end try",
                                 "end repeat",
                                 "on error",
                                 "end try"};
  AppleScriptHelpers::appendLineJoinedReturn(lines);
  lines.push_back("end tell");
  return lines;
}

}  // namespace

std::vector<MCPTool> MailToolProvider::tools() const {
  MCPTool tool;
  tool.name = "mail";
  tool.description = "Read/search/send Apple Mail.";
  tool.inputSchema.type = "object";
  tool.inputSchema.required = std::vector<std::string>{"operation"};
  Json properties = Json::object();
  properties["operation"] = {{"type", "string"}, {"enum", operations()}};
  properties["searchTerm"] = {{"type", "string"}};
  properties["limit"] = {{"type", "number"}};
  properties["to"] = {{"type", "string"}};
  properties["subject"] = {{"type", "string"}};
  properties["body"] = {{"type", "string"}};
  tool.inputSchema.properties = std::move(properties);
  return {tool};
}

OperationsMap MailToolProvider::availableOperations() const { return {{"mail", operations()}}; }

asio::awaitable<std::optional<Json>> MailToolProvider::handle(std::string toolName, std::string, Json arguments) {
  if (toolName != "mail") co_return std::nullopt;
  std::string operation = stringArgument(arguments, "operation").value_or("unread");
  co_return co_await dispatch(std::move(operation), std::move(arguments));
}

asio::awaitable<std::string> MailToolProvider::runAppleScript(std::vector<std::string> lines) {
  ScriptRun run = AppleScriptHelpers::scriptRun(lines, "mail", 15.0, "MailToolProvider", "AppleScript failed");
  co_return co_await runner().run(std::move(run));
}

asio::awaitable<Json> MailToolProvider::dispatch(std::string operation, Json arguments) {
  if (operation == "help") co_return textResult(kHelp);
  const auto& known = operations();
  if (std::find(known.begin(), known.end(), operation) == known.end()) {
    co_return textResult("Unsupported mail operation: " + operation);
  }
  std::string target = "Mail";
  co_await PermissionGuidance::ensureAutomationAccess(runner(), std::move(target));

  const auto limitArgument = numberArgument(arguments, "limit");
  std::vector<std::string> script;
  if (operation == "unread") {
    script = inboxScript(false, parseLimit(limitArgument, 10, kUnboundedLimit));
  } else if (operation == "latest") {
    script = inboxScript(true, parseLimit(limitArgument, 5, 20));
  } else if (operation == "search") {
    const auto term = stringArgument(arguments, "searchTerm");
    if (!term || term->empty()) co_return textResult("Missing searchTerm");
    script = searchScript(*term, parseLimit(limitArgument, 10, 20));
  } else if (operation == "mailboxes") {
    script = namesScript("mailboxes", "allMailboxes", "mb");
  } else if (operation == "accounts") {
    script = namesScript("accounts", "allAccounts", "acct");
  } else {  // send
    const auto to = stringArgument(arguments, "to");
    const auto subject = stringArgument(arguments, "subject");
    const auto body = stringArgument(arguments, "body");
    if (!to || !subject || !body) co_return textResult("Missing to/subject/body");
    script = {"tell application \"Mail\"",
              "set newMessage to make new outgoing message with properties {subject:\"" + escape(*subject) +
                  "\", ¬\ncontent:\"" + escape(*body) + "\", visible:false}",
              "tell newMessage",
              "make new to recipient at end of to recipients with properties {address:\"" + escape(*to) + "\"}",
              "send",
              "end tell",
              "return \"sent\"",
              "end tell"};
  }
  co_return textResult(co_await runAppleScript(std::move(script)));
}

}  // namespace qd
