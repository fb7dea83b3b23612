#pragma once

#include <cstdint>
#include <string>

#include "daemon/utilities/error.h"

namespace qd {

// A failure of the daemon's socket server: start-up and sends to a client by id.
class ServerError : public Error {
 public:
  enum class Kind {
    clientNotFound,          // "Client not found: <id>"
    bindFailed,              // "Failed to bind Unix socket: <system text>"
    listenFailed,            // "Failed to listen on Unix socket: <system text>"
    failedToCreateListener,  // "Failed to create Unix socket listener"
    socketPathTooLong,       // "Unix socket path exceeds sockaddr_un limit"
    // Something other than a socket stands at the path; it is left alone.
    socketPathOccupied,  // "Socket path is occupied by a file that is not a socket: <path>"
  };

  static ServerError clientNotFound(const std::string& clientId);
  static ServerError bindFailed(const std::string& systemText);
  static ServerError listenFailed(const std::string& systemText);
  static ServerError failedToCreateListener();
  static ServerError socketPathTooLong();
  static ServerError socketPathOccupied(const std::string& path);

  Kind kind() const { return kind_; }

 private:
  ServerError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

// A failure of one client connection. These have no texts of their own for users: the
// description is the case with its values, as the log shows it ("invalidUTF8",
// "messageTooLarge(maxBytes: 1048576)", "readFailed(\"Connection reset by peer\")").
class ConnectionError : public Error {
 public:
  enum class Kind { messageTooLarge, readFailed, writeFailed, invalidUTF8, connectionClosed };

  static ConnectionError messageTooLarge(std::int64_t maxBytes);
  static ConnectionError readFailed(const std::string& systemText);
  static ConnectionError writeFailed(const std::string& systemText);
  static ConnectionError invalidUTF8();
  static ConnectionError connectionClosed();

  Kind kind() const { return kind_; }

 private:
  ConnectionError(Kind kind, std::string description) : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

}  // namespace qd
