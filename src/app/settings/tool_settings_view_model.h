#pragma once

// The model behind the settings window. It mirrors every field of LocalToolSettings as a
// published property, reads the daemon's settings ("app_get_settings") when created, and
// writes them back whole ("app_save_settings") when a save runs and the encoded record
// differs from the one last loaded or saved. In the release tier (TINDERBOX_FEATURE_TIER
// unset or exactly "release") the logging and broadcast switches are forced off, on screen
// and in what is sent. The tool-catalogue operations of the window live here too.
//
// Thread: create, call and read on the GUI thread only. Admin requests run on a worker
// thread, one at a time; their results are applied on the GUI thread in request order,
// so load() and save() never block the GUI thread. A save asked while a request runs
// follows it, with the values current then (and is skipped when they equal what was
// saved). flushPendingSave() is the one blocking call, for the quit path.
//
// Signals: every assignment of a published property, even of an equal value, emits that
// property's own signal and then changed(), as the window's auto-save expects (the root
// view calls scheduleAutoSave() on every changed()). Properties are assigned by the load
// (when its result is applied, in field order), the gates, reset, the catalogue setters
// and the window's own setters. A successful save sets statusMessage to "Saved." only when
// it differs, so a repeated success announces nothing.
//
// Saving never sends settings that were not read: until a load has succeeded
// (`settingsLoaded` false), save() sends nothing and instead retries the load once, and
// resetToDefaults() does nothing. The window calls reload() when it is shown and when the
// application becomes active while nothing is loaded.

#include <QObject>
#include <QThreadPool>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/health_monitor.h"
#include "app/settings/admin_call.h"
#include "app/settings/local_tool_settings.h"
#include "app/settings/tool_catalogue.h"
#include "app/settings/tool_metadata_fetcher.h"
#include "platform/environment.h"

namespace qd {

// What ToolSettingsViewModel reaches outside itself; every member has a working default.
struct ToolSettingsViewModelOptions {
  // The admin call (worker thread). Default: the process-wide configuration's daemon.
  AdminCall adminCall;
  // Runs a block on the GUI thread after a delay (the health monitor's seam). Default: a
  // single-shot QTimer.
  HealthMonitor::Scheduler schedule;
  // The application's environment: the tier, the logs folder, PATH for xdg-open.
  platform::Environment environment = platform::Environment::current();
  // Default: ToolMetadataFetcher::shared().
  ToolMetadataFetcher* metadataFetcher = nullptr;
  // The updater's automatic-download setting. Default: "SUAutomaticallyUpdate" of the
  // shared preferences suite.
  std::function<bool()> readAutoDownloadUpdates;
  std::function<void(bool)> writeAutoDownloadUpdates;
  // Shows a folder to the user; failures ignored. Default: xdg-open, not waited for.
  std::function<void(const std::filesystem::path&)> openFolder;
  // Ask the fetcher for the catalog after the settings, as the window expects.
  bool loadCatalog = true;
};

class ToolSettingsViewModel : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* featureTierVariable = "TINDERBOX_FEATURE_TIER";
  static constexpr const char* defaultsStatus = "Using default settings (core tools enabled; calendar disabled)";
  static constexpr const char* savedStatus = "Saved.";
  static constexpr const char* saveFailedPrefix = "Failed to save settings: ";
  static constexpr std::chrono::milliseconds autoSaveDelay{500};

  using Options = ToolSettingsViewModelOptions;

  explicit ToolSettingsViewModel(Options options = {}, QObject* parent = nullptr);
  // Waits for a request in flight (at most the admin client's time-out).
  ~ToolSettingsViewModel() override;

  // ---- published properties (GUI thread) ----
  const SwitchMap& helperToolEnabled() const { return helperToolEnabled_; }
  const SwitchMap& operationEnabled() const { return operationEnabled_; }
  bool requireExplicitToolEnable() const { return requireExplicitToolEnable_; }
  bool allowBroadcastNotifications() const { return allowBroadcastNotifications_; }
  std::int64_t maxNotificationItems() const { return maxNotificationItems_; }
  std::int64_t maxConcurrentJobs() const { return maxConcurrentJobs_; }
  bool enableLogging() const { return enableLogging_; }
  bool enableMessaging() const { return enableMessaging_; }
  bool enableAgentCoordination() const { return enableAgentCoordination_; }
  bool enableHookSync() const { return enableHookSync_; }
  bool enableTinderboxPassthroughTools() const { return enableTinderboxPassthroughTools_; }
  bool enableToolCallLogging() const { return enableToolCallLogging_; }
  bool logToolCallsToFile() const { return logToolCallsToFile_; }
  bool logToolCallsToTinderbox() const { return logToolCallsToTinderbox_; }
  bool enableCustomToolManifests() const { return enableCustomToolManifests_; }
  const std::string& customToolManifestDirectoriesText() const { return customToolManifestDirectoriesText_; }
  std::int64_t maxCustomTools() const { return maxCustomTools_; }
  LoggingSinkMode loggingSinkMode() const { return loggingSinkMode_; }
  bool autoDownloadUpdates() const { return autoDownloadUpdates_; }
  const std::string& statusMessage() const { return statusMessage_; }
  // False until a load has succeeded; saves are held back meanwhile.
  bool settingsLoaded() const { return settingsLoaded_; }

  void setHelperToolEnabled(SwitchMap value);
  void setOperationEnabled(SwitchMap value);
  void setRequireExplicitToolEnable(bool value);
  void setAllowBroadcastNotifications(bool value);
  void setMaxNotificationItems(std::int64_t value);
  void setMaxConcurrentJobs(std::int64_t value);
  void setEnableLogging(bool value);
  void setEnableMessaging(bool value);
  void setEnableAgentCoordination(bool value);
  void setEnableHookSync(bool value);
  void setEnableTinderboxPassthroughTools(bool value);
  void setEnableToolCallLogging(bool value);
  void setLogToolCallsToFile(bool value);
  void setLogToolCallsToTinderbox(bool value);
  void setEnableCustomToolManifests(bool value);
  void setCustomToolManifestDirectoriesText(std::string value);
  void setMaxCustomTools(std::int64_t value);
  void setLoggingSinkMode(LoggingSinkMode value);
  void setAutoDownloadUpdates(bool value);

  // ---- not published ----
  // TINDERBOX_FEATURE_TIER of the application's environment, "release" when unset.
  const std::string& featureTier() const { return featureTier_; }
  bool isReleaseTier() const { return featureTier_ == "release"; }
  // The encoded record last loaded or saved.
  const std::optional<std::string>& lastSavedPayloadData() const { return lastSavedPayloadData_; }
  ToolMetadataFetcher& metadataFetcher() const { return *metadataFetcher_; }
  // An admin request (load or save) is running on the worker.
  bool requestInFlight() const { return requestInFlight_; }

  // ---- operations (GUI thread) ----
  // Sends the current settings when they differ from the last loaded or saved (queued
  // behind a request in flight). Before a load has succeeded: retries the load instead.
  void save();
  // Debounces save() by 0.5 s on the scheduler: a burst of calls gives one save.
  void scheduleAutoSave();
  // Everything to defaults, the release gates, then save() at once. Refused (nothing
  // changes) until a load has succeeded.
  void resetToDefaults();
  // Shows the logs folder when it exists (it is not created); failures are ignored.
  void openLogsDirectory();
  // Loads the daemon's settings again while none are loaded (nothing once loaded, or while
  // a load is already asked).
  void reload();
  // For the quit path, before the service is stopped: cancels the debounce, waits for the
  // request in flight, and sends the pending save on the calling thread. Blocks for at
  // most about twice the admin client's time-out.
  void flushPendingSave();

  // ---- tool catalogue (GUI thread; reads the state of the moment) ----
  std::vector<std::string> toolNames() const;
  std::vector<ToolCatalogue::Group> groupedTools() const;
  bool isEnabled(const std::string& tool) const;
  std::vector<std::string> operations(const std::string& tool) const;
  bool isOperationEnabled(const std::string& operation, const std::string& tool) const;
  void setOperationEnabled(bool value, const std::string& operation, const std::string& tool);
  void enableAllOperations(const std::string& tool);
  void disableAllOperations(const std::string& tool);
  void setToolEnabledConsideringOperations(bool value, const std::string& tool);
  bool isToolAvailable(const std::string& tool) const;
  std::optional<std::string> unavailableReason(const std::string& tool) const;
  std::optional<std::string> groupHint(const std::string& category) const;

 signals:
  void helperToolEnabledChanged();
  void operationEnabledChanged();
  void requireExplicitToolEnableChanged();
  void allowBroadcastNotificationsChanged();
  void maxNotificationItemsChanged();
  void maxConcurrentJobsChanged();
  void enableLoggingChanged();
  void enableMessagingChanged();
  void enableAgentCoordinationChanged();
  void enableHookSyncChanged();
  void enableTinderboxPassthroughToolsChanged();
  void enableToolCallLoggingChanged();
  void logToolCallsToFileChanged();
  void logToolCallsToTinderboxChanged();
  void enableCustomToolManifestsChanged();
  void customToolManifestDirectoriesTextChanged();
  void maxCustomToolsChanged();
  void loggingSinkModeChanged();
  void autoDownloadUpdatesChanged();
  void statusMessageChanged();
  void settingsLoadedChanged();
  // After every one of the signals above.
  void changed();

 private:
  enum class RequestKind { load, save };
  struct Request {
    RequestKind kind;
    std::optional<std::string> payload;  // save: the encoded record sent
  };
  struct Outcome {
    RequestKind kind;
    std::optional<std::string> payload;
    std::optional<Json> reply;  // none after a failure
    std::string error;          // the failure's description
  };

  template <typename T>
  void publish(T& field, T value, void (ToolSettingsViewModel::*signal)()) {
    field = std::move(value);
    emit(this->*signal)();
    emit changed();
  }

  void load();
  void applyLoaded(const LocalToolSettings& settings);
  void applyDefaults();
  void applyReleaseTierGates();
  std::string encodedCurrentPayload() const;
  std::vector<std::string> customToolManifestDirectories() const;
  void setStatusMessage(std::string value);
  void setSettingsLoaded(bool value);
  bool readUpdaterSetting() const;

  void submit(Request request);
  void startNext();
  Outcome perform(const Request& request) const;  // worker thread
  void drainOutcomes();
  void applyOutcome(Outcome outcome);
  void applyLoadOutcome(const Outcome& outcome);
  void applySaveOutcome(const Outcome& outcome);

  Options options_;
  ToolMetadataFetcher* metadataFetcher_;
  std::string featureTier_;

  SwitchMap helperToolEnabled_;
  SwitchMap operationEnabled_;
  bool requireExplicitToolEnable_ = false;
  bool allowBroadcastNotifications_ = true;
  std::int64_t maxNotificationItems_ = 1000;
  std::int64_t maxConcurrentJobs_ = 2;
  bool enableLogging_ = true;
  bool enableMessaging_ = true;
  bool enableAgentCoordination_ = true;
  bool enableHookSync_ = true;
  bool enableTinderboxPassthroughTools_ = true;
  bool enableToolCallLogging_ = true;
  bool logToolCallsToFile_ = true;
  bool logToolCallsToTinderbox_ = false;
  bool enableCustomToolManifests_ = false;
  std::string customToolManifestDirectoriesText_;
  std::int64_t maxCustomTools_ = 25;
  LoggingSinkMode loggingSinkMode_ = LoggingSinkMode::file;
  bool autoDownloadUpdates_ = false;
  std::string statusMessage_;
  bool settingsLoaded_ = false;

  std::optional<std::string> lastSavedPayloadData_;
  bool loadedOnce_ = false;       // a load has completed, successfully or not
  std::uint64_t debounceGeneration_ = 0;

  // Requests: at most one runs; a load and a save may wait behind it.
  bool requestInFlight_ = false;
  bool loadQueued_ = false;
  bool saveQueued_ = false;
  bool flushing_ = false;
  std::mutex outcomesMutex_;
  std::deque<Outcome> outcomes_;  // finished on the worker, not yet applied
  QThreadPool pool_;
};

}  // namespace qd
