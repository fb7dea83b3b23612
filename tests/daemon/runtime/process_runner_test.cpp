#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "daemon/runtime/process_runner.h"
#include "support/process_table.h"
#include "daemon/runtime/text_trim.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace std::chrono_literals;

std::string sh(const std::string& script, double timeout = 60, const std::string& lane = "test") {
  return ProcessRunner::run("/bin/sh", {"-c", script}, lane, timeout, "TestDomain", "Script failed");
}

ProcessRunnerError shError(const std::string& script, double timeout = 60) {
  try {
    sh(script, timeout);
  } catch (const ProcessRunnerError& e) {
    return e;
  }
  ADD_FAILURE() << "no error for " << script;
  return ProcessRunnerError("", 0, "");
}

TEST(ProcessRunner, ReturnsTrimmedStandardOutput) {
  EXPECT_EQ(sh("echo word"), "word");
  EXPECT_EQ(sh("printf '\\n\\t  two words \\r\\n\\n'"), "two words");
  EXPECT_EQ(sh("printf '\\377\\376'"), "");  // not UTF-8
  // Several megabytes, far more than a pipe holds, come back whole.
  EXPECT_EQ(sh("head -c 5000000 /dev/zero | tr '\\0' x").size(), 5000000u);
}

TEST(ProcessRunner, FailuresCarryDomainCodeAndMessage) {
  struct Case {
    const char* script;
    std::int64_t code;
    const char* message;
  } cases[] = {
      {"echo '  bad thing  ' >&2; exit 3", 3, "bad thing"},
      {"exit 3", 3, "Script failed"},
      {"echo nope >&2; exit 1", 1, "nope"},
  };
  for (const auto& c : cases) {
    const auto e = shError(c.script);
    EXPECT_EQ(e.domain(), "TestDomain");
    EXPECT_EQ(e.code(), c.code) << c.script;
    EXPECT_EQ(e.message(), c.message) << c.script;
  }
  EXPECT_EQ(shError("exit 3").description(), "Error Domain=TestDomain Code=3 \"Script failed\"");
}

TEST(ProcessRunner, AProgramThatCannotBeLaunchedIsCodeOne) {
  try {
    ProcessRunner::run("/nonexistent/osascript", {}, "test", 5, "TestDomain", "AppleScript failed");
    FAIL();
  } catch (const ProcessRunnerError& e) {
    EXPECT_EQ(e.code(), 1);
    EXPECT_EQ(e.message().rfind("AppleScript failed: ", 0), 0u) << e.message();
  }
}

pid_t readGroup(const std::string& groupFile) {
  std::ifstream in(groupFile);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

TEST(ProcessRunner, ATimeOutKillsTheGroupAndFreesTheLane) {
  // run() starts a child's time-out as it starts the child, so a script cannot be waited for
  // before it: what it must do first (ignore SIGTERM, start the member that holds the output
  // pipe) gets seconds, and the script writes its group only once that is done. A group file
  // that is not there fails the test rather than leave it nothing to look at.
  const test::TempDir dir("runner");
  const std::string groupFile = (dir / "group").string();
  // The child ignores SIGTERM; its grandchild holds the output pipe open.
  auto e = shError("trap '' TERM; sleep 1000 & echo $$ > " + groupFile + "; sleep 1000", 2.5);
  EXPECT_EQ(e.code(), 2);
  EXPECT_EQ(e.message(), "Script failed: timed out after 2s");
  EXPECT_NE(e.description().find("timed out"), std::string::npos);
  pid_t group = readGroup(groupFile);
  ASSERT_GT(group, 0) << "the script was stopped before it was ready";
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
  // The child obeys SIGTERM at once, a member of its group does not (and writes the group,
  // its parent's $$, once it ignores SIGTERM).
  std::filesystem::remove(groupFile);
  e = shError("(trap '' TERM; echo $$ > " + groupFile + "; exec sleep 1000) & exec sleep 1000", 1.5);
  EXPECT_EQ(e.message(), "Script failed: timed out after 1s");
  group = readGroup(groupFile);
  ASSERT_GT(group, 0) << "the script was stopped before it was ready";
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
  // A time-out under a second; the script needs nothing done before it.
  EXPECT_EQ(shError("exec sleep 1000", 0.3).message(), "Script failed: timed out after 0s");
  EXPECT_EQ(sh("echo free"), "free");
}

// Runs `script` on `lane` in a thread of its own. An exception must not leave a std::thread
// (that ends the program), so what went wrong is kept in `failure` for the test to report.
std::thread shInThread(const std::string& script, const std::string& lane, std::string& failure) {
  return std::thread([script, lane, &failure] {
    try {
      sh(script, 60, lane);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  });
}

TEST(ProcessRunner, OneRunAtATimePerLaneAndLanesSideBySide) {
  // Each run appends its start and end to a shared file; overlap shows in the order.
  const test::TempDir dir("lanes");
  const std::string log = (dir / "log").string();
  std::string failures[4];
  const auto runner = [&](const std::string& lane, const std::string& name, std::string& failure) {
    return shInThread("echo " + name + "-start >> " + log + "; sleep 0.3; echo " + name + "-end >> " + log, lane,
                      failure);
  };
  auto read = [&] {
    std::string text, line;
    FILE* f = std::fopen(log.c_str(), "r");
    char buffer[4096];
    while (f && std::fgets(buffer, sizeof buffer, f)) text += buffer;
    if (f) std::fclose(f);
    std::remove(log.c_str());
    return text;
  };

  auto a = runner("same", "a", failures[0]), b = runner("same", "b", failures[1]);
  a.join();
  b.join();
  const std::string serial = read();
  EXPECT_TRUE(serial == "a-start\na-end\nb-start\nb-end\n" || serial == "b-start\nb-end\na-start\na-end\n") << serial;

  // Side by side, each run waits for the other to start, however late a busy machine starts
  // the second. Lanes that held each other up would have the first give up after 30 s.
  const auto meeting = [&](const std::string& name, const std::string& other, std::string& failure) {
    const std::string started = (dir / (name + ".started")).string(), awaited = (dir / (other + ".started")).string();
    return shInThread("echo " + name + "-start >> " + log + "; touch " + started +
                          "; giveUp=$(( $(date +%s) + 30 )); until [ -e " + awaited + " ]; do" +
                          " if [ $(date +%s) -ge $giveUp ]; then echo '" + other + " never started' >&2; exit 3; fi;" +
                          " sleep 0.01; done; echo " + name + "-end >> " + log,
                      "lane-" + name, failure);
  };
  auto c = meeting("c", "d", failures[2]), d = meeting("d", "c", failures[3]);
  c.join();
  d.join();
  const std::string parallel = read();
  // Both started before either ended.
  EXPECT_LT(std::max(parallel.find("c-start"), parallel.find("d-start")),
            std::min(parallel.find("c-end"), parallel.find("d-end")))
      << parallel;
  for (const std::string& failure : failures) EXPECT_EQ(failure, "");
}

TEST(TrimWhitespaceAndNewlines, RemovesAsciiAndUnicodeSpaceAtBothEnds) {
  EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n x y \n"), "x y");
  EXPECT_EQ(trimWhitespaceAndNewlines("\u00a0\u3000word\u2028\u0085"), "word");
  EXPECT_EQ(trimWhitespaceAndNewlines("é"), "é");
  EXPECT_EQ(trimWhitespaceAndNewlines("   "), "");
  // Every White_Space character goes; invisible characters that are not white space stay.
  for (const char* space : {"\t", "\n", "\v", "\f", "\r", " ", "\u0085", "\u00a0", "\u1680", "\u2000", "\u2005",
                            "\u200a", "\u2028", "\u2029", "\u202f", "\u205f", "\u3000"}) {
    EXPECT_EQ(trimWhitespaceAndNewlines(std::string(space) + "op" + space), "op") << space;
  }
  for (const char* kept : {"\u200b", "\ufeff", "\u180e", "\u2060"}) {
    EXPECT_EQ(trimWhitespaceAndNewlines(std::string(kept) + "op" + kept), std::string(kept) + "op" + kept) << kept;
  }
  // An ill-formed sequence is not white space, whatever bytes follow it.
  EXPECT_EQ(trimWhitespaceAndNewlines("\xe2\x80 op \xc2"), "\xe2\x80 op \xc2");
}

}  // namespace
}  // namespace qd
