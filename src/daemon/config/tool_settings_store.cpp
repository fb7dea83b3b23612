#include "daemon/config/tool_settings_store.h"

#include <chrono>
#include <cstring>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/atomic_file.h"

namespace qd {
namespace {

// The file's own path is already in the error's text; the system's reason is enough.
std::string reasonOf(const Error& error) {
  if (const auto* read = dynamic_cast<const FileReadError*>(&error)) return std::strerror(read->code());
  return error.description();
}

}  // namespace

ToolSettingsFileError::ToolSettingsFileError(const std::filesystem::path& file, const std::string& reason)
    : Error("Cannot use the tool settings file " + file.string() + ": " + reason +
            ". The file was left as it is: mend it, or move it away to start with the default settings.") {}

ToolSettingsStore::ToolSettingsStore(std::optional<std::filesystem::path> fileURL)
    : fileURL_(fileURL ? std::move(*fileURL) : Configuration::shared().appSupportDir() / "tool-settings.json") {}

void ToolSettingsStore::load() {
  try {
    auto text = readFileIfPresent(fileURL_);
    cached_ = text ? ToolSettings::fromJson(parseJson(*text)) : ToolSettings();
    keepFileBeforeSave_ = false;
  } catch (const Error& error) {
    keepFileBeforeSave_ = true;
    throw ToolSettingsFileError(fileURL_, reasonOf(error));
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
