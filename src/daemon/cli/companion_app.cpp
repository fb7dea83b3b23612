#include "daemon/cli/companion_app.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qd {
namespace {

std::optional<std::filesystem::path> ownExecutable() {
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return self;
}

// Double fork: the intermediate child starts a new session, forks the app and exits at
// once, so we reap it at once and the app is never our child. Only async-signal-safe
// calls after fork.
void launchDetached(const std::filesystem::path& app) {
  const std::string path = app.string();
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  const pid_t intermediate = ::fork();
  if (intermediate < 0) return;
  if (intermediate == 0) {
    ::setsid();
    if (::fork() == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
      }
      ::execv(path.c_str(), argv);
      ::_exit(127);
    }
    ::_exit(0);
  }
  while (::waitpid(intermediate, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::optional<std::filesystem::path> resolveCompanionAppPath(const std::filesystem::path& daemonExecutable) {
  std::filesystem::path app = daemonExecutable.parent_path() / "QuarvelDorarov";
  std::error_code error;
  if (!std::filesystem::is_regular_file(app, error)) return std::nullopt;
  return app;
}

bool isCompanionAppRunning(const std::filesystem::path& app) {
  std::error_code error;
  const std::filesystem::path wanted = std::filesystem::canonical(app, error);
  if (error) return false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  bool found = false;
  while (dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    if (std::filesystem::read_symlink("/proc/" + name + "/exe", ignored) == wanted) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

void ensureCompanionAppRunning(const platform::Environment& env) {
  if (env.get("TINDERBOX_DISABLE_APP_LAUNCH") == std::optional<std::string>("1")) return;
  std::optional<std::filesystem::path> self = ownExecutable();
  if (!self) return;
  std::optional<std::filesystem::path> app = resolveCompanionAppPath(*self);
  if (!app || isCompanionAppRunning(*app)) return;
  launchDetached(*app);
}

}  // namespace qd
