// The daemon program's life with a note app to supervise (the fixture server) and jobs
// switched on: what health.json says of the note app, and a SIGHUP, which ends the daemon
// as SIGTERM does, leaving no runtime file and no child behind. Tier beta.

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>

#include "socket_session.h"
#include "support/process_table.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class DaemonLifecycleEndToEnd : public test::SocketSession {
 protected:
  void SetUp() override {
    test::adoptOrphans();  // a child that outlived the daemon would come to us
    startDaemon("beta", Json{{"helperToolEnabled", {{"jobs", true}}}},
                {{"TINDERBOX_DISABLE", "0"}, {"TINDERBOX_MCP_PATH", QD_FIXTURE_SERVER}});
    client_ = connect();
  }

  fs::path healthFile() const { return daemon_->configuration().healthFilePath(); }
  fs::path pidFile() const { return daemon_->configuration().pidFilePath(); }

  // health.json once `done` holds for it (up to 60 s); the daemon rewrites it every few seconds.
  Json healthOnce(const std::function<bool(const Json&)>& done) {
    Json record;
    const auto there = [&] {
      try {
        record = parseJson(test::DaemonProcess::readFile(healthFile()));
        return done(record);
      } catch (const std::exception&) {
        return false;  // not written yet
      }
    };
    if (!test::eventually(there)) {
      ADD_FAILURE() << "health.json never got there: " << record << "; daemon stderr: " << daemon_->stderrText();
    }
    return record;
  }

  // The pid in the note app's pid file, 0 while there is none.
  pid_t pidFilePid() const {
    const std::string text = test::DaemonProcess::readFile(pidFile());
    return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
  }

  // The note app's pid, once the daemon has started it and written its pid file.
  pid_t noteAppPid() {
    pid_t pid = 0;
    if (!test::eventually([&] { return (pid = pidFilePid()) != 0; })) {
      ADD_FAILURE() << "the note app never started; daemon stderr: " << daemon_->stderrText();
    }
    return pid;
  }

  std::unique_ptr<test::SocketLineClient> client_;
};

TEST_F(DaemonLifecycleEndToEnd, HealthFileNamesTheNoteAppAndCountsItsRestarts) {
  // Each wait is for the whole state, never a look at the first record that names a pid: a
  // restart that is not counted, a first start counted as one, or a pid that is not updated
  // never gets there.
  const pid_t first = noteAppPid();
  ASSERT_NE(first, 0);
  healthOnce([&](const Json& r) {
    return r.value("tinderboxPid", 0) == first && r.value("tinderboxRestarts", -1) == 0;
  });

  const std::string reply = text(call(*client_, "tbx_doc_restart_tinderbox", {{"reason", "test"}}));
  EXPECT_NE(reply.find("restarted"), std::string::npos) << reply;
  // The reply comes once the new child runs and its pid file is written.
  const pid_t second = pidFilePid();
  EXPECT_NE(second, first);
  ASSERT_NE(second, 0);
  healthOnce([&](const Json& r) {
    return r.value("tinderboxPid", 0) == second && r.value("tinderboxRestarts", -1) == 1;
  });
}

TEST_F(DaemonLifecycleEndToEnd, SighupStopsTheDaemonLikeSigtermAndLeavesNoChild) {
  const pid_t noteApp = noteAppPid();
  const std::string queued =
      text(call(*client_, "jobs", {{"operation", "enqueue"}, {"command", "/bin/sleep"}, {"arguments", {"600"}}}));
  ASSERT_TRUE(queued.starts_with("Job queued: ")) << queued;
  // Each child leads its own process group; the job's is the child that is not the note app.
  pid_t jobGroup = 0;
  for (int attempt = 0; attempt < 3000 && jobGroup == 0; ++attempt) {
    for (pid_t pid : test::childrenOf(daemon_->pid())) {
      if (pid != noteApp) jobGroup = pid;
    }
    if (jobGroup == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(jobGroup, 0) << "the job never started";

  daemon_->signal(SIGHUP);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
  const fs::path socket = daemon_->socketPath();
  for (const fs::path& left : {socket, socket.parent_path() / "admin.sock", pidFile()}) {
    EXPECT_FALSE(fs::exists(left)) << left;
  }
  EXPECT_EQ(parseJson(test::DaemonProcess::readFile(healthFile()))["status"], "unhealthy");
  for (pid_t group : {noteApp, jobGroup}) {
    if (test::groupEmptiesWithin(group, std::chrono::seconds(30))) continue;
    ADD_FAILURE() << "process group " << group << " outlived the daemon";
    ::kill(-group, SIGKILL);
  }
}

}  // namespace
}  // namespace qd
