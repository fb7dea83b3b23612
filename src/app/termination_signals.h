#pragma once

// SIGTERM, SIGINT and SIGHUP end the application through its event loop, so that
// QCoreApplication::aboutToQuit (the termination handler that stops the service) runs
// whatever made it quit. The handler only writes to a pipe; a socket notifier on the
// GUI thread reads it and calls QCoreApplication::quit().

namespace qd {

// Call once, after the QCoreApplication exists.
void quitOnTerminationSignals();

}  // namespace qd
