#include "daemon/core/listener_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "daemon/core/server_error.h"

namespace qd {
namespace {

constexpr std::string_view kNameCharacters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kNameAttempts = 32;

sockaddr_un addressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// A name in the same folder that no one else would pick: ".<name>.XXXXXX", or, where that
// would not fit in a socket address, random characters as many as the final name has.
std::string temporaryNameBeside(const std::string& path, std::mt19937_64& random) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::uniform_int_distribution<std::size_t> pick(0, kNameCharacters.size() - 1);
  const auto randomText = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text.push_back(kNameCharacters[pick(random)]);
    return text;
  };
  std::string preferred = folder + "." + name + "." + randomText(6);
  if (preferred.size() <= maxSocketPathBytes) return preferred;
  return folder + randomText(name.size());
}

// Gives the bound socket its final name without ever replacing what is there: a file that
// appeared at the name since the stale-socket clean-up stays, and the start fails as bind
// would have failed on it.
int moveIntoPlace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a hard link fails the same way on an
  // existing name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  (void)::unlink(from.c_str());
  return 0;
}

}  // namespace

UniqueFd openListeningSocket(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) throw ServerError::failedToCreateListener();
  const int one = 1;
  (void)::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  if (path.size() > maxSocketPathBytes) throw ServerError::socketPathTooLong();
  // An empty name would bind in Linux's abstract namespace, an embedded NUL somewhere else
  // than asked: neither is a path.
  if (path.empty() || path.ends_with('/') || path.find('\0') != std::string::npos) {
    throw ServerError::bindFailed(std::strerror(EINVAL));
  }

  // bind gives the file the socket inode's mode less the umask: 0600 here, never more.
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) throw ServerError::bindFailed(std::strerror(errno));

  // A client that finds the name must find a listening socket: one bound at the final name
  // refuses connections until listen. So the socket is bound and listens under a temporary
  // name beside it, and only then takes its name.
  std::mt19937_64 random(std::random_device{}());
  std::string temporary;
  for (int attempt = 0;; ++attempt) {
    temporary = temporaryNameBeside(path, random);
    const sockaddr_un address = addressOf(temporary);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    if (errno != EADDRINUSE || attempt + 1 == kNameAttempts) throw ServerError::bindFailed(std::strerror(errno));
  }
  if (::listen(fd.get(), listenBacklog) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw ServerError::listenFailed(std::strerror(error));
  }
  if (const int error = moveIntoPlace(temporary, path); error != 0) {
    ::unlink(temporary.c_str());
    throw ServerError::bindFailed(std::strerror(error == EEXIST ? EADDRINUSE : error));
  }
  return fd;
}

}  // namespace qd
