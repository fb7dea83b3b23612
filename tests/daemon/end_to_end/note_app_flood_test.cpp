// A note app that floods its standard output without a line end, against the real daemon
// program: the daemon stops it once the line is over its limit, keeps answering meanwhile
// with its memory near that limit, and its health loop starts the note app again.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "socket_session.h"
#include "support/process_table.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

class NoteAppFloodEndToEnd : public test::SocketSession {};

TEST_F(NoteAppFloodEndToEnd, AFloodingNoteAppIsStoppedWhileTheDaemonAnswersAndIsStartedAgain) {
  // Until the file "calm" exists, each run waits for the file "go", writes 512 MiB without a
  // line end and waits; then runs are the fixture server in note-app mode. A run that the
  // start limit ends before it floods (a busy machine may take that long to reach "go") is
  // followed by one that floods in its turn.
  //
  // The flood's first part is the line bound (64 MiB) and 1 MiB more; only once the daemon
  // has taken it (all but what the pipe holds) does the run write the file "passed" and go
  // on. The test needs no more than that first part: a daemon that keeps to the bound stops
  // the run inside it, having read the bound and one read more, well within the start limit
  // also on a busy machine; one that reads on has let the line go about 1 MiB past the bound,
  // however fast or slowly the machine reads, and whether or not the start limit ends the run.
  const std::filesystem::path noteApp = home_.path() / "note-app";
  const long lineBound = 64L << 20;
  std::ofstream(noteApp) << "#!/bin/sh\n"
                            "here=\"$(dirname \"$0\")\"\n"
                            "if [ ! -e \"$here/calm\" ]; then\n"
                            "  while [ ! -e \"$here/go\" ]; do sleep 0.05; done\n"
                            "  head -c " << lineBound + (1 << 20) << " /dev/zero\n"
                            "  : > \"$here/passed\"\n"
                            "  head -c " << (512L << 20) - lineBound - (1 << 20) << " /dev/zero\n"
                            "  exec sleep 600\n"
                            "fi\n"
                            "exec " QD_FIXTURE_SERVER " --note-app\n";
  std::filesystem::permissions(noteApp, std::filesystem::perms::owner_all);
  // The calls below poll for minutes at the most, more than the default rate limit allows.
  // Under the address sanitizer, freed buffers wait in its quarantine (256 MB) instead of
  // being reused; without it the peak below shows what the daemon itself holds, also when
  // a busy machine has the note app flood more than once.
  startDaemon("dev", Json::object(),
              {{"TINDERBOX_DISABLE", "0"},
               {"TINDERBOX_MCP_PATH", noteApp.string()},
               {"TINDERBOX_RATE_LIMIT_REQUESTS", "10000"},
               {"ASAN_OPTIONS", test::sanitizerOptionsWithoutQuarantine()}});
  auto client = connect();
  ASSERT_TRUE(call(*client, "health_check").contains("content"));
  const long peakBeforeKiB = test::memoryKiB(daemon_->pid(), "VmHWM");
  ASSERT_GT(peakBeforeKiB, 0);
  std::ofstream(home_.path() / "go") << "";

  // The note app is started within its start limit, which it floods: every health_check
  // meanwhile is answered, each with the generous time-out of the line client (60 s).
  const auto stopped = [&] {
    return daemon_->stderrText().find("Process output line too long, stopping the process") != std::string::npos;
  };
  // Stopped at all, it is stopped within the start limit (12 s); a deadline well inside the
  // test's own time-out lets a failure say why.
  const auto floodDeadline = std::chrono::steady_clock::now() + 120s;
  for (int answered = 0; answered < 20 || !stopped(); ++answered) {
    ASSERT_LT(std::chrono::steady_clock::now(), floodDeadline)
        << "the flooding note app was never stopped; daemon stderr: " << daemon_->stderrText();
    const Json health = call(*client, "health_check");
    ASSERT_TRUE(health.contains("content")) << dumpJson(health);
    std::this_thread::sleep_for(10ms);
  }
  // It was stopped for its line before the line was 1 MiB past the bound. (A daemon that
  // stops at the bound never takes the whole first part, so "passed" cannot come later.)
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "passed"))
      << "the daemon read on about 1 MiB past the line bound without stopping the note app";
  // What the flood added to the daemon's peak is the line buffer, within the 64 MiB limit,
  // and (under the sanitizers) the buffers it outgrew: under half the 512 MiB written.
  const long addedKiB = test::memoryKiB(daemon_->pid(), "VmHWM") - peakBeforeKiB;
  EXPECT_LT(addedKiB, 256 * 1024) << "added to the peak, KiB";

  // The health loop finds the note app ended and starts it again: its tools answer.
  std::ofstream(home_.path() / "calm") << "";
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (text(call(*client, "echo", {{"text", "back"}})) != "back") {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no new note app; daemon stderr: " << daemon_->stderrText();
    std::this_thread::sleep_for(50ms);
  }
}

}  // namespace
}  // namespace qd
