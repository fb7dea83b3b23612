#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include <asio/co_spawn.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/runtime/child_process.h"
#include "note_app_test_fixture.h"
#include "support/eventually.h"
#include "support/process_table.h"

namespace qd {
namespace {

using Lines = std::vector<std::string>;
const std::string tell = "tell application \"Tinderbox 11\"";

class NoteAppOperationsTest : public test::NoteAppFixture {};

TEST_F(NoteAppOperationsTest, RunnerReadsOutputErrorsAndExitStatus) {
  fakes_.answer("osascript", "out", "  line\n");
  std::vector<std::string> lines{"return 1"};
  EXPECT_EQ(test::runAwaitable(io_, commands_.runAppleScript(lines, 5)), "  line\n");  // unchanged
  fakes_.answer("osascript", "err", "execution error: nope (-1)");
  fakes_.answer("osascript", "status", "1");
  try {
    test::runAwaitable(io_, commands_.runAppleScript(lines, 5));
    ADD_FAILURE();
  } catch (const DaemonError& e) {
    EXPECT_EQ(e.payload(), "execution error: nope (-1)");
  }
  fakes_.clear("osascript", "err");
  fakes_.answer("osascript", "status", "3");
  EXPECT_EQ(failure("save_tinderbox_document", Json::object()), "AppleScript command failed: exit 3");
  // A chatty script (more than a pipe holds) is drained while it runs.
  fakes_.answer("osascript", "status", "0");
  const std::string chatty(200 * 1024, 'x');
  fakes_.answer("osascript", "out", chatty);
  EXPECT_EQ(test::runAwaitable(io_, commands_.runAppleScript(lines, 5)), chatty);
}

TEST_F(NoteAppOperationsTest, AScriptPastItsTimeOutIsKilledAndReaped) {
  // The script's sleep outlasts the wait for its end below: only the kill of its group ends it.
  fakes_.answer("osascript", "delay", "600");
  std::vector<std::string> lines{"delay 600"};
  const auto stat = [](pid_t pid) { return test::readProcFile("/proc/" + std::to_string(pid) + "/stat"); };
  const auto runs = [&](pid_t pid, const std::string& name) {  // not yet a zombie
    const std::string text = stat(pid);
    return text.find("(" + name + ") ") != std::string::npos && text.find("(" + name + ") Z") == std::string::npos;
  };
  // The run goes one io step at a time until the script is there. Its time-out is handled on
  // this thread, so it waits while the test waits for the script's sleep: a busy machine
  // cannot end the script before it has a child that only the group kill reaches.
  auto run = test::startAwaitable(io_, commands_.runAppleScript(lines, 1.5));
  pid_t script = 0;
  test::runUntil(io_, [&] {
    for (pid_t child : test::childrenOf(::getpid())) {
      if (runs(child, "osascript")) script = child;
    }
    return script != 0 || run->done;
  });
  ASSERT_NE(script, 0) << "the script never started";
  const auto sleeping = [&] {
    for (pid_t member : test::processesInGroup(script)) {
      if (runs(member, "sleep")) return true;
    }
    return false;
  };
  ASSERT_TRUE(test::eventually(sleeping)) << "the script never started its sleep";
  try {
    test::finishAwaitable(io_, run);
    ADD_FAILURE();
  } catch (const DaemonError& e) {
    EXPECT_EQ(e.payload(), "timed out after 1s");
  }
  // The script itself was reaped before the call returned.
  for (pid_t child : test::childrenOf(::getpid())) {
    EXPECT_EQ(stat(child).find("(osascript)"), std::string::npos) << stat(child);
  }
  // Its sleep was killed with its group. This program adopts orphans (other tests here kill
  // process groups), so the sleep waits here as a zombie until the run ends, once the kill
  // has taken effect: on a busy machine a moment after the call returned.
  std::string running;  // what /proc says of the children that still run
  std::vector<pid_t> left;
  const auto nothingRuns = [&] {
    running.clear();
    left.clear();
    for (pid_t child : test::childrenOf(::getpid())) {
      if (const std::string text = stat(child); text.find(") Z ") == std::string::npos) {
        running += text;
        left.push_back(child);
      }
    }
    return running.empty();
  };
  if (!test::eventually(nothingRuns)) {
    ADD_FAILURE() << "still running: " << running;
    for (pid_t child : left) ::kill(child, SIGKILL);  // so the run does not wait for them at its end
  }
}

TEST_F(NoteAppOperationsTest, CommandsNeverOverlapAndTheIoThreadKeepsRunning) {
  fakes_.answer("osascript", "delay", "0.3");
  fakes_.answer("lpr", "delay", "0.3");
  const auto file = exports_.path() / "page.txt";
  std::ofstream(file) << "x";
  bool tickedDuringRuns = false;
  int finished = 0;
  const auto done = [&finished](std::exception_ptr) { ++finished; };
  auto both = [&]() -> asio::awaitable<void> {
    std::vector<std::string> lines{"return 1"};
    std::vector<std::string> lpr{file.string()};
    auto executor = co_await asio::this_coro::executor;
    asio::co_spawn(executor, commands_.runAppleScript(lines, 5), [done](std::exception_ptr e, std::string) { done(e); });
    asio::co_spawn(executor, commands_.print(lpr, 5), done);
    asio::co_spawn(executor, commands_.runAppleScript(lines, 5), [done](std::exception_ptr e, std::string) { done(e); });
    // The io thread is free meanwhile: a timer fires while the first run is still going.
    asio::steady_timer timer(executor, std::chrono::milliseconds(1));
    co_await timer.async_wait(asio::use_awaitable);
    tickedDuringRuns = finished == 0;
    while (finished < 3) {
      timer.expires_after(std::chrono::milliseconds(20));
      co_await timer.async_wait(asio::use_awaitable);
    }
  };
  test::runAwaitable(io_, both());
  EXPECT_TRUE(tickedDuringRuns);
  EXPECT_EQ(fakes_.events(), (std::vector<std::string>{"begin osascript", "end osascript", "begin lpr", "end lpr",
                                                        "begin osascript", "end osascript"}));
}

TEST_F(NoteAppOperationsTest, MissingProgramsFailAsALaunchError) {
  NoteAppCommands bare(io_.get_executor(), platform::Environment{{"PATH", exports_.string()}});
  std::vector<std::string> lines{"return 1"};
  EXPECT_THROW(test::runAwaitable(io_, bare.runAppleScript(lines, 5)), ChildProcessError);
}

TEST_F(NoteAppOperationsTest, SendsTheDocumentScripts) {
  const std::string name = "My \"Big\" \\Doc";
  const std::string clause =
      "set d to first document whose (name is \"My \\\"Big\\\" \\\\Doc\" or name is \"My \\\"Big\\\" \\\\Doc.tbx\")";
  fakes_.answer("osascript", "out", "1|Main|My Doc.tbx|true|1\n");
  EXPECT_EQ(text("open_tinderbox_document", {{"filePath", "/tmp/x/../Notes.TBX"}}), "Opened document: /tmp/Notes.TBX");
  EXPECT_EQ(text("save_tinderbox_document", {{"document", " " + name + " "}}), "Saved document: " + name);
  EXPECT_EQ(text("save_tinderbox_document", Json::object()), "Saved document: front document");
  EXPECT_EQ(text("close_tinderbox_document", {{"document", name}, {"saving", "no"}}), "Closed document: " + name);
  EXPECT_EQ(text("close_tinderbox_document", {{"saving", "YES"}}), "Closed document: front document");
  EXPECT_EQ(text("close_tinderbox_document", {{"saving", " no"}}), "Closed document: front document");
  EXPECT_EQ(text("select_tinderbox_note", {{"document", name}, {"notePath", "A/B"}}), "Selected note: /A/B");
  EXPECT_EQ(text("list_tinderbox_windows", Json::object()), "1|Main|My Doc.tbx|true|1");
  EXPECT_EQ(text("list_tinderbox_windows", {{"document", "D"}}), "1|Main|My Doc.tbx|true|1");

  const auto scripts = fakes_.scripts();
  ASSERT_EQ(scripts.size(), 9u);
  EXPECT_EQ(scripts[0], (Lines{tell, "open POSIX file \"/tmp/Notes.TBX\"", "activate", "end tell"}));
  EXPECT_EQ(scripts[1], (Lines{tell, clause, "save d", "end tell"}));
  EXPECT_EQ(scripts[2], (Lines{tell, "save front document", "end tell"}));
  EXPECT_EQ(scripts[3], (Lines{tell, clause, "close d saving no", "end tell"}));
  EXPECT_EQ(scripts[4], (Lines{tell, "close front document saving ask", "end tell"}));
  EXPECT_EQ(scripts[5], (Lines{tell, "close front document saving ask", "end tell"}));
  EXPECT_EQ(scripts[6], (Lines{tell, "activate", clause,
                               "set selected note of d to (find note in d with path \"/A/B\")", "end tell"}));
  ASSERT_EQ(scripts[7].size(), 16u);
  EXPECT_EQ(scripts[7][7], "if true then");
  EXPECT_EQ(scripts[7][8],
            "set end of outLines to ((id of w as text) & \"|\" & (name of w as text) & \"|\" & dName & \"|\" & "
            "(visible of w as text) & \"|\" & (index of w as text))");
  EXPECT_EQ(scripts[8][7], "if dName is \"D\" or dName is \"D.tbx\" then");

  EXPECT_EQ(failure("open_tinderbox_document", {{"filePath", "/tmp/a.txt"}}),
            "Missing required parameter: filePath (.tbx)");
  EXPECT_EQ(failure("select_tinderbox_note", {{"notePath", "/A"}}), "Missing required parameter: document");
  EXPECT_EQ(failure("note_exists", {{"document", "D"}, {"notePath", ""}}), "Missing required parameter: notePath");
  EXPECT_EQ(fakes_.scripts().size(), 9u);
}

TEST_F(NoteAppOperationsTest, NoteExistsReadsTrueFalseAndAClosedDocument) {
  fakes_.answer("osascript", "out", " TRUE\n");
  EXPECT_EQ(text("note_exists", {{"document", "D"}, {"notePath", "A"}}), "true");
  EXPECT_EQ(fakes_.scripts()[0], (Lines{tell, "set d to first document whose (name is \"D\" or name is \"D.tbx\")",
                                        "set foundIt to exists (find note in d with path \"/A\")",
                                        "return foundIt as text", "end tell"}));
  fakes_.answer("osascript", "out", "maybe\n");
  EXPECT_EQ(text("note_exists", {{"document", "D"}, {"notePath", "A"}}), "false");
  fakes_.answer("osascript", "out", "");
  fakes_.answer("osascript", "err", "execution error: Invalid index. (-1719)");
  fakes_.answer("osascript", "status", "1");
  EXPECT_EQ(text("note_exists", {{"document", "D"}, {"notePath", "A"}}), "false");
  fakes_.answer("osascript", "err", "execution error: other (-1)");
  EXPECT_EQ(failure("note_exists", {{"document", "D"}, {"notePath", "A"}}),
            "AppleScript command failed: execution error: other (-1)");
}

TEST_F(NoteAppOperationsTest, DeletesNotesOneScriptEachAndRefusesUnsafePaths) {
  fakes_.answer("osascript", "out", "true\n");
  EXPECT_EQ(text("delete_note", {{"notePath", "/A;; ;B;"}}), "Deleted 2 notes: /A, /B");
  EXPECT_EQ(fakes_.scripts(), (std::vector<Lines>{
                                  {tell, "set d to front document", "set result to evaluate d with \"delete(\\\"/A\\\")\"",
                                   "return result", "end tell"},
                                  {tell, "set d to front document", "set result to evaluate d with \"delete(\\\"/B\\\")\"",
                                   "return result", "end tell"}}));
  EXPECT_EQ(failure("delete_note", {{"notePath", ";;"}}), "Missing required parameter: notePath");
  EXPECT_EQ(failure("delete_note", {{"notePath", "  "}}), "Missing required parameter: notePath");
  EXPECT_EQ(fakes_.scripts().size(), 2u);

  // The third run (the second path) answers false; the quoted path never reaches a script.
  fakes_.answer("osascript", "out", "false\n", 4);
  EXPECT_EQ(text("delete_note", {{"document", "D"}, {"notePath", "/X;/Y;/Z\")+delete(\"/All;/B\\\\C;/W"}}),
            "Deleted 2 of 5 notes. Failed: /Y, /Z\")+delete(\"/All, /B\\\\C");
  const auto scripts = fakes_.scripts();
  ASSERT_EQ(scripts.size(), 5u);
  EXPECT_EQ(scripts[2][1], "set d to first document whose (name is \"D\" or name is \"D.tbx\")");
  EXPECT_EQ(scripts[4][2], "set result to evaluate d with \"delete(\\\"/W\\\")\"");
  EXPECT_EQ(text("delete_note", {{"notePath", "/Q"}}), "Deleted 1 note: /Q");
}

TEST_F(NoteAppOperationsTest, ClicksMenusAndExplainsMissingPermission) {
  std::vector<std::string> none;
  const Json result = test::runAwaitable(
      io_, operations_.clickMenuItem(Json::object(), "View", "Map \"A\"", 0, std::nullopt, "Clicked"));
  EXPECT_EQ(result["content"][0]["text"], "Clicked");
  EXPECT_EQ(fakes_.scripts()[0],
            (Lines{"tell application \"Tinderbox 11\" to activate", "tell application \"System Events\"",
                   "tell process \"Tinderbox 11\"",
                   "click menu item \"Map \\\"A\\\"\" of menu \"View\" of menu bar item \"View\" of menu bar 1",
                   "return \"ok\"", "end tell", "end tell"}));
  EXPECT_TRUE(fakes_.runs("xdg-open").empty());
  fakes_.answer("osascript", "err", "System Events got an error: osascript is not allowed assistive access. (-1719)");
  fakes_.answer("osascript", "status", "1");
  EXPECT_EQ(failure("copy_tinderbox_view", {{"document", "D"}, {"path", "/A"}}),
            "AppleScript command failed: UI scripting permission is required for Tinderbox View menu actions. Grant "
            "Accessibility access to the host app running the daemon, then retry.");
  EXPECT_EQ(fakes_.runs("xdg-open"), (std::vector<Lines>{{"tinderbox://D/A?view=outline"}}));
  EXPECT_EQ(fakes_.scripts()[1][3], "delay 8.0");
}

// Without wl-copy the clipboard cannot be cleared, so a new image is told from the one that
// was there before by its content.
TEST_F(NoteAppOperationsTest, CapturesOnlyANewClipboardImageAndKeepsACopy) {
  const std::string oldImage = std::string("\x89PNG\r\n\x1a\n", 8) + "old";
  const std::string newImage = std::string("\x89PNG\r\n\x1a\n", 8) + "new\0\xff" + std::string(5000, 'n');
  fakes_.answer("wl-paste", "out", oldImage);
  // The old image stays however long the wait, so a short one shows that it is never taken.
  NoteAppSettings shortWait = settings();
  shortWait.clipboardWait = std::chrono::milliseconds(400);
  NoteAppOperations waitingBriefly(commands_, clipboard_, shortWait);
  EXPECT_EQ(failure("copy_tinderbox_view", Json::object(), &waitingBriefly),
            "AppleScript command failed: Tinderbox ran 'Copy View As Image', but no image appeared on the clipboard in "
            "time.");
  EXPECT_TRUE(fakes_.runs("xdg-open").empty());  // no arguments: no navigation

  // Before the copy: the old image; then text only (not PNG); then the new image.
  const int first = static_cast<int>(fakes_.runs("wl-paste").size()) + 1;
  fakes_.answer("wl-paste", "out", "plain text", first + 1);
  fakes_.answer("wl-paste", "out", newImage, first + 2);
  fakes_.answer("wl-paste", "out", newImage, first + 3);
  fakes_.answer("wl-paste", "out", newImage, first + 4);
  const Json result = call("copy_tinderbox_view", Json::object());
  EXPECT_EQ(result["content"][0]["type"], "image");
  EXPECT_EQ(result["content"][0]["mimeType"], "image/png");
  std::vector<std::filesystem::path> saved;
  for (const auto& entry : std::filesystem::directory_iterator(settings().exportsDir)) saved.push_back(entry.path());
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_TRUE(saved[0].filename().string().starts_with("tinderbox-view-"));
  std::ifstream in(saved[0], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, newImage);
  EXPECT_EQ(fakes_.runs("wl-paste")[0], (Lines{"--no-newline", "--type", "image/png"}));
  // The data is the saved bytes in Base64.
  EXPECT_EQ(result["content"][0]["data"].get<std::string>().size(), 4 * ((newImage.size() + 2) / 3));
}

TEST_F(NoteAppOperationsTest, CopiesOfAnUnchangedViewAreCapturedEachTime) {
  // A clipboard of one file: wl-copy --clear empties it, wl-paste prints it, and the note
  // app copies the same view into it at every click.
  const std::string clipboard = (fakes_.dir() / "clipboard").string();
  const std::string view = (fakes_.dir() / "view.png").string();
  const std::string clears = (fakes_.dir() / "clears").string();
  std::ofstream(view, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << "the view";
  const auto fake = [&](const std::string& name, const std::string& body) {
    std::ofstream(fakes_.bin() / name) << "#!/bin/sh\nPATH=/usr/bin:/bin\n" << body;
    ::chmod((fakes_.bin() / name).c_str(), 0755);
  };
  fake("wl-paste", "[ -f " + clipboard + " ] || exit 1\ncat " + clipboard + "\n");
  fake("wl-copy", "echo \"$*\" >> " + clears + "\n[ \"$1\" = --clear ] && rm -f " + clipboard + "\nexit 0\n");
  fake("osascript", "case \"$*\" in *'Copy View As Image'*) cp " + view + " " + clipboard + ";; esac\n");
  std::filesystem::copy_file(view, clipboard);  // copied once already, before the first call

  for (int i = 0; i < 2; ++i) EXPECT_EQ(call("copy_tinderbox_view", Json::object())["content"][0]["type"], "image") << i;
  std::ifstream in(clears);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "--clear\n--clear\n");
}

// A clipboard whose every read takes as long as it is allowed to, on a clock the reads move.
class SlowClipboard final : public ClipboardImageReader {
 public:
  explicit SlowClipboard(ManualClock& clock) : clock_(clock) {}
  asio::awaitable<std::optional<std::string>> readPNG(std::chrono::milliseconds limit) override {
    limits.push_back(limit);
    clock_.advance(limit);
    co_return std::nullopt;
  }
  asio::awaitable<bool> clearImage() override { co_return true; }

  std::vector<std::chrono::milliseconds> limits;

 private:
  ManualClock& clock_;
};

TEST_F(NoteAppOperationsTest, TheClipboardWaitNeverRunsPastItsDeadline) {
  ManualClock clock;
  SlowClipboard clipboard(clock);
  NoteAppSettings waitSeven = settings();
  waitSeven.clock = &clock;
  waitSeven.clipboardWait = std::chrono::seconds(7);
  waitSeven.clipboardPoll = std::chrono::milliseconds(1);
  NoteAppOperations operations(commands_, clipboard, waitSeven);
  EXPECT_THROW(test::runAwaitable(io_, operations.copyView(Json::object())), DaemonError);
  // A whole read while five seconds are left, then one of the two seconds that remain.
  EXPECT_EQ(clipboard.limits, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(5), std::chrono::seconds(2)}));
}

TEST_F(NoteAppOperationsTest, ExportsThenPrints) {
  const std::string exported = text("export_document", {{"document", "D"}});
  EXPECT_TRUE(std::filesystem::is_directory(settings().exportsDir));  // made before the script ran
  EXPECT_EQ(std::filesystem::path(exported).parent_path(), settings().exportsDir);
  EXPECT_EQ(std::filesystem::path(exported).filename().string().size(), 36u + 5u);
  EXPECT_EQ(fakes_.scripts()[0][2], "export d to POSIX file \"" + exported + "\"");

  const std::string note = text("export_note", {{"document", "D"}, {"notePath", " A/B "}, {"template", " /T \"x\" "},
                                                {"exportChildren", true}});
  EXPECT_EQ(fakes_.scripts()[1][2], "export find note in d with path \"/A/B\" using template \"/T \\\"x\\\"\" to POSIX file \"" +
                                        note + "\"");
  EXPECT_EQ(failure("export_note", {{"document", "D"}, {"notePath", "A"}, {"exportChildren", true}}),
            "Missing required parameter: template (required when exportChildren=true)");
  text("export_note", {{"document", "D"}, {"notePath", "A"}, {"exportChildren", "true"}});
  text("export_note", {{"document", "D"}, {"notePath", "/"}, {"exportChildren", true}, {"template", ""}});
  EXPECT_EQ(fakes_.scripts()[3][2].substr(0, 46), "export find note in d with path \"/\" to POSIX f");
  EXPECT_EQ(failure("export_note", {{"document", "D"}, {"notePath", " "}}), "Missing required parameter: notePath");
  EXPECT_EQ(failure("export_document", {{"document", ""}}), "Missing required parameter: document");

  // Without a file the print fails, and the export file's path is in the error's place.
  EXPECT_EQ(failure("print_note", {{"document", "D"}, {"notePath", "A"}}),
            "Invalid parameter: filePath: file not found or is a directory");
  // A note app that writes the export: the file named in the script's third line.
  const auto writer = fakes_.bin() / "osascript";
  std::ofstream(writer) << "#!/bin/sh\nPATH=/usr/bin:/bin\n"
                        << "touch \"$(printf '%s' \"$6\" | sed 's/.*to POSIX file \\\"\\(.*\\)\\\"$/\\1/')\"\n";
  ::chmod(writer.c_str(), 0755);
  const std::string printed =
      text("print_note", {{"document", "D"}, {"notePath", "A"}, {"printer", "Office"}, {"copies", 2}});
  const std::string prefix = "Printed note via exported temp file: ";
  ASSERT_TRUE(printed.starts_with(prefix));
  const std::string file = printed.substr(prefix.size());
  EXPECT_TRUE(std::filesystem::is_regular_file(file));  // it stays
  EXPECT_EQ(fakes_.runs("lpr"), (std::vector<Lines>{{"-P", "Office", "-#", "2", file}}));
}

TEST_F(NoteAppOperationsTest, PrintsFilesWithLpr) {
  const auto file = exports_.path() / "page.html";
  std::ofstream(file) << "<p>x</p>";
  EXPECT_EQ(text("print_document", {{"filePath", file.string()}, {"printer", "Office"}, {"copies", 3}}),
            "Sent to printer: " + file.string());
  EXPECT_EQ(text("print_document", {{"filePath", file.string()}, {"printer", ""}, {"copies", 0}}),
            "Sent to printer: " + file.string());
  text("print_document", {{"filePath", file.string()}, {"copies", -2}});
  text("print_document", {{"filePath", file.string()}, {"copies", 2.0}});
  EXPECT_EQ(fakes_.runs("lpr"), (std::vector<Lines>{{"-P", "Office", "-#", "3", file.string()},
                                                     {file.string()},
                                                     {file.string()},
                                                     {file.string()}}));
  EXPECT_EQ(failure("print_document", {{"filePath", exports_.string()}}),
            "Invalid parameter: filePath: file not found or is a directory");
  EXPECT_EQ(failure("print_document", Json::object()), "Missing required parameter: filePath");
  EXPECT_EQ(fakes_.runs("lpr").size(), 4u);
  fakes_.answer("lpr", "err", "lpr: no such printer\n");
  fakes_.answer("lpr", "status", "1");
  EXPECT_EQ(failure("print_document", {{"filePath", file.string()}}), "AppleScript command failed: lpr: no such printer\n");
  fakes_.clear("lpr", "err");
  EXPECT_EQ(failure("print_document", {{"filePath", file.string()}}), "AppleScript command failed: lpr failed with exit 1");
}

}  // namespace
}  // namespace qd
