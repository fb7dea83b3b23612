// The note-app operations through the real daemon program, with recording fakes of
// osascript, xdg-open and lpr first on its PATH; and the same daemon without them, where
// every scripted operation answers at once with the launch error.

#include <gtest/gtest.h>

#include "socket_session.h"
#include "support/recording_fakes.h"

namespace qd {
namespace {

class NoteAppOperationsEndToEnd : public test::SocketSession {
 protected:
  void start(const std::string& path) {
    startDaemon("dev", Json{{"helperToolEnabled", {{"print_document", true}}}}, {{"PATH", path}});
  }
  test::RecordingFakes fakes_;
};

// The grouped note-app tools are listed once the note app's tool list is known; until
// then they are reached through the daemon's dispatch (the router tests). print_document
// is the daemon's own helper tool.
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
  EXPECT_EQ(error(call(*client, "print_document", {{"filePath", file.string()}})), "No such file or directory");
}

}  // namespace
}  // namespace qd
