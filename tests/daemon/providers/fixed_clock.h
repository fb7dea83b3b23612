#pragma once

#include <chrono>

#include "daemon/utilities/clock.h"

namespace qd::test {

// A wall clock stopped at one moment, given in seconds since 1970.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::int64_t secondsSince1970) : wall_(std::chrono::seconds(secondsSince1970)) {}
  std::chrono::system_clock::time_point wallNow() const override { return wall_; }
  void set(std::int64_t secondsSince1970) { wall_ = std::chrono::system_clock::time_point(std::chrono::seconds(secondsSince1970)); }

 private:
  std::chrono::system_clock::time_point wall_;
};

}  // namespace qd::test
