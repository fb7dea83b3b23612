#include "app/settings/admin_call.h"

#include "daemon/admin/admin_protocol.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd {

AdminCall adminCallFor(const AppContext& context) {
  const std::string socket = DaemonAdminXPCProtocol::socketPathBeside(context.configuration().socketPath());
  return [socket](const std::string& method, const std::optional<Json>& params) {
    return DaemonAdminAPI::request(socket, method, params);
  };
}

AdminCall defaultAdminCall() {
  return [](const std::string& method, const std::optional<Json>& params) {
    return DaemonAdminAPI::request(method, params);
  };
}

}  // namespace qd
