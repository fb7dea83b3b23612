#pragma once

#include <string>

#include "daemon/runtime/unique_fd.h"

namespace qd {

// The longest socket path, in bytes without the terminating NUL, that every platform's
// sockaddr_un holds (104 bytes with the NUL); Linux would take 107.
inline constexpr std::size_t maxSocketPathBytes = 103;
inline constexpr int listenBacklog = 128;

// Creates a listening Unix stream socket at `path`: close-on-exec and non-blocking. The
// socket is bound and listens under a temporary name in the same folder and is then renamed
// onto `path`, so the name never names a socket that refuses connections; the rename never
// replaces a file that is there (the start fails as a bind on it would). The socket file is
// created with mode 0600 whatever the umask (the socket's own inode is set to 0600 before
// bind, and bind applies the umask to that), so it is never open to others, not even for a
// moment. Throws ServerError: failedToCreateListener, socketPathTooLong, bindFailed or
// listenFailed; on a failure after bind the file is removed again.
UniqueFd openListeningSocket(const std::string& path);

}  // namespace qd
