#include "daemon/cli/companion_app.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_dir.h"

namespace qd {
namespace {

TEST(CompanionApp, IsFoundBesideTheDaemonAndRunningMeansSomeProcessExecutesThatFile) {
  test::TempDir dir("companion");
  EXPECT_EQ(resolveCompanionAppPath(dir / "QuarvelDorarovDaemon"), std::nullopt);
  std::ofstream(dir / "QuarvelDorarov") << "#!/bin/sh\n";
  EXPECT_EQ(resolveCompanionAppPath(dir / "QuarvelDorarovDaemon"), dir / "QuarvelDorarov");
  EXPECT_FALSE(isCompanionAppRunning(dir / "QuarvelDorarov"));
  // This test program runs, so a process executes its file.
  EXPECT_TRUE(isCompanionAppRunning(std::filesystem::read_symlink("/proc/self/exe")));
}

}  // namespace
}  // namespace qd
