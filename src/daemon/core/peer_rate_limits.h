#pragma once

// The socket server's rate limit, kept per client process rather than per connection.
// Every connection of one process (its pid, from the socket's peer credentials, and its
// start time, since pids are reused) counts its lines against one budget, so a client that
// connects again after being closed for the limit goes on with the budget it has used. A
// process is remembered until one window has passed after its last connection closed: by
// then none of its lines counts any more, so forgetting it changes nothing, and many
// short-lived processes leave nothing behind.
//
// Lives on the io thread with the server that owns it.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "daemon/core/client_process_info.h"
#include "daemon/security/rate_limiter.h"
#include "daemon/utilities/clock.h"

namespace qd {

class PeerRateLimits {
 public:
  // A forgotten process is looked for at most this often, when a connection opens or closes.
  static constexpr std::chrono::seconds sweepInterval{1};

  PeerRateLimits(std::int64_t maxRequests, std::int64_t windowMs, const Clock& clock);

  // Whose budget a connection spends: "process <pid> started <ticks>" ("process <pid>" when
  // the start time could not be read), or the connection's own id when its peer's pid is
  // unknown.
  static std::string peerOf(const std::string& clientId, const std::optional<ClientProcessInfo>& info);

  void connectionOpened(const std::string& peer);
  void connectionClosed(const std::string& peer);

  // Counts one line of the peer; RateLimitExceededError (the line uncounted) once the peer
  // has used its budget within the window. The limiter logs the refusal, at most once a
  // second per peer.
  void enforce(const std::string& peer);

  // The processes remembered now: those with a connection and those closed within the
  // window (and up to one sweep interval more).
  std::size_t peerCount() const { return peers_.size(); }

 private:
  using TimePoint = std::chrono::steady_clock::time_point;
  struct Peer {
    std::int64_t connections = 0;
    TimePoint lastClosed;
  };

  void forgetPassedPeers();

  RateLimiter limiter_;
  const std::chrono::steady_clock::duration window_;
  const Clock& clock_;
  std::map<std::string, Peer> peers_;
  TimePoint lastSweep_;
};

}  // namespace qd
