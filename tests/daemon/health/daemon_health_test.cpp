#include "daemon/health/daemon_health.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "support/test_io.h"
#include "daemon/utilities/json_codec.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

asio::awaitable<void> pause(milliseconds d) {
  asio::steady_timer timer(co_await asio::this_coro::executor, d);
  co_await timer.async_wait(asio::use_awaitable);
}

class DaemonHealthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files = {root / "support" / "health.json", root / "support", root / "support" / "daemon.sock",
             root / "support" / "daemon.lock"};
  }

  std::shared_ptr<DaemonHealth> makeMonitor(milliseconds interval = milliseconds(5000)) {
    DaemonHealth::Callbacks callbacks{
        [this]() -> asio::awaitable<std::int64_t> { co_return clients; },
        [this]() -> asio::awaitable<HealthStatus> {
          ++statusCalls;
          if (statusDelay.count() > 0) co_await pause(statusDelay);
          co_return HealthStatus::degraded;
        },
        []() -> asio::awaitable<bool> { co_return true; },
    };
    return DaemonHealth::create(io.get_executor(), files, std::move(callbacks), clock, interval);
  }

  void writeHealthFile(const std::string& text) {
    fs::create_directories(files.appSupportDir);
    std::ofstream(files.healthFilePath) << text;
  }

  static std::string recordWithPid(std::int64_t pid) {
    HealthData data;
    data.daemonPid = pid;
    return dumpJson(data.toJson());
  }

  void makeSocketFile(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }

  HealthData readHealthFile() {
    std::ifstream in(files.healthFilePath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return HealthData::fromJson(parseJson(text));
  }

  asio::io_context io;
  ManualClock clock;
  test::TempDir temp{"health"};
  fs::path root = temp.path();
  DaemonHealth::Files files;
  std::int64_t clients = 3;
  int statusCalls = 0;
  milliseconds statusDelay{0};
};

TEST_F(DaemonHealthTest, NoHealthFileIsAFreshStart) {
  EXPECT_FALSE(makeMonitor()->checkStaleAndCleanup());
  EXPECT_TRUE(fs::is_directory(files.appSupportDir));
}

TEST_F(DaemonHealthTest, AnEarlierDaemonsFilesAreRemovedWhateverItsRecordSays) {
  // The daemon holds the instance lock when it asks, so no record proves another daemon
  // runs: not a live process under the recorded pid (after a reboot, someone else's), not
  // our own pid, not ids that name no single process, and not a record that cannot be read.
  Json noUptime = parseJson(recordWithPid(0x3fffffff));
  noUptime.erase("uptime");
  Json badStatus = parseJson(recordWithPid(0x3fffffff));
  badStatus["status"] = "ok";
  const std::string records[] = {recordWithPid(0x3fffffff), recordWithPid(::getppid()), recordWithPid(::getpid()),
                                 recordWithPid(0), recordWithPid(-1), recordWithPid(1LL << 40),
                                 "{not json", dumpJson(noUptime), dumpJson(badStatus)};
  for (const std::string& record : records) {
    writeHealthFile(record);
    makeSocketFile(files.socketPath);
    std::ofstream(files.lockFilePath) << "";
    EXPECT_TRUE(makeMonitor()->checkStaleAndCleanup()) << record;
    EXPECT_FALSE(fs::exists(files.socketPath)) << record;
    EXPECT_FALSE(fs::exists(files.lockFilePath)) << record;
    EXPECT_FALSE(fs::exists(files.healthFilePath)) << record;
  }
}

TEST_F(DaemonHealthTest, CleanupLeavesSomeonesRegularFileAtTheSocketPath) {
  writeHealthFile(recordWithPid(0x3fffffff));
  std::ofstream(files.socketPath) << "not a socket";
  EXPECT_TRUE(makeMonitor()->checkStaleAndCleanup());
  EXPECT_TRUE(fs::is_regular_file(files.socketPath));
  EXPECT_FALSE(fs::exists(files.healthFilePath));
}

TEST_F(DaemonHealthTest, RecordsWithoutTinderboxPidAreAccepted) {
  Json record = parseJson(recordWithPid(0x3fffffff));
  ASSERT_FALSE(record.contains("tinderboxPid"));
  writeHealthFile(dumpJson(record));
  EXPECT_TRUE(makeMonitor()->checkStaleAndCleanup());
}

TEST_F(DaemonHealthTest, MonitoringWritesSortedRecordsAndAFinalOne) {
  auto monitor = makeMonitor(milliseconds(10));
  monitor->incrementRestarts();
  monitor->startMonitoring();
  test::runAwaitable(io, pause(milliseconds(50)));
  EXPECT_GE(statusCalls, 2);  // the first write and at least one periodic one

  std::ifstream in(files.healthFilePath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> keys;
  const Json written = parseJson(text);
  for (auto it = written.begin(); it != written.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"connectedClients", "daemonPid", "lastUpdate", "status",
                                            "tinderboxConnected", "tinderboxRestarts", "uptime"}));
  struct stat info {};
  ASSERT_EQ(::stat(files.healthFilePath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(readHealthFile().connectedClients, 3);
  EXPECT_EQ(readHealthFile().status, HealthStatus::degraded);

  monitor->setTinderboxPid(4242);
  monitor->stopMonitoring();
  const HealthData final = readHealthFile();
  EXPECT_EQ(final.status, HealthStatus::unhealthy);
  EXPECT_EQ(final.connectedClients, 0);
  EXPECT_FALSE(final.tinderboxConnected);
  EXPECT_EQ(final.tinderboxPid, 4242);
  EXPECT_EQ(final.tinderboxRestarts, 1);
  const int callsAtStop = statusCalls;
  test::runAwaitable(io, pause(milliseconds(50)));
  EXPECT_EQ(statusCalls, callsAtStop);  // no more periodic writes
}

TEST_F(DaemonHealthTest, AWriteSuspendedInItsCallbacksNeverLandsAfterTheFinalRecord) {
  statusDelay = milliseconds(100);
  auto monitor = makeMonitor();
  monitor->checkStaleAndCleanup();  // as at daemon start: the folder exists from here on
  monitor->startMonitoring();
  test::runAwaitable(io, pause(milliseconds(20)));  // the first write now waits in its callback
  ASSERT_EQ(statusCalls, 1);
  monitor->stopMonitoring();
  test::runAwaitable(io, pause(milliseconds(200)));  // the callback returns meanwhile
  EXPECT_EQ(readHealthFile().status, HealthStatus::unhealthy);
}

TEST_F(DaemonHealthTest, UptimeAndLastUpdateFollowTheClock) {
  auto monitor = makeMonitor();
  const HealthData first = test::runAwaitable(io, monitor->getCurrentHealthData());
  clock.advance(std::chrono::seconds(2));
  const HealthData second = test::runAwaitable(io, monitor->getCurrentHealthData());
  EXPECT_EQ(second.uptime - first.uptime, 2);
  EXPECT_EQ(second.lastUpdate - first.lastUpdate, 2000);
  EXPECT_EQ(first.daemonPid, ::getpid());
  EXPECT_FALSE(first.tinderboxPid);
}

TEST(HealthData, RoundTripsAndFileFormIsSorted) {
  HealthData data{12, 34, HealthStatus::healthy, 1000, 5, 1, 2, true};
  EXPECT_EQ(HealthData::fromJson(data.toJson()), data);
  EXPECT_EQ(data.fileText().find("{\n  \"connectedClients\": 2"), 0u);
  EXPECT_THROW(HealthData::fromJson(parseJson(R"({"daemonPid":1})")), DecodingError);
}

}  // namespace
}  // namespace qd
