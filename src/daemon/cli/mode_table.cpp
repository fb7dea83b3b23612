#include "daemon/cli/mode_table.h"

#include <array>
#include <csignal>
#include <functional>
#include <iostream>
#include <map>
#include <utility>

#include "daemon/cli/client_modes.h"
#include "daemon/cli/daemon_mode.h"
#include "daemon/config/tier_argument.h"
#include "daemon/logging/logger.h"
#include "daemon/runtime/coroutine_helpers.h"

namespace qd {
namespace {

constexpr std::string_view kComponent = "App";

constexpr std::array<std::pair<std::string_view, ExecutionMode>, 9> kModeTable{{
    {"--daemon", ExecutionMode::daemon},
    {"--client", ExecutionMode::client},
    {"--notify", ExecutionMode::notify},
    {"--sync-hook", ExecutionMode::syncHook},
    {"--restart-tinderbox", ExecutionMode::restartTinderbox},
    {"--start-tinderbox", ExecutionMode::startTinderbox},
    {"--stop-tinderbox", ExecutionMode::stopTinderbox},
    {"--help", ExecutionMode::help},
    {"-h", ExecutionMode::help},
}};

// Four blanks, then the invocation padded to 40 characters, then its description; a
// description that does not fit stands on the next line after 45 blanks.
std::string invocation(std::string_view command, std::string_view description) {
  std::string line = "    " + std::string(command);
  if (command.size() < 40) return line + std::string(40 - command.size(), ' ') + std::string(description);
  return line + "\n" + std::string(45, ' ') + std::string(description);
}

std::string variable(std::string_view name, std::string_view description) {
  return "    " + std::string(name) + std::string(32 - name.size(), ' ') + std::string(description);
}

std::string buildUsageText() {
  std::string text;
  auto add = [&text](std::string_view line) {
    if (!text.empty()) text += '\n';
    text += line;
  };
  add("Quarvel Dorarov - MCP request router and message bus");
  add("");
  add("Usage:");
  add(invocation("quarvel-toolbox --daemon", "Start daemon server (manages Tinderbox connection)"));
  add(invocation("quarvel-toolbox --client", "Start client (connects to daemon, exposes MCP to Claude)"));
  add(invocation("quarvel-toolbox --notify --agents <name> --data '{json}'", "Send notification to agent(s)"));
  add(invocation("quarvel-toolbox --sync-hook", "Read Claude hook JSON from stdin and sync to Tinderbox logs"));
  add(invocation("quarvel-toolbox --client --profile <name>", "Expose a profile-scoped MCP surface"));
  add(std::string(45, ' ') + "(all|tinderbox|bookends|devonthink|omnifocus|");
  add(std::string(46, ' ') + "router-core|tbx-nav|tbx-doc|tbx-export)");
  add(invocation("quarvel-toolbox --restart-tinderbox", "Ask the daemon to restart the Tinderbox app"));
  add(invocation("quarvel-toolbox --start-tinderbox", "Ask the daemon to start the Tinderbox app"));
  add(invocation("quarvel-toolbox --stop-tinderbox", "Ask the daemon to stop the Tinderbox app"));
  add(invocation("quarvel-toolbox --tier release|beta|dev", "Set feature tier threshold (default: release)"));
  add(invocation("quarvel-toolbox --help", "Show this help message"));
  add("");
  add("Examples:");
  add("    # Start daemon (run this first)");
  add("    quarvel-toolbox --daemon");
  add("");
  add("    # Start client (in another terminal)");
  add("    quarvel-toolbox --client");
  add("");
  add("    # Send notification to an agent");
  add(R"(    quarvel-toolbox --notify --agents researcher --data '{"task":"analyze data"}')");
  add("");
  add("    # Broadcast notification to all agents");
  add(R"(    quarvel-toolbox --notify --agents '*' --data '{"broadcast":"hello everyone"}')");
  add("");
  add("Environment Variables:");
  add(variable("TINDERBOX_MCP_PATH", "Path to Tinderbox executable"));
  add(variable("TINDERBOX_DOCUMENT", "Document to open (.tbx file)"));
  add(variable("TINDERBOX_SOCKET_PATH", "Unix socket path for daemon/client IPC"));
  add(variable("TINDERBOX_CONNECTION_TIMEOUT", "Connection timeout (ms)"));
  add(variable("TINDERBOX_REQUEST_TIMEOUT", "Request timeout (ms)"));
  add(variable("TINDERBOX_MAX_QUEUE_LENGTH", "Max requests in queue"));
  add(variable("TINDERBOX_MAX_CLIENTS", "Max concurrent clients"));
  add(variable("TINDERBOX_FEATURE_TIER", "Feature tier threshold (release|beta|dev)"));
  add("");
  add("For more information, see README.md");
  return text;
}

int runDefaultMode() {
  std::cout << "Menu bar app mode not yet implemented.\n"
            << "Use --daemon or --client flags to run in specific modes.\n"
            << "Use --help for usage information.\n"
            << usageText() << '\n'
            << std::flush;
  return 1;
}

}  // namespace

ExecutionMode executionMode(const std::vector<std::string>& args) {
  for (const auto& [flag, mode] : kModeTable) {
    for (const std::string& argument : args) {
      if (argument == flag) return mode;
    }
  }
  return ExecutionMode::defaultMode;
}

std::string_view usageText() {
  static const std::string text = buildUsageText();
  return text;
}

int run(ExecutionMode mode, const std::vector<std::string>& args) {
  // The modes that need nothing but themselves.
  static const std::map<ExecutionMode, std::function<int()>> plainModes{
      {ExecutionMode::daemon, runDaemonMode},
      {ExecutionMode::syncHook, runSyncHookMode},
      {ExecutionMode::restartTinderbox, runRestartTinderboxMode},
      {ExecutionMode::startTinderbox, runStartTinderboxMode},
      {ExecutionMode::stopTinderbox, runStopTinderboxMode},
  };
  if (auto found = plainModes.find(mode); found != plainModes.end()) return found->second();
  switch (mode) {
    case ExecutionMode::client:
      return runClientMode(args);
    case ExecutionMode::notify:
      return runNotifyMode(args);
    case ExecutionMode::help:
      std::cout << usageText() << '\n' << std::flush;
      return 0;
    default:
      return runDefaultMode();
  }
}

int runMain(int argc, const char* const* argv) {
  // SIGXFSZ ignored, a write past the file-size limit (RLIMIT_FSIZE) fails with EFBIG and
  // the log appends cut the record back as after a full disk; by default the signal would
  // kill the program mid-record, leaving its sockets and files behind. Before the first log
  // line, since standard error may be a log file already at the limit. Children get the
  // default disposition back from the child-process layer.
  std::signal(SIGXFSZ, SIG_IGN);
  Logger::info(kComponent, "Quarvel Dorarov starting");
  const std::vector<std::string> args(argv, argv + argc);
  // Before anything reads the process-wide configuration, which reads its environment once.
  applyTierArgument(argc, argv);
  try {
    return run(executionMode(args), args);
  } catch (...) {
    const std::string description = describeException(std::current_exception());
    Logger::error(kComponent, "Fatal error", Json{{"error", description}});
    std::cout << "Error: " << description << '\n' << std::flush;
    return 1;
  }
}

}  // namespace qd
