#include "app/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace qd {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  (void)!::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void quitOnTerminationSignals() {
  if (signalPipe[0] >= 0) return;
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
}

}  // namespace qd
