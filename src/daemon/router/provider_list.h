#pragma once

#include <memory>
#include <vector>

#include <asio/any_io_executor.hpp>

#include "daemon/config/configuration.h"
#include "daemon/core/tool_provider.h"

namespace qd {

// The daemon's in-process providers in their fixed order: aTbRef first, then OmniFocus,
// DEVONthink, Bookends, Calendar, Reminders, Contacts, Mail, Messages, Notes, Maps, time.
// The note-app provider is not among them: the daemon appends it at start when the note
// app is enabled, so an in-process provider that accepts the same name answers first.
std::vector<std::shared_ptr<ToolProvider>> inProcessProviders(const asio::any_io_executor& executor,
                                                              const Configuration& configuration);

}  // namespace qd
