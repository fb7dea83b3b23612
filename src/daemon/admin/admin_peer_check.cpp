#include "daemon/admin/admin_peer_check.h"

#include <system_error>

#include "daemon/core/client_process_info.h"

namespace qd {

std::optional<AdminPeer> adminPeerOf(int clientFd) {
  const std::optional<ClientProcessInfo> info = resolveClientProcessInfo(clientFd);
  if (!info || !info->effectiveUserID) return std::nullopt;
  AdminPeer peer;
  peer.effectiveUserID = *info->effectiveUserID;
  peer.pid = info->pid.value_or(0);  // below 1 counts as unknown there
  peer.executablePath = info->executablePath.value_or("");
  return peer;
}

std::string expectedApplicationPath(const AdminPeerPolicy& policy) {
  std::error_code ec;
  std::filesystem::path folder = policy.daemonExecutableFolder;
  if (folder.empty()) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || self.empty()) return {};
    folder = self.parent_path();
  }
  folder = std::filesystem::canonical(folder, ec);
  if (ec || folder.empty() || policy.applicationName.empty()) return {};
  return (folder / policy.applicationName).string();
}

bool isAuthorizedAdminPeer(const AdminPeer& peer, std::uint32_t ownEffectiveUserID,
                           const std::string& expectedPath) {
  if (peer.effectiveUserID != ownEffectiveUserID) return false;
  if (peer.pid < 1) return false;
  if (peer.executablePath.empty() || expectedPath.empty()) return false;
  // On macOS the application's code signature (its identifier and its team, the same as
  // ours) proves who it is. Linux has no code signing: the executable's exact path inside
  // our own installation stands in for that proof, which is why no other location (no
  // suffix match, no second copy) is accepted.
  return peer.executablePath == expectedPath;
}

}  // namespace qd
