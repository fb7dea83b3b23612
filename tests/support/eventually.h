#pragma once

// Waits for an outcome that another process or thread brings about, such as the end of a
// killed process: on an idle machine it comes at once, on a busy one later, so a test
// polls for it up to a generous deadline instead of looking once.

#include <chrono>
#include <thread>

namespace qd::test {

// Polls `condition` every 20 ms until it holds (true) or `limit` has passed (false).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace qd::test
