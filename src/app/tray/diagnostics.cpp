#include "app/tray/diagnostics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QMetaObject>

#include <ctime>

#include "app/health_texts.h"
#include "app/settings/settings_seams.h"
#include "daemon/logging/log_file.h"
#include "daemon/runtime/child_process.h"
#include "daemon/utilities/atomic_file.h"
#include "platform/executable_search.h"

#ifndef QD_SUPPORT_EMAIL
#define QD_SUPPORT_EMAIL "support@quarvel.invalid"
#endif

namespace qd {
namespace {

constexpr std::size_t kTailLines = 20;

std::string isoNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const char* boolText(bool value) { return value ? "true" : "false"; }

// A folder only we may enter: ours, a directory (not a link), no bits for group or others.
bool isPrivateFolder(const std::filesystem::path& folder) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
         (info.st_mode & 077) == 0;
}

}  // namespace

Diagnostics::Diagnostics(const AppContext& context, HealthMonitor& monitor, ServiceManager& services,
                         AppInstaller& installer, Options options, QObject* parent)
    : QObject(parent),
      context_(context),
      monitor_(monitor),
      services_(services),
      installer_(installer),
      options_(std::move(options)) {
  if (!options_.openFolder) options_.openFolder = folderOpenerOf(context_.environment);
  if (options_.supportAddress.empty()) options_.supportAddress = buildSupportAddress();
}

std::string Diagnostics::buildSupportAddress() { return QD_SUPPORT_EMAIL; }

Diagnostics::~Diagnostics() {
  stopping_ = true;
  for (std::thread& watcher : watchers_) watcher.join();
}

std::string Diagnostics::diagnosticsSummary() {
  const Configuration& configuration = context_.configuration();
  const auto resources = context_.resourcesFolder();
  const auto serviceExecutable = installer_.installedDaemonExecutablePath();
  const bool executableExists = serviceExecutable && ::access(serviceExecutable->c_str(), X_OK) == 0;
  const auto tail = [](const std::filesystem::path& log) {
    return readLogTail(log, kTailLines).value_or("(unavailable)");
  };
  std::string summary = "Quarvel Dorarov diagnostics\nDate: " + isoNow();
  summary += "\nApp executable: " +
             (context_.binFolder ? (*context_.binFolder / "QuarvelDorarov").string() : std::string("(missing)"));
  summary += "\nResource path: " + (resources ? resources->string() : std::string("(missing)"));
  summary += "\nService executable: " + serviceExecutable.value_or("(missing)");
  summary += std::string("\nService executable exists: ") + boolText(executableExists);
  summary += std::string("\nDaemon service running: ") + boolText(services_.isDaemonServiceRunning());
  summary += std::string("\nService manager: ") + (services_.usesSystemd() ? "systemd" : "detached");
  summary += std::string("\nDaemon alive in app health: ") + boolText(monitor_.daemonAlive());
  summary += std::string("\nTinderbox alive in app health: ") + boolText(monitor_.tinderboxAlive());
  summary += "\n\ndaemon-error.log (last 20 lines)\n---------------------------------\n" +
             tail(configuration.daemonErrorLogPath());
  summary += "\n\ndaemon.log (last 20 lines)\n--------------------------\n" +
             tail(configuration.logsDir() / "daemon.log");
  return summary;
}

std::optional<std::filesystem::path> Diagnostics::privateFolder() const {
  if (auto runtime = context_.environment.get("XDG_RUNTIME_DIR");
      runtime && std::filesystem::path(*runtime).is_absolute() && isPrivateFolder(*runtime)) {
    return std::filesystem::path(*runtime);
  }
  const std::filesystem::path folder = context_.configuration().appSupportDir() / "diagnostics";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  // An existing folder of ours is narrowed; one of someone else's is never used.
  struct stat info {};
  if (::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()) {
    ::chmod(folder.c_str(), 0700);
  }
  if (!isPrivateFolder(folder)) return std::nullopt;
  return folder;
}

std::optional<std::filesystem::path> Diagnostics::writeDiagnosticsSummaryFile(const std::string& content) {
  const auto folder = privateFolder();
  if (!folder) return std::nullopt;
  const std::filesystem::path file = *folder / fileName;
  try {
    writeFileAtomically(file, content, AtomicWriteOptions().withMode(0600));
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return file;
}

void Diagnostics::emailDiagnostics() {
  const std::string summary = diagnosticsSummary();
  if (!options_.confirm || !options_.confirm(std::string(preface) + summary)) return;
  const auto file = writeDiagnosticsSummaryFile(summary);
  if (!file) return;
  watchComposer({"--subject", subject, "--attach", file->string(), options_.supportAddress});
}

void Diagnostics::watchComposer(std::vector<std::string> arguments) {
  const auto program = platform::findExecutableOnPath("xdg-email", context_.environment);
  if (!program) {
    composerUnavailable();
    return;
  }
  SpawnOptions spawn = spawnOptions(program->string(), std::move(arguments));
  spawn.stdinMode = StdioMode::null;
  spawn.stdoutMode = StdioMode::null;
  spawn.stderrMode = StdioMode::null;
  std::unique_ptr<ChildProcess> child;
  try {
    child = ChildProcess::spawn(spawn);
  } catch (const std::exception&) {
    composerUnavailable();
    return;
  }
  // Some mail programs keep xdg-email waiting until the composer closes, so it is watched
  // off the GUI thread; at our exit it is left to a background reaper, not killed.
  watchers_.emplace_back([this, child = std::move(child)]() mutable {
    while (!child->waitForExit(std::chrono::milliseconds(200))) {
      if (stopping_) {
        reapInBackground(std::move(child));
        return;
      }
    }
    const bool opened = child->reap().success();
    QMetaObject::invokeMethod(
        this,
        [this, opened] {
          if (opened) {
            emit composerFinished(true);
          } else {
            composerUnavailable();
          }
        },
        Qt::QueuedConnection);
  });
}

void Diagnostics::composerUnavailable() {
  monitor_.showError(unavailableTitle, unavailableText);
  openLogsDirectory();
  emit composerFinished(false);
}

void Diagnostics::openLogsDirectory() {
  const std::filesystem::path logs = context_.configuration().logsDir();
  (void)createLogFolder(logs);  // a failure shows when the folder is opened
  options_.openFolder(logs);
}

}  // namespace qd
