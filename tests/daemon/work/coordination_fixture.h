#pragma once

// The services a coordination handler is given, made for one test: a manual clock, a
// fresh tracker and notification queue, tool settings in a temporary folder, and the
// recording fake note app.

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/core/daemon_error.h"
#include "daemon/utilities/unix_time.h"
#include "daemon/work/work_tracker.h"
#include "support/fake_note_app.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd::test {

class CoordinationTest : public ::testing::Test {
 protected:
  template <class T>
  T run(asio::awaitable<T> task) {
    return runAwaitable(io, std::move(task));
  }

  // The text of a reply's one text item.
  static std::string replyText(const Json& reply) { return reply.at("content").at(0).at("text").get<std::string>(); }

  template <class T>
  std::string errorOf(asio::awaitable<T> task) {
    try {
      run(std::move(task));
    } catch (const Error& e) {
      return e.description();
    }
    return "<no error>";
  }

  void setSettings(void (*change)(ToolSettings&)) {
    ToolSettings settings = settingsStore.current();
    change(settings);
    settingsStore.save(settings);
  }

  std::int64_t nowMs() const { return unixMilliseconds(clock.wallNow()); }

  asio::io_context io;
  TempDir folder{"work"};
  ManualClock clock;
  WorkTracker tracker{clock};
  NotificationQueue queue{clock};
  ToolSettingsStore settingsStore{folder / "tool-settings.json"};
  FakeNoteApp app;
  NoteJournalState journal;
  JobRuntimeState jobRuntime;
  CoordinationContext context{tracker, queue, settingsStore, app, journal, clock, jobRuntime};
};

}  // namespace qd::test
