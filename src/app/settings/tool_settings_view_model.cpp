#include "app/settings/tool_settings_view_model.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include "app/settings/settings_seams.h"
#include "daemon/admin/daemon_admin_api.h"
#include "daemon/utilities/tool_availability.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

// A payload that does not read back as an object; the encoder never makes one.
class SettingsPayloadError : public Error {
 public:
  SettingsPayloadError() : Error("The operation couldn't be completed. (ToolSettingsViewModel error 1.)") {}
  static constexpr const char* domain = "ToolSettingsViewModel";
  static constexpr int code = 1;
};

}  // namespace

ToolSettingsViewModel::ToolSettingsViewModel(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
  if (!options_.adminCall) options_.adminCall = defaultAdminCall();
  if (!options_.schedule) {
    options_.schedule = [this](std::chrono::milliseconds delay, std::function<void()> block) {
      QTimer::singleShot(delay, this, std::move(block));
    };
  }
  if (!options_.readAutoDownloadUpdates || !options_.writeAutoDownloadUpdates) {
    AutoDownloadSetting setting = autoDownloadSettingOf(options_.environment);
    if (!options_.readAutoDownloadUpdates) options_.readAutoDownloadUpdates = std::move(setting.read);
    if (!options_.writeAutoDownloadUpdates) options_.writeAutoDownloadUpdates = std::move(setting.write);
  }
  if (!options_.openFolder) options_.openFolder = folderOpenerOf(options_.environment);
  metadataFetcher_ = options_.metadataFetcher ? options_.metadataFetcher : &ToolMetadataFetcher::shared();
  featureTier_ = options_.environment.get(featureTierVariable).value_or("release");
  pool_.setMaxThreadCount(1);

  load();
  if (options_.loadCatalog) metadataFetcher_->loadToolMetadata();
}

ToolSettingsViewModel::~ToolSettingsViewModel() { pool_.waitForDone(); }

// ---- setters ----

void ToolSettingsViewModel::setHelperToolEnabled(SwitchMap value) {
  publish(helperToolEnabled_, std::move(value), &ToolSettingsViewModel::helperToolEnabledChanged);
}
void ToolSettingsViewModel::setOperationEnabled(SwitchMap value) {
  publish(operationEnabled_, std::move(value), &ToolSettingsViewModel::operationEnabledChanged);
}
void ToolSettingsViewModel::setRequireExplicitToolEnable(bool value) {
  publish(requireExplicitToolEnable_, value, &ToolSettingsViewModel::requireExplicitToolEnableChanged);
}
void ToolSettingsViewModel::setAllowBroadcastNotifications(bool value) {
  publish(allowBroadcastNotifications_, value, &ToolSettingsViewModel::allowBroadcastNotificationsChanged);
}
void ToolSettingsViewModel::setMaxNotificationItems(std::int64_t value) {
  publish(maxNotificationItems_, value, &ToolSettingsViewModel::maxNotificationItemsChanged);
}
void ToolSettingsViewModel::setMaxConcurrentJobs(std::int64_t value) {
  publish(maxConcurrentJobs_, value, &ToolSettingsViewModel::maxConcurrentJobsChanged);
}
void ToolSettingsViewModel::setEnableLogging(bool value) {
  publish(enableLogging_, value, &ToolSettingsViewModel::enableLoggingChanged);
}
void ToolSettingsViewModel::setEnableMessaging(bool value) {
  publish(enableMessaging_, value, &ToolSettingsViewModel::enableMessagingChanged);
}
void ToolSettingsViewModel::setEnableAgentCoordination(bool value) {
  publish(enableAgentCoordination_, value, &ToolSettingsViewModel::enableAgentCoordinationChanged);
}
void ToolSettingsViewModel::setEnableHookSync(bool value) {
  publish(enableHookSync_, value, &ToolSettingsViewModel::enableHookSyncChanged);
}
void ToolSettingsViewModel::setEnableTinderboxPassthroughTools(bool value) {
  publish(enableTinderboxPassthroughTools_, value, &ToolSettingsViewModel::enableTinderboxPassthroughToolsChanged);
}
void ToolSettingsViewModel::setEnableToolCallLogging(bool value) {
  publish(enableToolCallLogging_, value, &ToolSettingsViewModel::enableToolCallLoggingChanged);
}
void ToolSettingsViewModel::setLogToolCallsToFile(bool value) {
  publish(logToolCallsToFile_, value, &ToolSettingsViewModel::logToolCallsToFileChanged);
}
void ToolSettingsViewModel::setLogToolCallsToTinderbox(bool value) {
  publish(logToolCallsToTinderbox_, value, &ToolSettingsViewModel::logToolCallsToTinderboxChanged);
}
void ToolSettingsViewModel::setEnableCustomToolManifests(bool value) {
  publish(enableCustomToolManifests_, value, &ToolSettingsViewModel::enableCustomToolManifestsChanged);
}
void ToolSettingsViewModel::setCustomToolManifestDirectoriesText(std::string value) {
  publish(customToolManifestDirectoriesText_, std::move(value),
          &ToolSettingsViewModel::customToolManifestDirectoriesTextChanged);
}
void ToolSettingsViewModel::setMaxCustomTools(std::int64_t value) {
  publish(maxCustomTools_, value, &ToolSettingsViewModel::maxCustomToolsChanged);
}
void ToolSettingsViewModel::setLoggingSinkMode(LoggingSinkMode value) {
  publish(loggingSinkMode_, value, &ToolSettingsViewModel::loggingSinkModeChanged);
}
void ToolSettingsViewModel::setAutoDownloadUpdates(bool value) {
  publish(autoDownloadUpdates_, value, &ToolSettingsViewModel::autoDownloadUpdatesChanged);
}
void ToolSettingsViewModel::setStatusMessage(std::string value) {
  publish(statusMessage_, std::move(value), &ToolSettingsViewModel::statusMessageChanged);
}
void ToolSettingsViewModel::setSettingsLoaded(bool value) {
  publish(settingsLoaded_, value, &ToolSettingsViewModel::settingsLoadedChanged);
}

// ---- values ----

bool ToolSettingsViewModel::readUpdaterSetting() const { return options_.readAutoDownloadUpdates(); }

void ToolSettingsViewModel::applyLoaded(const LocalToolSettings& s) {
  setHelperToolEnabled(s.helperToolEnabled);
  setOperationEnabled(s.operationEnabled);
  setRequireExplicitToolEnable(s.requireExplicitToolEnable);
  setAllowBroadcastNotifications(s.allowBroadcastNotifications);
  setMaxNotificationItems(s.maxNotificationItems);
  setMaxConcurrentJobs(s.maxConcurrentJobs);
  setEnableLogging(s.enableLogging);
  setEnableMessaging(s.enableMessaging);
  setEnableAgentCoordination(s.enableAgentCoordination);
  setEnableHookSync(s.enableHookSync);
  setEnableTinderboxPassthroughTools(s.enableTinderboxPassthroughTools);
  setEnableToolCallLogging(s.enableToolCallLogging);
  setLogToolCallsToFile(s.logToolCallsToFile);
  setLogToolCallsToTinderbox(s.logToolCallsToTinderbox);
  setEnableCustomToolManifests(s.enableCustomToolManifests);
  setCustomToolManifestDirectoriesText(manifestDirectoriesText(s.customToolManifestDirectories));
  setMaxCustomTools(s.maxCustomTools);
  setAutoDownloadUpdates(s.autoDownloadUpdates);
  options_.writeAutoDownloadUpdates(s.autoDownloadUpdates);
  setLoggingSinkMode(loggingSinkModeFromFlags(s.logToolCallsToFile, s.logToolCallsToTinderbox));
}

// The defaults of a failed load and of a reset (which also clears the operation switches).
void ToolSettingsViewModel::applyDefaults() {
  setHelperToolEnabled({{"calendar", false}});
  setRequireExplicitToolEnable(false);
  setAllowBroadcastNotifications(true);
  setMaxNotificationItems(1000);
  setMaxConcurrentJobs(2);
  setEnableLogging(true);
  setEnableMessaging(true);
  setEnableAgentCoordination(true);
  setEnableHookSync(true);
  setEnableTinderboxPassthroughTools(true);
  setEnableToolCallLogging(true);
  setLogToolCallsToFile(true);
  setLogToolCallsToTinderbox(false);
  setEnableCustomToolManifests(false);
  setCustomToolManifestDirectoriesText({});
  setMaxCustomTools(25);
  setLoggingSinkMode(LoggingSinkMode::file);
  setAutoDownloadUpdates(readUpdaterSetting());
}

void ToolSettingsViewModel::applyReleaseTierGates() {
  if (!isReleaseTier()) return;
  setEnableLogging(false);
  setEnableToolCallLogging(false);
  setLoggingSinkMode(LoggingSinkMode::off);
  setLogToolCallsToFile(false);
  setLogToolCallsToTinderbox(false);
  setAllowBroadcastNotifications(false);
  setMaxNotificationItems(1000);
  setEnableTinderboxPassthroughTools(true);
}

std::vector<std::string> ToolSettingsViewModel::customToolManifestDirectories() const {
  return manifestDirectoriesFromText(customToolManifestDirectoriesText_);
}

std::string ToolSettingsViewModel::encodedCurrentPayload() const {
  LocalToolSettings s;
  s.helperToolEnabled = helperToolEnabled_;
  s.operationEnabled = operationEnabled_;
  s.requireExplicitToolEnable = requireExplicitToolEnable_;
  s.allowBroadcastNotifications = allowBroadcastNotifications_;
  s.maxNotificationItems = std::max<std::int64_t>(maxNotificationItems_, 1);
  s.maxConcurrentJobs = std::max<std::int64_t>(maxConcurrentJobs_, 1);
  s.enableLogging = enableLogging_;
  s.enableMessaging = enableMessaging_;
  s.enableAgentCoordination = enableAgentCoordination_;
  s.enableHookSync = enableHookSync_;
  s.enableTinderboxPassthroughTools = enableTinderboxPassthroughTools_;
  s.enableToolCallLogging = enableToolCallLogging_;
  // The sink mode is the source of the two flags; the published flags are not read.
  s.logToolCallsToFile = logsToFile(loggingSinkMode_);
  s.logToolCallsToTinderbox = logsToTinderbox(loggingSinkMode_);
  s.enableCustomToolManifests = enableCustomToolManifests_;
  s.customToolManifestDirectories = customToolManifestDirectories();
  s.maxCustomTools = std::max<std::int64_t>(maxCustomTools_, 1);
  s.autoDownloadUpdates = autoDownloadUpdates_;
  if (isReleaseTier()) {
    s.maxNotificationItems = 1000;
    s.enableTinderboxPassthroughTools = true;
    s.enableLogging = false;
    s.allowBroadcastNotifications = false;
    s.enableToolCallLogging = false;
    s.logToolCallsToFile = false;
    s.logToolCallsToTinderbox = false;
  }
  return dumpJson(s.toJson());
}

// ---- operations ----

void ToolSettingsViewModel::load() { submit(Request{RequestKind::load, std::nullopt}); }

void ToolSettingsViewModel::reload() {
  if (settingsLoaded_ || loadQueued_) return;
  if (requestInFlight_) {
    loadQueued_ = true;
    return;
  }
  load();
}

void ToolSettingsViewModel::save() {
  if (!settingsLoaded_) {
    // Nothing is sent before the daemon's settings have been read: a save of the
    // defaults would replace every stored setting. Ask again instead, once.
    if (!requestInFlight_ && !loadQueued_) load();
    return;
  }
  if (requestInFlight_) {
    saveQueued_ = true;  // runs after the request, with the values current then
    return;
  }
  std::string payload = encodedCurrentPayload();
  if (lastSavedPayloadData_ == payload) return;
  submit(Request{RequestKind::save, std::move(payload)});
}

void ToolSettingsViewModel::scheduleAutoSave() {
  const std::uint64_t generation = ++debounceGeneration_;
  QPointer<ToolSettingsViewModel> self(this);
  options_.schedule(autoSaveDelay, [self, generation] {
    if (self && self->debounceGeneration_ == generation) self->save();
  });
}

void ToolSettingsViewModel::resetToDefaults() {
  if (!settingsLoaded_) return;
  applyDefaults();
  setOperationEnabled({});
  applyReleaseTierGates();
  save();
}

void ToolSettingsViewModel::openLogsDirectory() {
  const std::filesystem::path folder = platform::logsDirectory(options_.environment);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return;
  options_.openFolder(folder);
}

void ToolSettingsViewModel::flushPendingSave() {
  ++debounceGeneration_;  // the debounced save, if any, is this one
  pool_.waitForDone(static_cast<int>(DaemonAdminAPI::replyTimeout.count()) + 1000);
  flushing_ = true;
  drainOutcomes();
  flushing_ = false;
  loadQueued_ = false;
  saveQueued_ = false;
  if (requestInFlight_ || !settingsLoaded_) return;
  std::string payload = encodedCurrentPayload();
  if (lastSavedPayloadData_ == payload) return;
  requestInFlight_ = true;
  Outcome outcome = perform(Request{RequestKind::save, std::move(payload)});
  requestInFlight_ = false;
  applySaveOutcome(outcome);
}

// ---- requests ----

void ToolSettingsViewModel::submit(Request request) {
  if (requestInFlight_) {
    (request.kind == RequestKind::load ? loadQueued_ : saveQueued_) = true;
    return;
  }
  requestInFlight_ = true;
  pool_.start([this, request = std::move(request)] {
    Outcome outcome = perform(request);
    {
      std::lock_guard lock(outcomesMutex_);
      outcomes_.push_back(std::move(outcome));
    }
    // Dropped by Qt when the model is gone; the destructor waits for this task first.
    QMetaObject::invokeMethod(this, [this] { drainOutcomes(); }, Qt::QueuedConnection);
  });
}

ToolSettingsViewModel::Outcome ToolSettingsViewModel::perform(const Request& request) const {
  Outcome outcome{request.kind, request.payload, std::nullopt, {}};
  try {
    if (request.kind == RequestKind::load) {
      outcome.reply = options_.adminCall("app_get_settings", std::nullopt);
      return outcome;
    }
    Json settings = parseJson(*request.payload);
    if (!settings.is_object()) throw SettingsPayloadError();
    outcome.reply = options_.adminCall("app_save_settings", Json{{"settings", std::move(settings)}});
  } catch (const std::exception& error) {
    outcome.reply.reset();
    outcome.error = error.what();
  }
  return outcome;
}

void ToolSettingsViewModel::drainOutcomes() {
  for (;;) {
    std::optional<Outcome> next;
    {
      std::lock_guard lock(outcomesMutex_);
      if (outcomes_.empty()) return;
      next = std::move(outcomes_.front());
      outcomes_.pop_front();
    }
    requestInFlight_ = false;
    if (next->kind == RequestKind::load) {
      applyLoadOutcome(*next);
    } else {
      applySaveOutcome(*next);
    }
    if (!flushing_) startNext();
  }
}

void ToolSettingsViewModel::startNext() {
  if (requestInFlight_) return;
  if (loadQueued_) {
    loadQueued_ = false;
    load();
    return;
  }
  if (saveQueued_) {
    saveQueued_ = false;
    save();
  }
}

void ToolSettingsViewModel::applyLoadOutcome(const Outcome& outcome) {
  std::optional<LocalToolSettings> settings;
  if (outcome.reply) {
    try {
      settings = LocalToolSettings::fromJson(*outcome.reply);
    } catch (const std::exception&) {
      // A record of the wrong shape counts as a failed load.
    }
  }
  const bool firstLoad = !loadedOnce_;
  loadedOnce_ = true;
  if (!settings && !firstLoad) return;  // a repeated failure: the defaults and their status stay
  if (settings) {
    applyLoaded(*settings);
  } else {
    applyDefaults();
  }
  applyReleaseTierGates();
  lastSavedPayloadData_ = encodedCurrentPayload();
  setStatusMessage(settings ? std::string() : std::string(defaultsStatus));
  if (settings) setSettingsLoaded(true);
}

void ToolSettingsViewModel::applySaveOutcome(const Outcome& outcome) {
  if (!outcome.reply) {
    setStatusMessage(saveFailedPrefix + outcome.error);
    return;
  }
  // The updater gets what the daemon got, which may differ from the value on screen now.
  if (auto sent = parseJson(*outcome.payload); sent.contains("autoDownloadUpdates")) {
    options_.writeAutoDownloadUpdates(sent["autoDownloadUpdates"].get<bool>());
  }
  lastSavedPayloadData_ = outcome.payload;
  if (statusMessage_ != savedStatus) setStatusMessage(savedStatus);
}

// ---- tool catalogue ----

std::vector<std::string> ToolSettingsViewModel::toolNames() const {
  return ToolCatalogue::toolNames(metadataFetcher_->toolMetadata(), featureTier_);
}

std::vector<ToolCatalogue::Group> ToolSettingsViewModel::groupedTools() const {
  return ToolCatalogue::groupedTools(metadataFetcher_->toolMetadata(), featureTier_);
}

bool ToolSettingsViewModel::isEnabled(const std::string& tool) const {
  if (auto it = helperToolEnabled_.find(tool); it != helperToolEnabled_.end()) return it->second;
  return !requireExplicitToolEnable_;
}

std::vector<std::string> ToolSettingsViewModel::operations(const std::string& tool) const {
  return ToolCatalogue::operations(metadataFetcher_->toolMetadata(), tool);
}

bool ToolSettingsViewModel::isOperationEnabled(const std::string& operation, const std::string& tool) const {
  if (auto it = operationEnabled_.find(ToolCatalogue::operationKey(tool, operation)); it != operationEnabled_.end()) {
    return it->second;
  }
  return isEnabled(tool);
}

void ToolSettingsViewModel::setOperationEnabled(bool value, const std::string& operation, const std::string& tool) {
  SwitchMap map = operationEnabled_;
  map[ToolCatalogue::operationKey(tool, operation)] = value;
  setOperationEnabled(std::move(map));
}

void ToolSettingsViewModel::enableAllOperations(const std::string& tool) {
  for (const std::string& operation : operations(tool)) setOperationEnabled(true, operation, tool);
}

void ToolSettingsViewModel::disableAllOperations(const std::string& tool) {
  for (const std::string& operation : operations(tool)) setOperationEnabled(false, operation, tool);
}

void ToolSettingsViewModel::setToolEnabledConsideringOperations(bool value, const std::string& tool) {
  SwitchMap map = helperToolEnabled_;
  map[tool] = value;
  setHelperToolEnabled(std::move(map));
  if (value) {
    enableAllOperations(tool);
  } else {
    disableAllOperations(tool);
  }
}

bool ToolSettingsViewModel::isToolAvailable(const std::string& tool) const {
  return ToolCatalogue::isToolAvailable(metadataFetcher_->toolMetadata(), tool, ToolAvailability::installRoot());
}

std::optional<std::string> ToolSettingsViewModel::unavailableReason(const std::string& tool) const {
  return ToolCatalogue::unavailableReason(metadataFetcher_->toolMetadata(), tool, ToolAvailability::installRoot());
}

std::optional<std::string> ToolSettingsViewModel::groupHint(const std::string& category) const {
  return ToolCatalogue::groupHint(category, ToolAvailability::installRoot());
}

}  // namespace qd
