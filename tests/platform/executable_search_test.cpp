#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/executable_search.h"
#include "support/temp_dir.h"

namespace qd::platform {
namespace {

namespace fs = std::filesystem;

TEST(FindExecutableOnPath, FirstExecutableFileInAbsolutePathEntries) {
  const test::TempDir dir("path");
  for (const char* sub : {"a", "b", "c"}) fs::create_directories(dir / sub);
  std::ofstream(dir / "a/tool") << "not executable";
  fs::permissions(dir / "a/tool", fs::perms::owner_read);
  fs::create_directories(dir / "b/tool");  // a folder of that name
  std::ofstream(dir / "c/tool") << "#!/bin/sh\n";
  fs::permissions(dir / "c/tool", fs::perms::owner_all);
  const std::string path = (dir / "a").string() + "::relative:" + (dir / "b").string() + ":" + (dir / "c").string();
  const Environment env{{"PATH", path}};
  EXPECT_EQ(findExecutableOnPath("tool", env), dir / "c/tool");
  EXPECT_EQ(findExecutableOnPath("missing", env), std::nullopt);
  EXPECT_EQ(findExecutableOnPath("c/tool", Environment{{"PATH", dir.string()}}), std::nullopt);
  EXPECT_EQ(findExecutableOnPath("", env), std::nullopt);
  EXPECT_EQ(findExecutableOnPath("tool", Environment{}), std::nullopt);
}

}  // namespace
}  // namespace qd::platform
