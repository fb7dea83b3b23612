#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/providers/bookends_provider.h"
#include "daemon/providers/script_runner.h"
#include "daemon/runtime/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

// A fake osascript first on PATH: it records its arguments (NUL after each, a line feed
// after each run) and answers from scenario files: <kind>.out, <kind>.err, <kind>.status,
// where kind is "preflight" for the one-line permission check and "script" otherwise.
class FakeOsascript {
 public:
  FakeOsascript() {
    const auto bin = dir_ / "bin";
    std::filesystem::create_directories(bin);
    const std::string d = dir_.string();
    std::ofstream(bin / "osascript")
        << "#!/bin/sh\n"
        << "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> " << d << "/argv\n"
        << "printf '\\n' >> " << d << "/argv\n"
        << "case \"$2\" in *' to get name') kind=preflight ;; *) kind=script ;; esac\n"
        << "[ -f " << d << "/$kind.out ] && cat " << d << "/$kind.out\n"
        << "[ -f " << d << "/$kind.err ] && cat " << d << "/$kind.err >&2\n"
        << "[ -f " << d << "/$kind.status ] && exit $(cat " << d << "/$kind.status)\n"
        << "exit 0\n";
    std::filesystem::permissions(bin / "osascript", std::filesystem::perms::owner_all);
  }
  platform::Environment environment() const { return {{"PATH", (dir_ / "bin").string() + ":/usr/bin:/bin"}}; }
  void set(const std::string& file, const std::string& text) const { std::ofstream(dir_ / file) << text; }
  // Each run's arguments.
  std::vector<std::vector<std::string>> runs() const {
    std::ifstream in(dir_ / "argv");
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::vector<std::string>> out;
    std::vector<std::string> current;
    std::string text = all.str(), arg;
    for (char c : text) {
      if (c == '\0') {
        current.push_back(arg);
        arg.clear();
      } else if (c == '\n' && arg.empty()) {
        out.push_back(current);
        current.clear();
      } else {
        arg += c;
      }
    }
    return out;
  }

 private:
  test::TempDir dir_{"osascript"};
};

TEST(OsascriptRunner, RunsTheFakeFromPathWithEachLineAsOneArgument) {
  asio::io_context io;
  BlockingPool pool(2);
  FakeOsascript fake;
  fake.set("script.out", "  Library: My \"Refs\"\n");
  auto runner = std::make_shared<OsascriptRunner>(pool, fake.environment());
  BookendsProvider provider("bookends", FeatureTier::beta, runner);
  const auto reply = runAwaitable(io, provider.handle("bookends", "c", {{"operation", "library_info"}}));
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)["content"][0]["text"], "Library: My \"Refs\"");
  const auto runs = fake.runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], (std::vector<std::string>{"-e", "tell application \"Bookends\" to get name"}));
  EXPECT_EQ(runs[1], (std::vector<std::string>{"-e", "tell application \"Bookends\"", "-e",
                                               "set winName to name of front library window", "-e",
                                               "return \"Library: \" & winName", "-e", "end tell"}));
}

TEST(OsascriptRunner, ARefusedPreflightThrowsTheGuidanceAndRunsNoScript) {
  asio::io_context io;
  BlockingPool pool(2);
  FakeOsascript fake;
  fake.set("preflight.err", "execution error: Not authorized to send Apple events to Bookends. (-1743)\n");
  fake.set("preflight.status", "1");
  BookendsProvider provider("bookends", FeatureTier::beta, std::make_shared<OsascriptRunner>(pool, fake.environment()));
  try {
    runAwaitable(io, provider.handle("bookends", "c", {{"operation", "groups"}}));
    FAIL() << "no error";
  } catch (const ProviderError& e) {
    EXPECT_EQ(e.description(),
              "Bookends access is required for automation request to Bookends, but it is not granted.\n"
              "Please:\n"
              "1. Open System Settings > Privacy & Security > Automation\n"
              "2. Find your terminal/app in the list and enable 'Bookends'\n"
              "5. Restart your terminal/app and try again\n"
              "Details: execution error: Not authorized to send Apple events to Bookends. (-1743)");
  }
  EXPECT_EQ(fake.runs().size(), 1u);
}

TEST(OsascriptRunner, WithoutOsascriptOnPathTheGuidanceSaysTheProgramIsMissing) {
  asio::io_context io;
  BlockingPool pool(2);
  const test::TempDir empty("nopath");
  OsascriptRunner runner(pool, platform::Environment{{"PATH", empty.string()}});
  ScriptRun run{{"-e", "return 1"}, "lane", 15, "Domain", "AppleScript failed"};
  try {
    runAwaitable(io, runner.run(run));
    FAIL() << "no error";
  } catch (const ProcessRunnerError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.message(), "AppleScript failed: Could not start osascript: not found on PATH");
  }
  BookendsProvider provider("bookends", FeatureTier::beta,
                            std::make_shared<OsascriptRunner>(pool, platform::Environment{{"PATH", empty.string()}}));
  try {
    runAwaitable(io, provider.handle("bookends", "c", {{"operation", "help"}}));
    FAIL() << "no error";
  } catch (const ProviderError& e) {
    const std::string last = "\nDetails: Permission preflight failed: Could not start osascript: not found on PATH";
    EXPECT_EQ(e.description().substr(e.description().size() - last.size()), last) << e.description();
  }
}

}  // namespace
}  // namespace qd
