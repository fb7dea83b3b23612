#include "daemon/cli/one_shot_modes.h"

#include <unistd.h>

#include <cerrno>

#include <asio/this_coro.hpp>

#include "daemon/cli/arguments.h"
#include "daemon/cli/client_modes.h"
#include "daemon/cli/run_to_end.h"
#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/descriptor_io.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* kComponent = "App";
constexpr const char* kNotifyUsage =
    "Usage: quarvel-toolbox --notify --agents <agent-name> --data '{\"message\":\"hello\"}'";

void printLine(int fd, const std::string& text) { writeAllToDescriptor(fd, text + "\n"); }

struct ControlRow {
  const char* logLine;
  const char* tool;
  Json arguments;
};

ControlRow controlRow(TinderboxControl control) {
  switch (control) {
    case TinderboxControl::restart:
      return {"Restarting Tinderbox via daemon helper", "tbx_doc_restart_tinderbox", {{"reason", "menu-bar restart"}}};
    case TinderboxControl::start: return {"Starting Tinderbox via daemon helper", "tbx_doc_open_tinderbox", Json::object()};
    case TinderboxControl::stop: break;
  }
  return {"Stopping Tinderbox via daemon helper", "tbx_doc_quit_tinderbox", Json::object()};
}

// One call on a connection of its own; a failure is thrown.
asio::awaitable<CallToolResult> callOnce(TinderboxClientOptions daemon, std::string tool, Json arguments) {
  auto client = TinderboxClient::create(co_await asio::this_coro::executor, std::move(daemon));
  co_await client->start();
  CallToolResult result = co_await client->callToolTyped(std::move(tool), std::move(arguments));
  client->shutdown();
  co_return result;
}

// The texts of a result's text items, one per line.
std::string resultText(const CallToolResult& result) {
  std::string text;
  for (const ToolContent& item : result.content) {
    if (!item.text) continue;
    if (!text.empty()) text += "\n";
    text += *item.text;
  }
  return text.empty() ? "The daemon's tool reported an error without a text" : text;
}

std::string readAll(int fd) {
  std::string all;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return all;
    all.append(buffer, static_cast<std::size_t>(n));
  }
}

TinderboxClientOptions processDaemonOptions() {
  return TinderboxClientOptions::fromConfiguration(Configuration::shared());
}

}  // namespace

asio::awaitable<int> notifyOnce(TinderboxClientOptions daemon, std::vector<std::string> args, int outputFd) {
  const auto agents = argumentValue("--agents", args);
  if (!agents) {
    printLine(outputFd, kNotifyUsage);
    co_return 1;
  }
  const auto dataText = argumentValue("--data", args);
  std::optional<Json> data;
  if (dataText) {
    try {
      data = parseJson(*dataText);
    } catch (const std::exception&) {
    }
  }
  if (!data || !data->is_object()) {
    printLine(outputFd, "Error: Invalid JSON data");
    co_return 1;
  }
  Logger::info(kComponent, "Sending notification", {{"agents", *agents}});
  auto client = TinderboxClient::create(co_await asio::this_coro::executor, std::move(daemon));
  co_await client->start();
  std::string agentsText = *agents;  // named: g++ 12 destroys a temporary argument twice
  co_await client->sendNotification(std::move(agentsText), std::move(*data));
  client->shutdown();
  Logger::info(kComponent, "Notification sent");
  co_return 0;
}

asio::awaitable<int> syncHookOnce(TinderboxClientOptions daemon, std::string input) {
  const std::string payload = unicode::isValidUtf8(input) ? trimWhitespaceAndNewlines(input) : "";
  if (payload.empty()) {
    Logger::warn(kComponent, "sync-hook received empty or invalid JSON payload", Json::object());
    co_return 0;
  }
  Json arguments = {{"payloadJSON", payload}};
  std::string tool = "sync_claude_hook";
  co_await callOnce(std::move(daemon), std::move(tool), std::move(arguments));  // the result is not examined
  co_return 0;
}

asio::awaitable<int> tinderboxControlOnce(TinderboxClientOptions daemon, TinderboxControl control) {
  ControlRow row = controlRow(control);
  Logger::info(kComponent, row.logLine);
  std::string tool = row.tool;
  const CallToolResult result = co_await callOnce(std::move(daemon), std::move(tool), std::move(row.arguments));
  // A refusal ("Restart denied: ...") is reported like a failed call: the caller, often the
  // tray application, must not take it for done.
  if (result.isError.value_or(false)) throw Error(resultText(result));
  co_return 0;
}

int runNotifyMode(const std::vector<std::string>& args) {
  return runToEnd(notifyOnce(processDaemonOptions(), args, STDOUT_FILENO));
}

int runSyncHookMode() { return runToEnd(syncHookOnce(processDaemonOptions(), readAll(STDIN_FILENO))); }

int runRestartTinderboxMode() {
  return runToEnd(tinderboxControlOnce(processDaemonOptions(), TinderboxControl::restart));
}

int runStartTinderboxMode() { return runToEnd(tinderboxControlOnce(processDaemonOptions(), TinderboxControl::start)); }

int runStopTinderboxMode() { return runToEnd(tinderboxControlOnce(processDaemonOptions(), TinderboxControl::stop)); }

}  // namespace qd
