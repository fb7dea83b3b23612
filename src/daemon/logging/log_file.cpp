#include "daemon/logging/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace qd {

bool createLogFolder(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& component : folder) {
    partial /= component;
    if (::mkdir(partial.c_str(), kLogFolderMode) == 0) {
      ::chmod(partial.c_str(), kLogFolderMode);  // exact mode, whatever the umask
      continue;
    }
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(partial.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    errno = error == EEXIST ? ENOTDIR : error;
    return false;
  }
  return true;
}

void narrowLogFileMode(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return;
  if ((info.st_mode & 077) != 0) ::fchmod(fd, kLogFileMode);
}

int openLogFile(const std::filesystem::path& path) {
  // Non-blocking only for the open itself: a FIFO in the file's place must not hang us.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, kLogFileMode);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, O_APPEND);
  narrowLogFileMode(fd);
  return fd;
}

bool appendLogRecord(int fd, std::string_view record) {
  std::size_t written = 0;
  int failure = 0;
  while (written < record.size()) {
    const ssize_t n = ::write(fd, record.data() + written, record.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    failure = n < 0 ? errno : EIO;
    break;
  }
  if (written == record.size()) return true;
  struct stat info {};
  if (written > 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    // After a write the offset lies just past its bytes, with O_APPEND too: the record
    // began `written` bytes before it.
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    const off_t start = end - static_cast<off_t>(written);
    if (end >= 0 && start >= 0) {
      while (::ftruncate(fd, start) != 0 && errno == EINTR) {
      }
      ::lseek(fd, start, SEEK_SET);  // a descriptor without O_APPEND writes on from here
    }
  }
  errno = failure;
  return false;
}

bool appendToStandardError(std::string_view record) {
  static std::mutex writing;
  std::lock_guard lock(writing);
  return appendLogRecord(STDERR_FILENO, record);
}

int openLogFileCreatingFolder(const std::filesystem::path& path) {
  if (path.has_parent_path() && !createLogFolder(path.parent_path())) return -1;
  return openLogFile(path);
}

bool appendToLogFile(const std::filesystem::path& path, std::string_view record) {
  const int fd = openLogFileCreatingFolder(path);
  if (fd < 0) return false;
  const bool appended = appendLogRecord(fd, record);
  const int error = errno;
  ::close(fd);
  errno = error;
  return appended;
}

}  // namespace qd
