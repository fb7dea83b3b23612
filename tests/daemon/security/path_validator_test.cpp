#include "daemon/security/path_validator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "daemon/config/configuration.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using Kind = ValidationError::Kind;

// Runs the check and returns the kind it rejected with (none when accepted), checking
// that a rejection wrote exactly one Security warning and carries the value unchanged.
template <typename Check>
std::optional<Kind> rejection(Check check, std::string_view value, Json* metadata = nullptr) {
  test::StderrCapture capture;
  try {
    check();
  } catch (const ValidationError& e) {
    EXPECT_EQ(e.value(), value);
    const auto lines = capture.lines();
    EXPECT_EQ(lines.size(), 1u);
    if (!lines.empty()) {
      const Json line = Json::parse(lines[0]);
      EXPECT_EQ(line["level"], "WARN");
      EXPECT_EQ(line["component"], "Security");
      if (metadata) *metadata = line["metadata"];
    }
    return e.kind();
  }
  EXPECT_EQ(capture.text(), "");
  return std::nullopt;
}

const platform::Environment kEnv{{"HOME", "/home/u"}, {"TMPDIR", "/var/tmp/x/"}};

TEST(PathValidator, SocketPathMustLieInAnAllowedFolder) {
  const std::pair<const char*, std::optional<Kind>> cases[] = {
      {"/tmp/daemon.sock", std::nullopt},
      {"/tmp", std::nullopt},
      {"/tmp//a/./b.sock", std::nullopt},
      {"/var/tmp/x/daemon.sock", std::nullopt},
      {"/home/u/.local/share/QuarvelDorarov", std::nullopt},
      {"/home/u/.local/share/QuarvelDorarov/daemon.sock", std::nullopt},
      {"/home/u/.local/share/QuarvelDorarov/sub/", std::nullopt},
      {"tmp/daemon.sock", Kind::notAbsolutePath},
      {"", Kind::notAbsolutePath},
      {"/tmp/a/../b.sock", Kind::pathTraversal},
      {"/tmp/a..b.sock", Kind::pathTraversal},  // any "..", before standardizing
      {"/tmpx/daemon.sock", Kind::socketPathOutsideAllowedDirectory},
      {"/var/tmp/daemon.sock", Kind::socketPathOutsideAllowedDirectory},
      {"/home/u/.local/share/QuarvelDorarovX/d.sock", Kind::socketPathOutsideAllowedDirectory},
      {"/home/u/Library/Application Support/QuarvelDorarov/daemon.sock", Kind::socketPathOutsideAllowedDirectory},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(rejection([&] { PathValidator::validateSocketPath(path, kEnv); }, path), expected) << path;
  }

  Json metadata;
  rejection([&] { PathValidator::validateSocketPath("/etc/d.sock", kEnv); }, "/etc/d.sock", &metadata);
  EXPECT_EQ(metadata, Json({{"path", "/etc/d.sock"},
                            {"allowedDirs", "/var/tmp/x, /tmp, /home/u/.local/share/QuarvelDorarov"}}));
  try {
    PathValidator::validateSocketPath("/etc/d.sock", kEnv);
  } catch (const ValidationError& e) {
    EXPECT_EQ(e.description(), "Socket path must be within an allowed directory: /etc/d.sock");
  }
}

TEST(PathValidator, SocketFoldersFollowTheConfigurationAndIgnoreAnEmptyTmpdir) {
  const platform::Environment xdg{{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data"}, {"TMPDIR", ""}};
  const Configuration config(xdg);
  EXPECT_EQ(rejection([&] { PathValidator::validateSocketPath(config.socketPath(), xdg); }, config.socketPath()),
            std::nullopt);
  EXPECT_EQ(PathValidator::allowedSocketDirectories(xdg),
            (std::vector<std::string>{"/tmp", "/tmp", "/data/QuarvelDorarov"}));
  // An empty TMPDIR must not turn into a prefix of every path.
  EXPECT_EQ(rejection([&] { PathValidator::validateSocketPath("/etc/d.sock", xdg); }, "/etc/d.sock"),
            Kind::socketPathOutsideAllowedDirectory);
  EXPECT_EQ(PathValidator::allowedSocketDirectories(platform::Environment{{"HOME", "/h"}, {"TMPDIR", "rel"}})[0],
            "/tmp");
}

TEST(PathValidator, StandardizesLexically) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a//b/./c/", "/a/b/c"}, {"/a/b/../c", "/a/c"}, {"/..", "/"},          {"/../a", "/a"},
      {"/", "/"},               {"~", "/home/u"},      {"~/x/", "/home/u/x"}, {"~bob/x", "~bob/x"},
      {"a/./b/", "a/b"},        {"a/../b", "a/../b"},  {"", ""},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(PathValidator::standardizedPath(input, kEnv), expected) << input;
  }
  EXPECT_TRUE(PathValidator::isWithinDirectory("/tmp/a", "/tmp/", kEnv));
  EXPECT_TRUE(PathValidator::isWithinDirectory("/anything", "/", kEnv));
  EXPECT_FALSE(PathValidator::isWithinDirectory("/tmpx", "/tmp", kEnv));
}

TEST(PathValidator, TinderboxPathMustBeAnExistingFile) {
  test::TempDir temp("paths");
  const std::string executable = temp / "Tinderbox";
  std::ofstream(executable) << "#!/bin/sh\n";
  fs::create_directory(temp / "folder");

  const std::pair<std::string, std::optional<Kind>> cases[] = {
      {executable, std::nullopt},
      {temp / "./Tinderbox", std::nullopt},
      {temp / "folder", Kind::notAFile},
      {temp / "missing", Kind::pathDoesNotExist},
      {"Tinderbox", Kind::notAbsolutePath},
      {temp / "folder/../Tinderbox", Kind::pathTraversal},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(rejection([&] { PathValidator::validateTinderboxPath(path); }, path), expected) << path;
  }
}

TEST(PathValidator, DocumentPathNeedsTheExtensionAndMayBeMissing) {
  test::TempDir temp("paths");
  fs::create_directory(temp / "folder.tbx");
  const std::pair<std::string, std::optional<Kind>> cases[] = {
      {"/Users/x/notes.tbx", std::nullopt},
      {"/Users/x/notes.TBX", Kind::invalidExtension},
      {"/Users/x/my..notes.tbx", Kind::pathTraversal},
      {"notes.tbx", Kind::notAbsolutePath},
      {temp / "folder.tbx", Kind::notAFile},
      {temp / "folder.tbx/", Kind::invalidExtension},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(rejection([&] { PathValidator::validateDocumentPath(path); }, path), expected) << path;
  }
  try {
    PathValidator::validateDocumentPath("/Users/x/notes.TBX");
  } catch (const ValidationError& e) {
    EXPECT_EQ(e.description(), "Path must have .tbx extension: /Users/x/notes.TBX");
    EXPECT_EQ(e.expected(), ".tbx");
  }
}

TEST(PathValidator, AgentNames) {
  const std::string fifty(50, 'a');
  const std::string fiftyOne(51, 'b');
  for (const std::string& good : {std::string("a"), std::string("Agent_7-x"), fifty}) {
    EXPECT_EQ(rejection([&] { PathValidator::validateAgentName(good); }, good), std::nullopt) << good;
  }
  for (const std::string& bad : {std::string(""), fiftyOne, std::string("a b"), std::string("a\n"),
                                  std::string("caf\xc3\xa9")}) {
    EXPECT_EQ(rejection([&] { PathValidator::validateAgentName(bad); }, bad), Kind::invalidAgentName) << bad;
  }
  Json metadata;
  rejection([&] { PathValidator::validateAgentName(fiftyOne); }, fiftyOne, &metadata);
  EXPECT_EQ(metadata, Json({{"name", std::string(50, 'b')}}));
  try {
    PathValidator::validateAgentName("a b");
  } catch (const ValidationError& e) {
    EXPECT_EQ(e.description(), "Agent name must be alphanumeric, underscore, or hyphen (max 50 chars): a b");
  }
}

}  // namespace
}  // namespace qd
