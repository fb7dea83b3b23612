#include "daemon/router/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "daemon/health/health_data.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

TEST(InstanceLock, FindsTheHolderOfTheFoldersFlockInProcLocks) {
  const dev_t device = makedev(0x08, 0x01);
  const std::string locks =
      "1: POSIX  ADVISORY  WRITE 100 08:01:42 0 EOF\n"
      "2: FLOCK  ADVISORY  WRITE 200 08:02:42 0 EOF\n"
      "3: FLOCK  ADVISORY  WRITE 300 08:01:42 0 EOF\n"
      "3: -> FLOCK  ADVISORY  WRITE 400 08:01:42 0 EOF\n";
  EXPECT_EQ(InstanceLock::flockHolder(locks, device, 42), 300);
  EXPECT_EQ(InstanceLock::flockHolder(locks, device, 43), std::nullopt);
  EXPECT_EQ(InstanceLock::flockHolder("garbage\n\n", device, 42), std::nullopt);
}

TEST(InstanceLock, ASecondHolderIsRefusedWithTheFirstsPid) {
  test::TempDir dir("lock");
  const auto folder = dir / "app";
  InstanceLock first;
  first.acquire(folder, folder / "health.json");
  ASSERT_TRUE(first.isHeld());
  InstanceLock second;
  try {
    second.acquire(folder, folder / "health.json", std::chrono::milliseconds(0));
    FAIL() << "a second lock was granted";
  } catch (const HealthError& error) {
    EXPECT_EQ(error.description(), "Daemon already running with PID " + std::to_string(::getpid()) +
                                       ". Stop it first or remove stale files at " + folder.string());
  }
  EXPECT_FALSE(second.isHeld());
  first.release();
  second.acquire(folder, folder / "health.json");
  EXPECT_TRUE(second.isHeld());
}

}  // namespace
}  // namespace qd
