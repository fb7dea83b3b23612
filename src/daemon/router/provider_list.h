#pragma once

#include <memory>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/tool_provider.h"
#include "daemon/runtime/blocking_pool.h"

namespace qd {

// The daemon's in-process providers in their fixed order: aTbRef first, then the
// application providers in their own order (Bookends, OmniFocus, DEVONthink, time,
// Contacts, Notes, Messages, Mail, Reminders, Calendar, Maps; see application_providers.h).
// The note-app provider is not among them: the daemon appends it at start when the note
// app is enabled, so an in-process provider that accepts the same name answers first.
// `pool` runs the providers' blocking work and must outlive them.
std::vector<std::shared_ptr<ToolProvider>> inProcessProviders(const asio::any_io_executor& executor,
                                                              const Configuration& configuration, BlockingPool& pool);

}  // namespace qd
