#include "app/health_record.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "daemon/runtime/child_process.h"

namespace qd {
namespace {

TEST(HealthRecordTest, DecodesTheDaemonsRecordLeniently) {
  const std::string required =
      R"("daemonPid":42,"status":"degraded","lastUpdate":1700000000000,"uptime":5,"tinderboxRestarts":1,"connectedClients":2)";
  struct Case {
    std::string json;
    bool decodes;
  };
  const Case cases[] = {
      {"{" + required + "}", true},
      {"{" + required + R"(,"tinderboxPid":null,"tinderboxConnected":null})", true},
      {"{" + required + R"(,"tinderboxPid":7,"tinderboxConnected":true})", true},
      {R"({"daemonPid":42,"status":"degraded","lastUpdate":1,"uptime":5,"tinderboxRestarts":1})", false},
      {"{" + required + R"(,"tinderboxPid":"7"})", false},
      {"{" + required + R"(,"tinderboxConnected":1})", false},
      {R"({"daemonPid":42.0,"status":"healthy","lastUpdate":1,"uptime":5,"tinderboxRestarts":1,"connectedClients":2})", false},
      {R"({"daemonPid":true,"status":"healthy","lastUpdate":1,"uptime":5,"tinderboxRestarts":1,"connectedClients":2})", false},
      {R"({"daemonPid":1,"status":"sick","lastUpdate":1,"uptime":5,"tinderboxRestarts":1,"connectedClients":2})", false},
      {"[]", false},
  };
  for (const Case& c : cases) {
    const auto record = AppHealthData::fromJson(parseJson(c.json));
    EXPECT_EQ(record.has_value(), c.decodes) << c.json;
    if (record) {
      EXPECT_EQ(AppHealthData::fromJson(record->toJson()), record) << c.json;
    }
  }
  const auto record = AppHealthData::fromJson(parseJson("{" + required + "}"));
  EXPECT_EQ(record->status, HealthStatus::degraded);
  EXPECT_FALSE(record->toJson().contains("tinderboxPid"));
  EXPECT_FALSE(record->toJson().contains("tinderboxConnected"));
}

TEST(HealthRecordTest, OnlyARealProcessIdIsAlive) {
  auto exited = ChildProcess::spawn(spawnOptions("/bin/true"));
  const pid_t gone = exited->pid();
  exited->reap();
  const std::pair<std::int64_t, bool> cases[] = {
      {::getpid(), true},  {0, false}, {-1, false}, {-static_cast<std::int64_t>(::getpgrp()), false},
      {gone, false},       {INT64_C(1) << 32 | ::getpid(), false}, {INT64_MAX, false},
  };
  for (const auto& [pid, alive] : cases) EXPECT_EQ(isRecordedProcessAlive(pid), alive) << pid;
}

TEST(HealthRecordTest, FreshnessAndTheStartupState) {
  const std::int64_t now = 1700000000000;
  EXPECT_TRUE(isHealthRecordFresh(now - 15000, now));
  EXPECT_FALSE(isHealthRecordFresh(now - 15001, now));
  EXPECT_TRUE(isHealthRecordFresh(now + 60000, now));
  EXPECT_TRUE(isHealthRecordFresh(INT64_MAX, now));
  EXPECT_FALSE(isHealthRecordFresh(INT64_MIN, now));

  using std::chrono::milliseconds;
  struct Case {
    bool inProgress, alive, failed;
    milliseconds since;
    bool shown;
  };
  const Case cases[] = {
      {true, true, true, milliseconds(99999), true},   {false, true, false, milliseconds(0), false},
      {false, false, true, milliseconds(0), false},    {false, false, false, milliseconds(3999), true},
      {false, false, false, milliseconds(4000), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(shouldShowStartupState(c.inProgress, c.alive, c.failed, c.since), c.shown)
        << c.inProgress << c.alive << c.failed << c.since.count();
  }
}

}  // namespace
}  // namespace qd
