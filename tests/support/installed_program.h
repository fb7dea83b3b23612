#pragma once

// For tests that run programs from an installation tree of their own: putting a program
// at a path (a hard link, or a copy where linking is not possible) and reading what a
// child process prints.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace qd::test {

inline void installProgram(const std::filesystem::path& program, const std::filesystem::path& at) {
  std::filesystem::create_directories(at.parent_path());
  std::error_code ec;
  std::filesystem::create_hard_link(program, at, ec);
  if (ec) std::filesystem::copy_file(program, at);
}

// Reads the descriptor to its end (or up to the first line feed when `oneLine`), waiting
// at most two minutes for each byte.
inline std::string readFrom(int fd, bool oneLine = false) {
  std::string out;
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 120000) <= 0) break;
    char byte;
    const ssize_t n = ::read(fd, &byte, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    if (oneLine && byte == '\n') break;
    out.push_back(byte);
  }
  return out;
}

}  // namespace qd::test
