#include "app/installer/client_config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "daemon/utilities/atomic_file.h"

namespace qd {
namespace {

using Kind = ClientConfigFileError::Kind;

[[noreturn]] void refuse(Kind kind, const std::filesystem::path& path, const std::string& cause) {
  throw ClientConfigFileError(kind, path, cause);
}

std::string systemText(int code) { return std::strerror(code); }

// Refuses what is not a plain file we own and may rewrite whole.
void checkFile(const std::filesystem::path& path, const struct stat& info, ReadPurpose purpose) {
  if (S_ISDIR(info.st_mode)) refuse(Kind::unsupportedFile, path, "is a folder, not a file");
  if (!S_ISREG(info.st_mode)) refuse(Kind::unsupportedFile, path, "is not a regular file (a pipe, socket or device)");
  if (static_cast<std::size_t>(info.st_size) > kMaxClientConfigBytes) {
    refuse(Kind::unsupportedFile, path, "is larger than 64 MiB");
  }
  if (purpose == ReadPurpose::inspect) return;
  if (info.st_uid != ::geteuid()) refuse(Kind::unsupportedFile, path, "belongs to another user");
  // The owner's write bit, not access(2): the superuser may write anything, but a file its
  // owner made read-only is not meant to be rewritten.
  if ((info.st_mode & S_IWUSR) == 0) refuse(Kind::unsupportedFile, path, "is read-only");
  if (info.st_nlink > 1) refuse(Kind::unsupportedFile, path, "has several hard links, which a rewrite would split");
}

std::string readOpenFile(int fd, const std::filesystem::path& path) {
  std::string contents;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return contents;
    if (n < 0) {
      if (errno == EINTR) continue;
      refuse(Kind::unreadable, path, "could not be read: " + systemText(errno));
    }
    contents.append(buffer, static_cast<std::size_t>(n));
    if (contents.size() > kMaxClientConfigBytes) refuse(Kind::unsupportedFile, path, "is larger than 64 MiB");
  }
}

bool sameFile(const ClientConfigSnapshot& before, const ClientConfigSnapshot& now) {
  return before.target == now.target && before.contents == now.contents;
}

}  // namespace

ClientConfigSnapshot readClientConfigFile(const std::filesystem::path& path, ReadPurpose purpose) {
  ClientConfigSnapshot snapshot;
  snapshot.target = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return snapshot;
    refuse(Kind::unreadable, path, "could not be read: " + systemText(errno));
  }
  if (S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      if (errno == ENOENT) refuse(Kind::unsupportedFile, path, "is a link to a file that does not exist");
      if (errno == ELOOP) refuse(Kind::unsupportedFile, path, "is a link that loops");
      refuse(Kind::unreadable, path, "is a link that cannot be followed: " + systemText(errno));
    }
    snapshot.target = resolved;
    snapshot.viaLink = true;
  }
  if (::stat(snapshot.target.c_str(), &info) != 0) {
    refuse(Kind::unreadable, path, "could not be read: " + systemText(errno));
  }
  checkFile(path, info, purpose);

  const int fd = ::open(snapshot.target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) refuse(Kind::unreadable, path, "could not be opened: " + systemText(errno));
  struct stat opened {};
  const bool same = ::fstat(fd, &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino;
  if (!same) {
    ::close(fd);
    refuse(Kind::unreadable, path, "changed while being read; try again");
  }
  try {
    checkFile(path, opened, purpose);
    snapshot.contents = readOpenFile(fd, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
  snapshot.mode = opened.st_mode & 07777;
  return snapshot;
}

ReplaceOutcome replaceClientConfigFile(const std::filesystem::path& path,
                                       const std::function<ClientConfigEdit(const std::optional<std::string>&)>& edit,
                                       const ReplaceOptions& options) {
  constexpr int kTries = 3;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    const ClientConfigSnapshot before = readClientConfigFile(path);
    const ClientConfigEdit change = edit(before.contents);
    if (std::holds_alternative<KeepFile>(change)) return ReplaceOutcome::unchanged;

    auto stillCurrent = [&] {
      if (options.beforeRename) options.beforeRename(before.target);
      try {
        return sameFile(before, readClientConfigFile(path));
      } catch (const ClientConfigFileError&) {
        return false;
      }
    };

    if (std::holds_alternative<DeleteFile>(change)) {
      if (!before.contents) return ReplaceOutcome::unchanged;
      if (!before.viaLink) {
        if (!stillCurrent()) continue;
        if (::unlink(before.target.c_str()) != 0) {
          refuse(Kind::writeFailed, path, "could not be deleted: " + systemText(errno));
        }
        return ReplaceOutcome::deleted;
      }
    }
    const std::string contents = std::holds_alternative<std::string>(change) ? std::get<std::string>(change) : "";
    if (before.contents == contents) return ReplaceOutcome::unchanged;

    AtomicWriteOptions write;
    if (before.contents) write.mode = before.mode;
    write.createFolder = options.createFolder;
    write.stillCurrent = stillCurrent;
    try {
      writeFileAtomically(before.target, contents, write);
      return ReplaceOutcome::written;
    } catch (const FileWriteError& e) {
      if (e.kind() == FileWriteError::Kind::changed) continue;
      refuse(Kind::writeFailed, path, "could not be written: " + e.description());
    }
  }
  refuse(Kind::changedDuringUpdate, path, "changed while being updated; try again");
}

}  // namespace qd
