// The note-app operations through the real daemon program, with recording fakes of
// osascript, xdg-open and lpr first on its PATH; and the same daemon without them, where
// every scripted operation answers at once with the launch error.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "socket_session.h"
#include "support/recording_fakes.h"

namespace qd {
namespace {

class NoteAppOperationsEndToEnd : public test::SocketSession {
 protected:
  void start(const std::string& path, std::map<std::string, std::string> environment = {}) {
    environment["PATH"] = path;
    startDaemon("dev", Json{{"helperToolEnabled", {{"print_document", true}, {"tbx_export", true}}}},
                std::move(environment));
  }
  // The fixture server as the note app: once it is connected the catalog offers each
  // grouped tool's operations under their own names.
  void startWithNoteApp(const std::string& path) {
    start(path, {{"TINDERBOX_DISABLE", "0"}, {"TINDERBOX_MCP_PATH", QD_FIXTURE_SERVER}, {"QD_FIXTURE_NOTE_APP", "1"}});
  }
  bool lists(test::SocketLineClient& client, const std::string& name) {
    const Json request{{"method", "list_tools"}, {"_requestId", ++requestId_}};
    const std::optional<std::string> reply = client.request(dumpJson(request));
    if (!reply) return false;
    for (const Json& tool : parseJson(*reply).value("tools", Json::array())) {
      if (tool.value("name", "") == name) return true;
    }
    return false;
  }
  test::RecordingFakes fakes_;
};

// print_document is the daemon's own helper tool, offered without a note app.
TEST_F(NoteAppOperationsEndToEnd, PrintDocumentReachesLpr) {
  fakes_.add("lpr");
  start(fakes_.bin().string() + ":/usr/bin:/bin");
  auto client = connect();
  const auto file = home_.path() / "page.txt";
  std::ofstream(file) << "x";
  EXPECT_EQ(text(call(*client, "print_document", {{"filePath", file.string()}, {"copies", 2}})),
            "Sent to printer: " + file.string());
  EXPECT_EQ(fakes_.runs("lpr"), (std::vector<std::vector<std::string>>{{"-#", "2", file.string()}}));
  EXPECT_EQ(error(call(*client, "print_document", {{"filePath", home_.string()}})),
            "Invalid parameter: filePath: file not found or is a directory");
}

TEST_F(NoteAppOperationsEndToEnd, WithoutLprPrintingFailsPromptlyWithTheLaunchError) {
  start("/nonexistent");
  auto client = connect();
  const auto file = home_.path() / "page.txt";
  std::ofstream(file) << "x";
  EXPECT_EQ(error(call(*client, "print_document", {{"filePath", file.string()}})), "Could not start lpr: not found on PATH");
}

// The note app's server dies in the middle of a call: the answer names the operation and
// what went wrong, and the daemon logs both.
TEST_F(NoteAppOperationsEndToEnd, ACallTheNoteAppsServerDropsNamesTheOperation) {
  startWithNoteApp("/usr/bin:/bin");
  auto client = connect();
  for (int attempt = 0; attempt < 3000 && !lists(*client, "crash"); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(lists(*client, "crash")) << daemon_->stderrText();
  EXPECT_EQ(error(call(*client, "crash")), "Operation 'crash' failed: Connection closed");
  // The warning is written before the answer.
  std::optional<Json> logged;
  std::istringstream lines(daemon_->stderrText());
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"Tinderbox call failed\"") != std::string::npos) logged = parseJson(line);
  }
  ASSERT_TRUE(logged) << daemon_->stderrText();
  EXPECT_EQ((*logged)["level"], "WARN");
  EXPECT_EQ((*logged)["metadata"]["operation"], "crash");
  EXPECT_EQ((*logged)["metadata"]["detail"], "Connection closed");
}

TEST_F(NoteAppOperationsEndToEnd, ANoteAppServerThatCannotStartIsNamed) {
  start("/usr/bin:/bin", {{"TINDERBOX_DISABLE", "0"}, {"TINDERBOX_MCP_PATH", "/nonexistent/note-app-server"}});
  auto client = connect();
  EXPECT_EQ(error(call(*client, "tbx_doc_open_tinderbox")),
            "Could not start /nonexistent/note-app-server: No such file or directory");
}

// One operation of each grouped tool, under the name a client calls it by (the tool and
// the operation joined), each reaching only its external program.
TEST_F(NoteAppOperationsEndToEnd, EachGroupedToolReachesItsProgram) {
  fakes_.add("osascript");
  fakes_.add("xdg-open");
  startWithNoteApp(fakes_.bin().string() + ":/usr/bin:/bin");
  auto client = connect();
  for (int attempt = 0; attempt < 3000 && !lists(*client, "tbx_export_export_document"); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(lists(*client, "tbx_nav_open_tinderbox_url")) << daemon_->stderrText();
  ASSERT_TRUE(lists(*client, "tbx_doc_save_tinderbox_document"));

  const std::string url = "tinderbox://Notes?view=outline";
  EXPECT_EQ(text(call(*client, "tbx_nav_open_tinderbox_url", {{"url", url}})), "Opened URL");
  EXPECT_EQ(fakes_.runs("xdg-open"), (std::vector<std::vector<std::string>>{{url}}));

  EXPECT_EQ(text(call(*client, "tbx_doc_save_tinderbox_document", Json::object())), "Saved document: front document");
  const std::vector<std::string> save{"-e", "tell application \"Tinderbox 11\"", "-e", "save front document", "-e", "end tell"};
  ASSERT_EQ(fakes_.runs("osascript").size(), 1u);
  EXPECT_EQ(fakes_.runs("osascript")[0], save);

  // Export answers the file the note app is told to write, in the exports folder it created.
  const std::string exported = text(call(*client, "tbx_export_export_document", {{"document", "Notes"}}));
  const std::filesystem::path exports = daemon_->configuration().exportsDir();
  EXPECT_EQ(std::filesystem::path(exported).parent_path(), exports) << exported;
  EXPECT_TRUE(std::filesystem::is_directory(exports));
  ASSERT_EQ(fakes_.runs("osascript").size(), 2u);
  const std::vector<std::string> script = fakes_.runs("osascript")[1];
  EXPECT_TRUE(std::any_of(script.begin(), script.end(),
                          [&](const std::string& line) { return line == "export d to POSIX file \"" + exported + "\""; }))
      << dumpJson(Json(script));
  EXPECT_TRUE(fakes_.runs("lpr").empty());
}

}  // namespace
}  // namespace qd
