#include "app/note_app_detection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace qd {
namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string readSmallFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  char buffer[4096];
  in.read(buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(in.gcount()));
}

std::string processName(const std::filesystem::path& folder) {
  const std::string cmdline = readSmallFile(folder / "cmdline");
  const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
  if (!argv0.empty()) {
    const auto slash = argv0.rfind('/');
    const std::string base = slash == std::string::npos ? argv0 : argv0.substr(slash + 1);
    if (!base.empty()) return base;
  }
  std::string comm = readSmallFile(folder / "comm");
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) comm.pop_back();
  return comm;
}

}  // namespace

bool isNoteAppProcess(const RunningProcess& process, const std::vector<std::filesystem::path>& ownExecutables) {
  if (!process.executable.empty()) {
    for (const auto& own : ownExecutables) {
      if (process.executable == own) return false;
    }
    const std::string path = lowered(process.executable.string());
    if (path.find("/tinderbox.app/contents/macos/") != std::string::npos ||
        path.find("/tinderbox 11.app/contents/macos/") != std::string::npos) {
      return true;
    }
  }
  const std::string name = lowered(process.name);
  if (name.find("router") != std::string::npos) return false;
  return name.find("tinderbox") != std::string::npos;
}

std::vector<RunningProcess> runningProcessesOfThisUser() {
  std::vector<RunningProcess> processes;
  const uid_t uid = ::getuid();
  const std::string self = std::to_string(::getpid());
  std::error_code error;
  for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c); })) continue;
    if (pid == self) continue;
    struct stat info {};
    if (::stat(it->path().c_str(), &info) != 0 || info.st_uid != uid) continue;
    RunningProcess process;
    process.pid = std::stoi(pid);
    std::error_code linkError;
    process.executable = std::filesystem::read_symlink(it->path() / "exe", linkError);
    if (linkError) process.executable.clear();
    process.name = processName(it->path());
    processes.push_back(std::move(process));
  }
  return processes;
}

bool isNoteAppRunning(const std::vector<std::filesystem::path>& ownExecutables) {
  std::vector<std::filesystem::path> own;
  for (const auto& path : ownExecutables) {
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(path, error);
    own.push_back(error ? path : canonical);
  }
  for (const RunningProcess& process : runningProcessesOfThisUser()) {
    if (isNoteAppProcess(process, own)) return true;
  }
  return false;
}

}  // namespace qd
