#pragma once

// One application per user. The first process takes an exclusive lock on "app.lock" and
// holds it for its life (the lock goes with the process, however it ends), then listens
// on the local socket "app.sock"; both live in the application-support folder. A process
// that cannot take the lock sends "activate" to the one that holds it and gives way.
// The daemon's lock is on the folder itself, so the two never meet, and the daemon's
// stale clean-up never touches these files.

#include <QObject>

#include <filesystem>

class QLocalServer;

namespace qd {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* lockFileName = "app.lock";
  static constexpr const char* socketFileName = "app.sock";

  explicit SingleInstance(std::filesystem::path folder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // True: this process is the one instance. False: another holds the lock; it has been
  // sent "activate" (best effort: it may still be starting).
  bool acquire();

 signals:
  // Another launch asked this instance to show itself.
  void activateRequested();

 private:
  void sendActivate();

  std::filesystem::path folder_;
  int lockFd_ = -1;
  QLocalServer* server_ = nullptr;
};

}  // namespace qd
