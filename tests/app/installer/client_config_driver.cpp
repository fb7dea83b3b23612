// client-config-driver: the client configuration installer from the command line, for
// acceptance checks on real files.
//   client-config-driver [--app-folder DIR] install|remove|detect <client key>
//   client-config-driver [--app-folder DIR] evict
// HOME and the XDG variables come from the environment; DIR is the folder that holds
// QuarvelDorarovDaemon (default: this program's own folder). Every alert is printed.
// Exit status 1 when the operation failed, 2 for a usage error.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/installer/mcp_installer.h"

namespace {

class PrintingPresenter : public qd::AlertPresenter {
 public:
  void present(const qd::Alert& alert) override {
    std::cout << (alert.style == qd::Alert::Style::warning ? "[warning] " : "[info] ") << alert.title << "\n"
              << alert.informativeText << "\n\n";
  }
};

int usage() {
  std::cerr << "usage: client-config-driver [--app-folder DIR] install|remove|detect <client key>\n"
               "       client-config-driver [--app-folder DIR] evict\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  qd::MCPInstallerOptions options;
  if (args.size() >= 2 && args[0] == "--app-folder") {
    options.appFolder = std::filesystem::path(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  PrintingPresenter presenter;
  qd::MCPInstaller installer(presenter, options);
  if (args.size() == 1 && args[0] == "evict") {
    installer.evictNativeTinderboxEntriesIfNeeded();
    return 0;
  }
  if (args.size() != 2) return usage();
  const auto locations = installer.locations().defaultLocations(args[1]);
  if (locations.empty()) {
    std::cerr << "unknown client key: " << args[1] << "\n";
    return 2;
  }
  const auto& where = locations.front();
  if (args[0] == "install") return installer.install(where.path, where.clientKey, where.scope, false) ? 0 : 1;
  if (args[0] == "remove") return installer.uninstall(where.path, where.clientKey) ? 0 : 1;
  if (args[0] == "detect") {
    std::cout << (installer.isInstalledInConfigPath(where.path) ? "installed" : "not installed") << "\n";
    return 0;
  }
  return usage();
}
