#pragma once

// The application providers the daemon registers, built once in their fixed order with
// their identifiers and tiers.

#include <memory>
#include <vector>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"
#include "daemon/runtime/blocking_pool.h"
#include "daemon/utilities/clock.h"
#include "platform/calendar_store.h"
#include "platform/contact_store.h"

namespace qd {

// What the providers reach the system through; tests fill it with fakes.
struct ProviderServices {
  std::shared_ptr<ScriptRunner> scriptRunner;
  platform::CalendarStoreFactory calendarStores;
  platform::ContactStoreFactory contactStores;
  const Clock* clock = &Clock::system();
};

// osascript from PATH through `pool`, the system's calendar and contact stores, the real
// clock. `pool` must outlive the providers.
ProviderServices systemProviderServices(BlockingPool& pool);

// In the daemon's order: ("bookends", beta), ("time-server", beta, default zone
// "America/Halifax"), ("contacts", dev), ("calendar", dev). The providers of the other
// applications take their places between these as they are added.
std::vector<std::shared_ptr<ToolProvider>> makeApplicationProviders(const ProviderServices& services);

}  // namespace qd
