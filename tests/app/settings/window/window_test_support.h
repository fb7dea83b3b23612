#pragma once

// The settings window tests' fixture: one QApplication on the offscreen platform, a
// settings model over a scripted admin call with a stepped debounce, a temporary HOME, and
// a window root over both.

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/settings/settings_test_support.h"
#include "app/settings/tool_metadata_fetcher.h"
#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/settings_window_root.h"
#include "support/temp_dir.h"

namespace qd::test {

// The one QApplication, made on first use and destroyed when the test program's tests
// have ended, before the exit handlers (Qt Gui's clean-up crashes among them).
class WidgetApplication : public ::testing::Environment {
 public:
  static QApplication& get() {
    static int argc = 1;
    static char name[] = "settings_window_tests";
    static char* argv[] = {name, nullptr};
    if (instance_ == nullptr) {
      ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
      instance_ = new QApplication(argc, argv);
    }
    return *instance_;
  }
  void TearDown() override {
    delete instance_;
    instance_ = nullptr;
  }

 private:
  static inline QApplication* instance_ = nullptr;
};
inline ::testing::Environment* const widgetApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new WidgetApplication);

inline QApplication& widgetApplication() { return WidgetApplication::get(); }

// The first child of this kind showing this text.
template <typename T>
T* findByText(QWidget& parent, const QString& text) {
  for (auto* widget : parent.findChildren<T*>()) {
    if (widget->text() == text) return widget;
  }
  return nullptr;
}

// The record the daemon answers loads with.
inline Json loadedSettings() {
  return Json{{"enableToolCallLogging", true}, {"logToolCallsToFile", true}, {"maxCustomTools", 25}};
}

class WindowFixture {
 public:
  TempDir temp{"settings-window"};
  std::filesystem::path home = temp / "home";
  ScriptedAdmin admin;
  SteppedScheduler scheduler;
  ToolMetadataFetcher fetcher{admin.call()};
  RecordingAlerts alerts;
  int updateChecks = 0;
  std::function<void()> preStop;
  std::unique_ptr<ToolSettingsViewModel> model;
  std::unique_ptr<SettingsWindowRoot> root;

  WindowFixture() {
    widgetApplication();
    std::filesystem::create_directories(home);
    serve(loadedSettings());
  }
  ~WindowFixture() {
    root.reset();
    model.reset();
  }

  platform::Environment environment(const std::optional<std::string>& tier) const {
    platform::Environment env{{"HOME", home.string()}, {"PATH", (temp / "fakes").string() + ":/usr/bin:/bin"}};
    if (tier) env.set(ToolSettingsViewModel::featureTierVariable, *tier);
    return env;
  }

  void serve(Json settings) {
    admin.answer = [settings](const std::string& method, const std::optional<Json>&) -> Json {
      if (method == "app_get_settings") return settings;
      return Json{{"saved", true}};
    };
  }
  void serveNothing() {
    admin.answer = [](const std::string&, const std::optional<Json>&) -> Json {
      throw DaemonAdminAPIError::connectionRejected("connect: Connection refused",
                                                    DaemonAdminAPIError::Cause::connectFailed);
    };
  }

  // Builds the model and the root and waits for the model's first load to finish.
  SettingsWindowRoot& make(const std::optional<std::string>& tier = "dev", bool realFolderOpener = false) {
    ToolSettingsViewModel::Options options;
    options.adminCall = admin.call();
    options.schedule = scheduler.schedule();
    options.environment = environment(tier);
    options.metadataFetcher = &fetcher;
    options.readAutoDownloadUpdates = [] { return false; };
    options.writeAutoDownloadUpdates = [](bool) {};
    if (!realFolderOpener) options.openFolder = [](const std::filesystem::path&) {};
    options.loadCatalog = false;
    model = std::make_unique<ToolSettingsViewModel>(std::move(options));
    settle();

    SettingsWindowRoot::Options rootOptions;
    rootOptions.checkForUpdates = [this] { ++updateChecks; };
    rootOptions.registerPreStop = [this](std::function<void()> hook) { preStop = std::move(hook); };
    rootOptions.alerts = &alerts;
    rootOptions.installer.environment = environment(tier);
    rootOptions.installer.appFolder = temp / "inst" / "bin";
    rootOptions.environment = environment(tier);
    root = std::make_unique<SettingsWindowRoot>(*model, std::move(rootOptions));
    return *root;
  }

  // Waits until no admin request is running or queued.
  void settle() {
    processEventsUntil([this] { return !model->requestInFlight(); });
    QCoreApplication::processEvents();
  }
};

}  // namespace qd::test
