#pragma once

// The tray tests' fixture: the settings window tests' QApplication (offscreen), a temporary
// installation and HOME, a service manager whose state the test sets and whose runs it
// records, a health monitor whose checks answer what the test says, and a scheduler the
// test steps by hand.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>

#include "app/app_test_support.h"
#include "app/health_monitor.h"
#include "app/settings/window/window_test_support.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd::test {

class RecordingServices final : public ServiceManager {
 public:
  bool usesSystemd() const override { return true; }
  bool isServiceLoaded() override { return running; }
  bool isDaemonServiceRunning() override { return running; }
  ServiceRun run(ServiceVerb verb, bool) override {
    {
      std::lock_guard lock(mutex);
      verbs.push_back(verb);
    }
    ServiceRun result;
    result.run.status = 0;
    return result;
  }
  std::optional<std::string> validateUnit(const std::filesystem::path&) override { return std::nullopt; }
  int count(ServiceVerb verb) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(verbs.begin(), verbs.end(), verb));
  }

  std::atomic<bool> running{false};
  std::mutex mutex;
  std::vector<ServiceVerb> verbs;
};

// Blocks the test runs itself, one at a time, in the order they were scheduled.
struct ManualScheduler {
  std::deque<std::pair<std::chrono::milliseconds, std::function<void()>>> pending;
  HealthMonitor::Scheduler seam() {
    return [this](std::chrono::milliseconds delay, std::function<void()> block) {
      pending.emplace_back(delay, std::move(block));
    };
  }
  bool step() {
    if (pending.empty()) return false;
    auto block = std::move(pending.front().second);
    pending.pop_front();
    block();
    return true;
  }
};

struct TrayFixture {
  AppTree tree;
  RecordingAlerts alerts;
  RecordingServices services;
  std::unique_ptr<AppContext> context;
  std::unique_ptr<AppInstaller> installer;
  std::unique_ptr<HealthMonitor> monitor;
  // What the next checks answer.
  std::atomic<bool> daemonUp{false};
  std::atomic<bool> tinderboxUp{false};
  std::atomic<std::int64_t> clients{1};

  // `fakesOnlyOnPath`: PATH holds only the fakes' folder (no system programs).
  explicit TrayFixture(platform::Environment extra = {}, bool fakesOnlyOnPath = false) {
    widgetApplication();
    platform::Environment env = tree.environment();
    for (const auto& [key, value] : extra.values()) env.set(key, value);
    if (fakesOnlyOnPath) env.set("PATH", tree.fakes.string());
    context = std::make_unique<AppContext>(AppContext{env, tree.bin, &alerts});
    installer = std::make_unique<AppInstaller>(*context, services);
  }

  HealthMonitor::Options monitorOptions() {
    HealthMonitor::Options options;
    options.fetchHealth = [this]() -> Json {
      if (!daemonUp) throw DaemonAdminAPIError::timedOut();
      const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
      return Json{{"daemonPid", ::getpid()},   {"status", "healthy"},        {"lastUpdate", now},
                  {"uptime", 1},                {"tinderboxRestarts", 0},     {"connectedClients", clients.load()},
                  {"tinderboxConnected", tinderboxUp.load()}};
    };
    options.isTinderboxRunning = [] { return false; };
    // The monitor's own follow-ups (start-up waits, re-checks) are not under test here.
    options.schedule = [](std::chrono::milliseconds, std::function<void()>) {};
    options.startPolling = false;
    return options;
  }

  HealthMonitor& makeMonitor() {
    monitor = std::make_unique<HealthMonitor>(*context, services, *installer, monitorOptions());
    return *monitor;
  }

  // Runs a check and waits until the monitor shows what it answered.
  bool check() {
    monitor->checkHealth();
    return processEventsUntil([this] {
      const auto& record = monitor->healthData();
      if (!daemonUp) return !monitor->daemonAlive() && !record;
      return monitor->daemonAlive() && monitor->tinderboxAlive() == tinderboxUp.load() && record &&
             record->connectedClients == clients.load();
    });
  }
};

}  // namespace qd::test
