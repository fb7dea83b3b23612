#include "daemon/utilities/atomic_file.h"

#include "daemon/utilities/descriptor_io.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

namespace qd {
namespace {

std::string describe(std::string_view action, const std::filesystem::path& path, int code) {
  return std::string(action) + " " + path.string() + ": " + std::strerror(code);
}

[[noreturn]] void fail(FileWriteError::Kind kind, std::string_view action, const std::filesystem::path& path,
                       int code) {
  throw FileWriteError(kind, describe(action, path, code), code);
}

std::string randomSuffix() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // Uniqueness is guaranteed by O_EXCL and the retry loop; the bits only make a clash rare.
    bits = static_cast<std::uint64_t>(::getpid()) ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the close's own error, which can be the first sign of a full disk.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

void syncFolder(const std::filesystem::path& folder) {
  // Makes the rename itself durable. A folder that cannot be opened or synced (some file
  // systems refuse) leaves the new file in place all the same, so it is not a failure.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string utcStamp(std::chrono::system_clock::time_point now) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm parts{};
  ::gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

}  // namespace

std::optional<std::string> readFileIfPresent(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw FileReadError(FileReadError::Kind::open, describe("Could not open", path, errno), errno);
  }
  Descriptor file(fd);
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileReadError(FileReadError::Kind::read, describe("Could not read", path, errno), errno);
    }
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  return contents;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         const AtomicWriteOptions& options) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  if (options.createFolder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) fail(FileWriteError::Kind::createFolder, "Could not create the folder", folder, ec.value());
  }

  const mode_t creationMode = options.mode.value_or(0666);
  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = folder / ("." + path.filename().string() + ".tmp-" + randomSuffix());
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, creationMode);
    if (fd < 0 && (errno != EEXIST || attempt >= 16)) {
      fail(FileWriteError::Kind::createTemporary, "Could not create a temporary file for", path, errno);
    }
  }
  Descriptor file(fd);

  auto abandon = [&](FileWriteError::Kind kind, std::string_view action, int code) {
    ::unlink(temporary.c_str());
    fail(kind, action, path, code);
  };
  // The umask may have narrowed the creation mode; an explicit mode is made exact here,
  // still before any byte is written.
  if (options.mode && ::fchmod(file.get(), *options.mode) != 0) {
    abandon(FileWriteError::Kind::createTemporary, "Could not set the permissions of the temporary file for",
            errno);
  }
  if (!writeAllToDescriptor(file.get(), contents)) abandon(FileWriteError::Kind::write, "Could not write", errno);
  if (::fsync(file.get()) != 0) abandon(FileWriteError::Kind::write, "Could not flush", errno);
  if (file.close() != 0) abandon(FileWriteError::Kind::write, "Could not write", errno);
  if (options.stillCurrent && !options.stillCurrent()) {
    ::unlink(temporary.c_str());
    throw FileWriteError(FileWriteError::Kind::changed, path.string() + " changed while being updated", 0);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) abandon(FileWriteError::Kind::rename, "Could not replace", errno);
  syncFolder(folder);
}

std::optional<std::filesystem::path> keepUnreadableFile(const std::filesystem::path& path,
                                                        std::chrono::system_clock::time_point now) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return std::nullopt;
    fail(FileWriteError::Kind::keepCopy, "Could not keep a copy of", path, errno);
  }
  const std::string base = path.filename().string() + ".unreadable-" + utcStamp(now);
  std::optional<std::string> contents;  // read once, only when a hard link is refused
  for (int n = 1; n <= 100; ++n) {
    const std::filesystem::path kept = path.parent_path() / (n == 1 ? base : base + "-" + std::to_string(n));
    if (::link(path.c_str(), kept.c_str()) == 0) return kept;
    if (errno == EEXIST) continue;
    // No hard link here (another file system kind, a link count limit): copy instead,
    // with the same permissions and never over an existing name.
    try {
      if (!contents) contents = readFileIfPresent(path);
    } catch (const FileReadError& e) {
      fail(FileWriteError::Kind::keepCopy, "Could not keep a copy of", path, e.code());
    }
    if (!contents) return std::nullopt;
    const int fd = ::open(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, info.st_mode & 07777);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      fail(FileWriteError::Kind::keepCopy, "Could not keep a copy of", path, errno);
    }
    Descriptor copy(fd);
    if (::fchmod(copy.get(), info.st_mode & 07777) != 0 || !writeAllToDescriptor(copy.get(), *contents) ||
        ::fsync(copy.get()) != 0 || copy.close() != 0) {
      const int code = errno;
      ::unlink(kept.c_str());
      fail(FileWriteError::Kind::keepCopy, "Could not keep a copy of", path, code);
    }
    return kept;
  }
  fail(FileWriteError::Kind::keepCopy, "Could not keep a copy of", path, EEXIST);
}

}  // namespace qd
