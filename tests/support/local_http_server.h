#pragma once

// A tiny HTTP/1.0 server on 127.0.0.1 for tests that fetch pages: answers GET requests
// from a table of paths, each with a status, extra headers and a body; a path marked
// `silent` is accepted and never answered, one marked `endless` sends its body without a
// length and then holds the connection, so the body never ends. One request per connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qd::test {

class LocalHttpServer {
 public:
  struct Page {
    int status = 200;
    std::string headers;  // extra header lines, each ending in "\r\n"
    std::string body;
    bool silent = false;
    bool endless = false;
  };

  LocalHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LocalHttpServer() {
    stopping_ = true;
    thread_.join();
    for (int fd : held_) ::close(fd);
    ::close(listener_);
  }

  int port() const { return port_; }
  void set(const std::string& path, Page page) {
    std::lock_guard lock(mutex_);
    pages_[path] = std::move(page);
  }
  std::vector<std::string> requestedPaths() {
    std::lock_guard lock(mutex_);
    return requested_;
  }

 private:
  void serve() {
    while (!stopping_) {
      pollfd poller{listener_, POLLIN, 0};
      if (::poll(&poller, 1, 20) <= 0) continue;
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      answer(connection);
    }
  }

  void answer(int connection) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::read(connection, buffer, sizeof buffer);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Page page{404, "", "not found", false};
    {
      std::lock_guard lock(mutex_);
      requested_.push_back(path);
      if (auto found = pages_.find(path); found != pages_.end()) page = found->second;
    }
    if (page.silent) {
      held_.push_back(connection);  // closed when the server ends
      return;
    }
    const std::string length = page.endless ? "" : "Content-Length: " + std::to_string(page.body.size()) + "\r\n";
    const std::string reply =
        "HTTP/1.0 " + std::to_string(page.status) + " X\r\n" + length + page.headers + "\r\n" + page.body;
    std::size_t sent = 0;
    while (sent < reply.size()) {
      // A client that stops reading early must not end the test process with SIGPIPE.
      const ssize_t wrote = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (wrote <= 0) break;
      sent += static_cast<std::size_t>(wrote);
    }
    if (page.endless) {
      held_.push_back(connection);  // closed when the server ends
      return;
    }
    ::close(connection);
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, Page> pages_;
  std::vector<std::string> requested_;
  std::vector<int> held_;
};

}  // namespace qd::test
