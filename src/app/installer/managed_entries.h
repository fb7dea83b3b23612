#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/error.h"

namespace qd {

// The daemon executable our entries start; an entry whose command names it is ours.
inline constexpr std::string_view kDaemonExecutableName = "QuarvelDorarovDaemon";

// The five entries the installer writes, in this order; each name is also the daemon
// profile the entry starts.
const std::vector<std::string>& managedEndpointNames();
// Entry names of earlier versions: install deletes them, removal and detection count them.
const std::vector<std::string>& legacyEndpointNames();
// The managed names followed by the legacy ones.
const std::vector<std::string>& codexServerNames();

bool isManagedOrLegacyName(std::string_view name);
// A command that names our daemon executable, wherever it is installed.
bool isOurCommand(std::string_view command, std::string_view expectedCommand);

// Why the content of a client file cannot be edited safely; the description is the cause,
// for the user ("contains comments a rewrite would lose").
class ClientConfigContentError : public Error {
 public:
  using Error::Error;
};

}  // namespace qd
