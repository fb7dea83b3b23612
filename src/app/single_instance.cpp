#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>

namespace qd {

SingleInstance::SingleInstance(std::filesystem::path folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool SingleInstance::acquire() {
  std::error_code ignored;
  std::filesystem::create_directories(folder_, ignored);
  const std::string lockPath = (folder_ / lockFileName).string();
  // Close-on-exec: the daemon we start must not inherit (and so keep) our lock.
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) return true;  // no lock to be had: better one app too many than none
  int rc;
  while ((rc = ::flock(lockFd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    ::close(lockFd_);
    lockFd_ = -1;
    sendActivate();
    return false;
  }
  // We hold the lock, so a socket file left there belongs to an instance that has ended.
  const QString socketPath = QString::fromStdString((folder_ / socketFileName).string());
  QLocalServer::removeServer(socketPath);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
      connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
        while (peer->canReadLine()) {
          if (peer->readLine().trimmed() == "activate") emit activateRequested();
        }
      });
    }
  });
  server_->listen(socketPath);
  return true;
}

void SingleInstance::sendActivate() {
  const QString socketPath = QString::fromStdString((folder_ / socketFileName).string());
  // The instance holding the lock may not be listening yet when many start together.
  for (int attempt = 0; attempt < 20; ++attempt) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (socket.waitForConnected(500)) {
      socket.write("activate\n");
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      return;
    }
    QThread::msleep(100);
  }
}

}  // namespace qd
