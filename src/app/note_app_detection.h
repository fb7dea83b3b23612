#pragma once

// Whether a note app runs among this user's processes. One process counts when, first
// match deciding: its executable is one of ours (the application or the daemon beside it:
// never, whatever it is called); its executable path holds "/tinderbox.app/contents/macos/"
// or "/tinderbox 11.app/contents/macos/" (any case); else its name (argv[0]'s base name,
// else the kernel's command name) holds "tinderbox" and not "router" (any case).
//
// Walking /proc takes a few milliseconds per hundred processes: the health monitor asks it
// on its worker thread.

#include <filesystem>
#include <string>
#include <vector>

namespace qd {

struct RunningProcess {
  int pid = 0;
  std::filesystem::path executable;  // /proc/<pid>/exe; empty when unreadable
  std::string name;
};

bool isNoteAppProcess(const RunningProcess& process, const std::vector<std::filesystem::path>& ownExecutables);

// This user's processes (other than the caller), in /proc's order.
std::vector<RunningProcess> runningProcessesOfThisUser();

bool isNoteAppRunning(const std::vector<std::filesystem::path>& ownExecutables);

}  // namespace qd
