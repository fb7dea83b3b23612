#pragma once

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/daemon_error.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "support/recording_fakes.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd::test {

// The note-app operations with recording fakes of osascript, xdg-open, lpr and wl-paste
// first (and alone) on PATH.
class NoteAppFixture : public ::testing::Test {
 protected:
  NoteAppFixture() {
    for (const char* name : {"osascript", "xdg-open", "lpr", "wl-paste"}) fakes_.add(name);
  }

  // The clipboard wait stays the daemon's own (10 s): a capture that succeeds waits for
  // several runs of the fake wl-paste, which take longer on a busy machine. A test that
  // expects the wait to run out gives operations of its own a short one.
  NoteAppSettings settings() {
    NoteAppSettings s;
    s.subprocessTimeout = 15;
    s.exportsDir = exports_.path() / "exports";
    s.clipboardPoll = std::chrono::milliseconds(20);
    s.afterNavigation = std::chrono::milliseconds(1);
    return s;
  }

  // The operation's result, on `operations` when given, else on the fixture's own.
  Json call(const std::string& operation, Json arguments, NoteAppOperations* operations = nullptr) {
    NoteAppOperations& on = operations ? *operations : operations_;
    std::optional<Json> result = runAwaitable(io_, on.perform(operation, std::move(arguments)));
    EXPECT_TRUE(result.has_value()) << operation;
    return result.value_or(Json());
  }
  std::string text(const std::string& operation, Json arguments) {
    return call(operation, std::move(arguments))["content"][0]["text"].get<std::string>();
  }
  // The description of the DaemonError the operation fails with, or "" when it succeeds.
  std::string failure(const std::string& operation, Json arguments, NoteAppOperations* operations = nullptr) {
    try {
      call(operation, std::move(arguments), operations);
    } catch (const DaemonError& e) {
      return e.what();
    }
    return "";
  }

  RecordingFakes fakes_;
  TempDir exports_{"exports"};
  asio::io_context io_;
  NoteAppCommands commands_{io_.get_executor(), platform::Environment{{"PATH", fakes_.bin().string()}}};
  CommandClipboardImageReader clipboard_{commands_};
  NoteAppOperations operations_{commands_, clipboard_, settings()};
};

}  // namespace qd::test
