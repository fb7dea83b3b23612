#include <iostream>

#include "daemon/cli/client_modes.h"

namespace qd {
namespace {

int notBuiltYet(const char* mode) {
  std::cerr << "Error: " << mode << " is not available in this build yet\n";
  return 1;
}

}  // namespace

int runClientMode(const std::vector<std::string>&) { return notBuiltYet("--client"); }
int runNotifyMode(const std::vector<std::string>&) { return notBuiltYet("--notify"); }
int runSyncHookMode() { return notBuiltYet("--sync-hook"); }
int runRestartTinderboxMode() { return notBuiltYet("--restart-tinderbox"); }
int runStartTinderboxMode() { return notBuiltYet("--start-tinderbox"); }
int runStopTinderboxMode() { return notBuiltYet("--stop-tinderbox"); }

}  // namespace qd
