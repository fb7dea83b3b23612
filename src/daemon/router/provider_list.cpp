#include "daemon/router/provider_list.h"

#include "daemon/providers/application_providers.h"

namespace qd {

std::vector<std::shared_ptr<ToolProvider>> inProcessProviders(const asio::any_io_executor& executor,
                                                              const Configuration& configuration, BlockingPool& pool) {
  (void)executor;
  (void)configuration;
  std::vector<std::shared_ptr<ToolProvider>> providers;
  // aTbRef goes here, ahead of every application provider, once it lands:
  //   providers.push_back(std::make_shared<ATbRefProvider>(...));
  // The application providers keep their order among themselves (makeApplicationProviders
  // places each new one at its position).
  for (std::shared_ptr<ToolProvider>& provider : makeApplicationProviders(systemProviderServices(pool))) {
    providers.push_back(std::move(provider));
  }
  return providers;
}

}  // namespace qd
