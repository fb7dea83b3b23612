#include "daemon/core/peer_rate_limits.h"

namespace qd {

PeerRateLimits::PeerRateLimits(std::int64_t maxRequests, std::int64_t windowMs, const Clock& clock)
    : limiter_(maxRequests, windowMs, clock),
      window_(std::chrono::milliseconds(windowMs)),
      clock_(clock),
      lastSweep_(clock.now()) {}

std::string PeerRateLimits::peerOf(const std::string& clientId, const std::optional<ClientProcessInfo>& info) {
  if (!info || !info->pid) return clientId;
  // A pid alone would hand a used-up budget to the next process that gets the same pid.
  if (info->startTime) return "process " + std::to_string(*info->pid) + " started " + std::to_string(*info->startTime);
  return "process " + std::to_string(*info->pid);
}

void PeerRateLimits::connectionOpened(const std::string& peer) {
  forgetPassedPeers();
  ++peers_[peer].connections;
}

void PeerRateLimits::connectionClosed(const std::string& peer) {
  if (auto it = peers_.find(peer); it != peers_.end() && it->second.connections > 0) {
    --it->second.connections;
    it->second.lastClosed = clock_.now();
  }
  forgetPassedPeers();
}

void PeerRateLimits::enforce(const std::string& peer) { limiter_.enforceRateLimit(peer); }

void PeerRateLimits::forgetPassedPeers() {
  const TimePoint now = clock_.now();
  if (now - lastSweep_ < sweepInterval) return;
  lastSweep_ = now;
  for (auto it = peers_.begin(); it != peers_.end();) {
    // A line counted at the moment of the last close still counts one window later.
    if (it->second.connections == 0 && now - it->second.lastClosed > window_) {
      limiter_.removeClient(it->first);
      it = peers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qd
