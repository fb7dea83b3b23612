#include "daemon/router/provider_list.h"

#include "daemon/providers/application_providers.h"
#include "daemon/providers/atbref_provider.h"

namespace qd {

std::vector<std::shared_ptr<ToolProvider>> inProcessProviders(const asio::any_io_executor& executor,
                                                              const Configuration& configuration, BlockingPool& pool) {
  (void)executor;
  (void)configuration;
  std::vector<std::shared_ptr<ToolProvider>> providers;
  // The reference provider comes first, ahead of every application provider.
  providers.push_back(std::make_shared<ATBRefProvider>(pool));
  // The application providers keep their order among themselves (makeApplicationProviders
  // places each new one at its position).
  for (std::shared_ptr<ToolProvider>& provider : makeApplicationProviders(systemProviderServices(pool))) {
    providers.push_back(std::move(provider));
  }
  return providers;
}

}  // namespace qd
