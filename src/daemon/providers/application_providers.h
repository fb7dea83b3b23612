#pragma once

// The application providers the daemon registers, built once in their fixed order with
// their identifiers and tiers.

#include <memory>
#include <optional>
#include <vector>

#include "daemon/core/tool_provider.h"
#include "daemon/providers/script_runner.h"
#include "daemon/runtime/blocking_pool.h"
#include "daemon/utilities/clock.h"
#include "platform/calendar_store.h"
#include "platform/contact_store.h"
#include "platform/environment.h"

namespace qd {

// What the providers reach the system through; tests fill it with fakes.
struct ProviderServices {
  std::shared_ptr<ScriptRunner> scriptRunner;
  // Where the Messages database is queried; must be set and outlive the providers.
  BlockingPool* blockingPool = nullptr;
  // Where the home folder is read; absent, the process environment at each call.
  std::optional<platform::Environment> environment;
  platform::CalendarStoreFactory calendarStores;
  platform::ContactStoreFactory contactStores;
  const Clock* clock = &Clock::system();
};

// osascript from PATH and the Messages database queries through `pool`, the system's
// calendar and contact stores, the real clock. `pool` must outlive the providers.
ProviderServices systemProviderServices(BlockingPool& pool);

// In the daemon's order: ("bookends", beta), ("omnifocus_consolidated", beta),
// ("devonthink", dev), ("time-server", beta, default zone "America/Halifax"), ("contacts",
// dev), ("notes", dev), ("messages", dev), ("mail", dev), ("reminders", dev), ("calendar",
// dev), ("maps", dev).
std::vector<std::shared_ptr<ToolProvider>> makeApplicationProviders(const ProviderServices& services);

}  // namespace qd
