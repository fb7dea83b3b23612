#pragma once

// Pieces the settings model tests share, beside the application tests' own (the one
// QCoreApplication, processEventsUntil): a scripted admin call that records requests and
// can hold them on a latch, and a scheduler the test steps.

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/settings/admin_call.h"
#include "daemon/admin/daemon_admin_api.h"

namespace qd::test {

struct AdminRecord {
  std::string method;
  std::optional<Json> params;
};

// Answers each method from a function the test sets; records every request. `hold()`
// makes the next requests wait until `release()`.
class ScriptedAdmin {
 public:
  std::function<Json(const std::string& method, const std::optional<Json>& params)> answer =
      [](const std::string& method, const std::optional<Json>&) -> Json {
    if (method == "app_save_settings") return Json{{"saved", true}};
    throw DaemonAdminAPIError::connectionRejected("connect: No such file or directory",
                                                  DaemonAdminAPIError::Cause::connectFailed);
  };

  AdminCall call() {
    return [this](const std::string& method, const std::optional<Json>& params) {
      std::unique_lock lock(mutex_);
      records_.push_back({method, params});
      ++started_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !held_; });
      auto respond = answer;
      lock.unlock();
      return respond(method, params);
    };
  }

  void hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Waits (on the test thread, without the event loop) until n requests have started.
  void waitForStarted(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_ >= n; });
  }

  std::vector<AdminRecord> records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<AdminRecord> saves() {
    std::vector<AdminRecord> out;
    for (auto& r : records()) {
      if (r.method == "app_save_settings") out.push_back(r);
    }
    return out;
  }
  int count(const std::string& method) {
    int n = 0;
    for (auto& r : records()) n += r.method == method;
    return n;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<AdminRecord> records_;
  int started_ = 0;
  bool held_ = false;
};

// A scheduler the test steps by hand: blocks wait with their due time on a virtual clock.
class SteppedScheduler {
 public:
  std::function<void(std::chrono::milliseconds, std::function<void()>)> schedule() {
    return [this](std::chrono::milliseconds delay, std::function<void()> block) {
      pending_.push_back({now_ + delay, std::move(block)});
    };
  }
  // Moves the clock forward, running every block that falls due, in due order.
  void advance(std::chrono::milliseconds by) {
    const auto until = now_ + by;
    for (;;) {
      auto next = pending_.end();
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->due <= until && (next == pending_.end() || it->due < next->due)) next = it;
      }
      if (next == pending_.end()) break;
      now_ = next->due;
      auto block = std::move(next->block);
      pending_.erase(next);
      block();
    }
    now_ = until;
  }
  std::size_t pendingCount() const { return pending_.size(); }

 private:
  struct Entry {
    std::chrono::milliseconds due;
    std::function<void()> block;
  };
  std::chrono::milliseconds now_{0};
  std::deque<Entry> pending_;
};

}  // namespace qd::test
