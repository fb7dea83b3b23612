#include "daemon/config/app_preferences_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>

#include "daemon/config/configuration.h"
#include "daemon/logging/logger.h"
#include "daemon/utilities/atomic_file.h"
#include "daemon/utilities/json.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

bool isUsableSuiteName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// The suite's object, or nullopt when the file exists but holds no JSON object.
std::optional<Json> readSuite(const std::filesystem::path& file) {
  try {
    auto text = readFileIfPresent(file);
    if (!text) return Json::object();
    Json value = parseJson(*text);
    if (!value.is_object()) return std::nullopt;
    return value;
  } catch (const Error&) {
    return std::nullopt;
  }
}

// An exclusive flock on "<suite file>.lock" for one read-modify-write. The tray application
// and the daemon both rewrite the suite; the rename alone is atomic, but without the lock
// two writers that read the same old file would each drop the key the other just wrote.
// When the lock file cannot be made the write goes ahead unlocked, as before.
class SuiteWriteLock {
 public:
  explicit SuiteWriteLock(const std::filesystem::path& suiteFile) {
    std::error_code ignored;
    std::filesystem::create_directories(suiteFile.parent_path(), ignored);
    const std::string path = suiteFile.string() + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~SuiteWriteLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
  }
  SuiteWriteLock(const SuiteWriteLock&) = delete;
  SuiteWriteLock& operator=(const SuiteWriteLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace

AppPreferencesStore::AppPreferencesStore(std::string suiteName, const platform::Environment& env)
    : suiteFile_(platform::preferencesSuiteFile(
          env, isUsableSuiteName(suiteName) ? suiteName : std::string(Configuration::daemonExecutableName))) {}

bool AppPreferencesStore::autoDownloadUpdates() const {
  auto suite = readSuite(suiteFile_);
  if (!suite) return false;
  auto it = suite->find(autoDownloadUpdatesKey);
  return it != suite->end() && it->is_boolean() && it->get<bool>();
}

void AppPreferencesStore::setAutoDownloadUpdates(bool enabled) { setValue(autoDownloadUpdatesKey, enabled); }

std::optional<std::string> AppPreferencesStore::stringValue(const std::string& key) const {
  auto suite = readSuite(suiteFile_);
  if (!suite) return std::nullopt;
  auto it = suite->find(key);
  if (it == suite->end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

void AppPreferencesStore::setStringValue(const std::string& key, const std::string& value) { setValue(key, value); }

void AppPreferencesStore::setValue(const std::string& key, Json value) {
  try {
    const SuiteWriteLock lock(suiteFile_);
    auto suite = readSuite(suiteFile_);
    if (!suite) {
      // The tray application's other preferences live in this file too: keep what cannot
      // be read instead of replacing it with a file that holds only this key.
      auto kept = keepUnreadableFile(suiteFile_, std::chrono::system_clock::now());
      Logger::warn("Preferences", "Kept the unreadable preferences file before replacing it",
                   {{"path", suiteFile_.string()}, {"keptAs", kept ? kept->string() : std::string()}});
      suite = Json::object();
    }
    (*suite)[key] = std::move(value);
    writeFileAtomically(suiteFile_, dumpJson(*suite, 2), AtomicWriteOptions().creatingFolder());
  } catch (const Error& e) {
    Logger::warn("Preferences", "Failed to save preferences", {{"path", suiteFile_.string()}, {"error", e.description()}});
  }
}

}  // namespace qd
