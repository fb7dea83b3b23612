#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qd::test {

// Redirects file descriptor 2 into a temporary file for its lifetime; `text()` reads what
// was written so far. Used to check what the logger writes.
class StderrCapture {
 public:
  StderrCapture() {
    char path[] = "/tmp/qd-stderr-XXXXXX";
    fd_ = ::mkstemp(path);
    ::unlink(path);
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(fd_, STDERR_FILENO);
  }
  ~StderrCapture() {
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    ::close(fd_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  std::string text() const {
    std::fflush(stderr);
    std::string out;
    char buffer[4096];
    for (off_t offset = 0;;) {
      const ssize_t n = ::pread(fd_, buffer, sizeof buffer, offset);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
    return out;
  }

  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string all = text();
    std::size_t start = 0;
    for (std::size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1) {
      out.push_back(all.substr(start, nl - start));
    }
    return out;
  }

 private:
  int fd_ = -1;
  int saved_ = -1;
};

}  // namespace qd::test
