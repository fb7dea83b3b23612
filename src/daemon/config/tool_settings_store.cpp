#include "daemon/config/tool_settings_store.h"

#include <chrono>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/atomic_file.h"

namespace qd {

ToolSettingsStore::ToolSettingsStore(std::optional<std::filesystem::path> fileURL)
    : fileURL_(fileURL ? std::move(*fileURL) : Configuration::shared().appSupportDir() / "tool-settings.json") {}

void ToolSettingsStore::load() {
  try {
    auto text = readFileIfPresent(fileURL_);
    cached_ = text ? ToolSettings::fromJson(parseJson(*text)) : ToolSettings();
    keepFileBeforeSave_ = false;
  } catch (const Error&) {
    keepFileBeforeSave_ = true;
    throw;
  }
}

void ToolSettingsStore::save(const ToolSettings& settings) {
  cached_ = settings;
  const std::string bytes = dumpJson(settings.toJson());
  if (keepFileBeforeSave_) {
    if (auto kept = keepUnreadableFile(fileURL_, std::chrono::system_clock::now())) {
      Logger::warn("ToolSettings", "Kept the unreadable tool settings file before replacing it",
                   {{"path", fileURL_.string()}, {"keptAs", kept->string()}});
    }
    keepFileBeforeSave_ = false;
  }
  writeFileAtomically(fileURL_, bytes, AtomicWriteOptions().creatingFolder());
}

}  // namespace qd
