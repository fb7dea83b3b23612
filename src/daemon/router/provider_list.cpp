#include "daemon/router/provider_list.h"

namespace qd {

std::vector<std::shared_ptr<ToolProvider>> inProcessProviders(const asio::any_io_executor& executor,
                                                              const Configuration& configuration) {
  (void)executor;
  (void)configuration;
  std::vector<std::shared_ptr<ToolProvider>> providers;
  // One line per provider, in the order of the header, as each provider lands:
  //   providers.push_back(std::make_shared<ATbRefProvider>(...));
  return providers;
}

}  // namespace qd
