#include "daemon/core/server_error.h"

namespace qd {

ServerError ServerError::clientNotFound(const std::string& clientId) {
  return {Kind::clientNotFound, "Client not found: " + clientId};
}
ServerError ServerError::bindFailed(const std::string& systemText) {
  return {Kind::bindFailed, "Failed to bind Unix socket: " + systemText};
}
ServerError ServerError::listenFailed(const std::string& systemText) {
  return {Kind::listenFailed, "Failed to listen on Unix socket: " + systemText};
}
ServerError ServerError::failedToCreateListener() {
  return {Kind::failedToCreateListener, "Failed to create Unix socket listener"};
}
ServerError ServerError::socketPathTooLong() {
  return {Kind::socketPathTooLong, "Unix socket path exceeds sockaddr_un limit"};
}
ServerError ServerError::socketPathOccupied(const std::string& path) {
  return {Kind::socketPathOccupied, "Socket path is occupied by a file that is not a socket: " + path};
}

ConnectionError ConnectionError::messageTooLarge(std::int64_t maxBytes) {
  return {Kind::messageTooLarge, "messageTooLarge(maxBytes: " + std::to_string(maxBytes) + ")"};
}
ConnectionError ConnectionError::readFailed(const std::string& systemText) {
  return {Kind::readFailed, "readFailed(\"" + systemText + "\")"};
}
ConnectionError ConnectionError::writeFailed(const std::string& systemText) {
  return {Kind::writeFailed, "writeFailed(\"" + systemText + "\")"};
}
ConnectionError ConnectionError::invalidUTF8() { return {Kind::invalidUTF8, "invalidUTF8"}; }
ConnectionError ConnectionError::connectionClosed() { return {Kind::connectionClosed, "connectionClosed"}; }

}  // namespace qd
