#include "daemon/runtime/process_signals.h"

#include <csignal>
#include <mutex>

namespace qd {

void ignoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
  });
}

}  // namespace qd
