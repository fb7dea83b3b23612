#pragma once

#include <chrono>
#include <mutex>

namespace qd {

// The one clock seam. Durations and time-outs come from the steady clock, stamps from the
// wall clock; components take a Clock so tests can move time instead of sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::steady_clock::time_point now() const { return std::chrono::steady_clock::now(); }
  virtual std::chrono::system_clock::time_point wallNow() const { return std::chrono::system_clock::now(); }

  // The real clocks, shared by every component that is given no other.
  static const Clock& system() {
    static const Clock instance;
    return instance;
  }
};

// A clock that moves only when told to; both readings advance together.
class ManualClock final : public Clock {
 public:
  std::chrono::steady_clock::time_point now() const override {
    std::lock_guard lock(mutex_);
    return steady_;
  }
  std::chrono::system_clock::time_point wallNow() const override {
    std::lock_guard lock(mutex_);
    return wall_;
  }
  void advance(std::chrono::steady_clock::duration d) {
    std::lock_guard lock(mutex_);
    steady_ += d;
    wall_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(d);
  }

 private:
  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point steady_{std::chrono::hours(1)};
  std::chrono::system_clock::time_point wall_{std::chrono::system_clock::now()};
};

}  // namespace qd
