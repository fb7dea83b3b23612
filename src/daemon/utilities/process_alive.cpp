#include "daemon/utilities/process_alive.h"

#include <csignal>

namespace qd {

bool isProcessAlive(pid_t pid) { return ::kill(pid, 0) == 0; }

}  // namespace qd
