#pragma once

// A temporary home with XDG folders below it, an application folder holding an executable
// QuarvelDorarovDaemon, an alert recorder, and small file helpers.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/installer/alert_presenter.h"
#include "app/installer/mcp_installer.h"
#include "support/temp_dir.h"

namespace qd::test {

class RecordingPresenter : public AlertPresenter {
 public:
  void present(const Alert& alert) override { alerts.push_back(alert); }
  std::vector<Alert> alerts;
};

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeText(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// What a refusal must leave as it was.
struct FileState {
  bool exists = false;
  std::string bytes;
  mode_t mode = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  off_t size = 0;
  long long modifiedNs = 0;
  bool isLink = false;

  static FileState of(const std::filesystem::path& path) {
    FileState state;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return state;
    state.exists = true;
    state.isLink = S_ISLNK(info.st_mode);
    if (::stat(path.c_str(), &info) == 0) {
      state.mode = info.st_mode;
      state.inode = info.st_ino;
      state.links = info.st_nlink;
      state.size = info.st_size;
      state.modifiedNs = info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec;
      // Large files are compared by size and time only, to keep the tests quick.
      if (S_ISREG(info.st_mode) && info.st_size <= (1 << 20)) state.bytes = readText(path);
    }
    return state;
  }
  bool operator==(const FileState&) const = default;
};

class InstallerHome {
 public:
  InstallerHome() {
    std::filesystem::create_directories(appFolder);
    writeText(daemon(), "#!/bin/sh\n");
    std::filesystem::permissions(daemon(), std::filesystem::perms(0755));
  }

  MCPInstallerOptions options() const {
    MCPInstallerOptions o;
    o.environment = env;
    o.appFolder = appFolder;
    o.appVersion = "2.0.0";
    return o;
  }
  std::filesystem::path daemon() const { return appFolder / "QuarvelDorarovDaemon"; }
  std::string command() const { return daemon().string(); }
  ClientConfigLocations locations() const { return ClientConfigLocations(env); }

  TempDir temp{"installer"};
  std::filesystem::path home = temp.path() / "home";
  std::filesystem::path appFolder = temp.path() / "prefix" / "bin";
  platform::Environment env{{"HOME", home.string()},
                            {"XDG_CONFIG_HOME", (home / ".config").string()},
                            {"XDG_DATA_HOME", (home / ".local" / "share").string()}};
};

}  // namespace qd::test
