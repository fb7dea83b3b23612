#include "daemon/core/listener_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "daemon/core/server_error.h"

namespace qd {

UniqueFd openListeningSocket(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) throw ServerError::failedToCreateListener();
  const int one = 1;
  (void)::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  if (path.size() > maxSocketPathBytes) throw ServerError::socketPathTooLong();
  // An empty name would bind in Linux's abstract namespace, an embedded NUL somewhere else
  // than asked: neither is a path.
  if (path.empty() || path.find('\0') != std::string::npos) throw ServerError::bindFailed(std::strerror(EINVAL));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  // bind gives the file the socket inode's mode less the umask: 0600 here, never more.
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) throw ServerError::bindFailed(std::strerror(errno));
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    throw ServerError::bindFailed(std::strerror(errno));
  }
  if (::listen(fd.get(), listenBacklog) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    throw ServerError::listenFailed(std::strerror(error));
  }
  return fd;
}

}  // namespace qd
