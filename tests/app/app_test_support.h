#pragma once

// Shared pieces of the application's tests: one QCoreApplication for the whole program,
// an installation tree of the test's own, and recording fakes of the service manager's
// programs put first on PATH.

#include <sys/stat.h>

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_context.h"
#include "support/temp_dir.h"

namespace qd::test {

inline QCoreApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "app_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}

// Keeps every alert shown.
class RecordingAlerts final : public AlertPresenter {
 public:
  void present(const Alert& alert) override { alerts.push_back(alert); }
  std::vector<Alert> alerts;
};

// Runs the event loop until the condition holds (true) or a generous limit passes.
inline bool processEventsUntil(const std::function<bool()>& condition,
                               std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeText(const std::filesystem::path& path, const std::string& text, bool executable = false) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  if (executable) ::chmod(path.c_str(), 0755);
}

// A temporary HOME with its XDG folders, an installation tree (<root>/inst/bin with a
// stand-in daemon executable and the unit template in share/quarvel-dorarov), and a PATH
// folder for fakes.
struct AppTree {
  TempDir temp{"app"};
  std::filesystem::path home = temp / "home";
  std::filesystem::path bin = temp / "inst" / "bin";
  std::filesystem::path fakes = temp / "fakes";

  AppTree() {
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(fakes);
    writeText(bin / "QuarvelDorarovDaemon", "#!/bin/sh\nexit 0\n", true);
    std::filesystem::create_directories(bin.parent_path() / "share" / "quarvel-dorarov");
    std::filesystem::copy_file(QD_UNIT_TEMPLATE,
                               bin.parent_path() / "share" / "quarvel-dorarov" / "vir.izerorudidodad.udodaz.service");
  }

  platform::Environment environment() const {
    return platform::Environment{{"HOME", home.string()},
                                 {"XDG_DATA_HOME", (home / "data").string()},
                                 {"XDG_STATE_HOME", (home / "state").string()},
                                 {"XDG_CONFIG_HOME", (home / "config").string()},
                                 {"PATH", fakes.string() + ":/usr/bin:/bin"}};
  }
  AppContext context(AlertPresenter* alerts) const { return AppContext{environment(), bin, alerts}; }
};

// A recording fake of a program: appends its arguments as one line to <fakes>/<name>.log,
// prints <fakes>/<name>.<first non-option argument>.out when present and exits with the
// status in <fakes>/<name>.<that argument>.status (0 when absent). With a file
// <fakes>/<name>.<argument>.hang it sleeps instead.
inline void installRecordingFake(const std::filesystem::path& fakes, const std::string& name) {
  const std::string base = (fakes / name).string();
  writeText(fakes / name,
            "#!/bin/sh\n"
            "echo \"$*\" >> '" + base + ".log'\n"
            "verb=''\n"
            "for a in \"$@\"; do case \"$a\" in -*) ;; *) verb=\"$a\"; break;; esac; done\n"
            "[ -f '" + base + ".'\"$verb\"'.hang' ] && exec sleep 600\n"
            "[ -f '" + base + ".'\"$verb\"'.out' ] && cat '" + base + ".'\"$verb\"'.out'\n"
            "[ -f '" + base + ".'\"$verb\"'.status' ] && exit \"$(cat '" + base + ".'\"$verb\"'.status')\"\n"
            "exit 0\n",
            true);
}

// The recorded argument lines of a fake.
inline std::vector<std::string> recordedRuns(const std::filesystem::path& fakes, const std::string& name) {
  std::vector<std::string> lines;
  std::istringstream in(readText(fakes / (name + ".log")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace qd::test
