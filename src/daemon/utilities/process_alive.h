#pragma once

#include <sys/types.h>

namespace qd {

// Whether a process with this id exists and this user may signal it (signal 0). A process
// of another user counts as not alive. 0 and negative ids name process groups, as in kill.
bool isProcessAlive(pid_t pid);

}  // namespace qd
