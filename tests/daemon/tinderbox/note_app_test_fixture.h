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

  NoteAppSettings settings() {
    NoteAppSettings s;
    s.subprocessTimeout = 15;
    s.exportsDir = exports_.path() / "exports";
    s.clipboardWait = std::chrono::milliseconds(400);
    s.clipboardPoll = std::chrono::milliseconds(20);
    s.afterNavigation = std::chrono::milliseconds(1);
    return s;
  }

  Json call(const std::string& operation, Json arguments) {
    std::optional<Json> result = runAwaitable(io_, operations_.perform(operation, std::move(arguments)));
    EXPECT_TRUE(result.has_value()) << operation;
    return result.value_or(Json());
  }
  std::string text(const std::string& operation, Json arguments) {
    return call(operation, std::move(arguments))["content"][0]["text"].get<std::string>();
  }
  // The description of the DaemonError the operation fails with, or "" when it succeeds.
  std::string failure(const std::string& operation, Json arguments) {
    try {
      call(operation, std::move(arguments));
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
