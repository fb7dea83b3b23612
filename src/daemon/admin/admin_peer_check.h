#pragma once

// Who may use the admin socket: only the tray application of our own installation, run by
// the same user. The daemon checks every peer right after accepting it, before it reads a
// byte, and closes a refused peer at once.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qd {

// Where the application executable is expected: `applicationExecutableName` inside the
// folder of the daemon executable.
struct AdminPeerPolicy {
  static constexpr const char* applicationExecutableName = "QuarvelDorarov";

  // The daemon executable's folder; empty: the folder of /proc/self/exe. Tests install a
  // tree of their own and name its bin folder here.
  std::filesystem::path daemonExecutableFolder;
  // The name of the application executable in that folder. Only tests change it, to
  // admit the test program itself.
  std::string applicationName = applicationExecutableName;
};

// What the kernel says about a connected peer.
struct AdminPeer {
  std::uint32_t effectiveUserID = 0;
  pid_t pid = 0;                 // 0 when unknown (a peer in a pid namespace we cannot see into)
  std::string executablePath;    // empty when /proc/<pid>/exe cannot be read
};

// SO_PEERCRED (as it was at connect time) and /proc/<pid>/exe; none when the kernel does
// not answer for the descriptor.
std::optional<AdminPeer> adminPeerOf(int clientFd);

// The exact path the application must run from: the policy's folder with its symbolic
// links resolved (as /proc/<pid>/exe resolves them) and the application's name; the name
// itself is not resolved, so a link there never admits the program it points to. Empty
// when the folder cannot be found.
std::string expectedApplicationPath(const AdminPeerPolicy& policy);

// The decision, in this order: the peer's effective uid is ours, its pid is at least 1,
// both paths are known, and the peer's executable is exactly the expected path. There is
// no suffix match: another installation of the application is refused.
bool isAuthorizedAdminPeer(const AdminPeer& peer, std::uint32_t ownEffectiveUserID,
                           const std::string& expectedPath);

}  // namespace qd
