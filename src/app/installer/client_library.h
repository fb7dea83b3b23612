#pragma once

#include <string>
#include <vector>

namespace qd {

// One AI client whose configuration file the installer can edit. `subtitle` names the file
// for people ("~" for the home folder); the real path comes from ClientConfigLocations.
struct ClientLibraryEntry {
  std::string id;
  std::string title;
  std::string subtitle;
  bool supportsManagedInstall = true;

  bool operator==(const ClientLibraryEntry&) const = default;
};

struct ClientLibrary {
  // The clients in the order the Clients tab lists them.
  static const std::vector<ClientLibraryEntry>& stableClients();
};

}  // namespace qd
