#include "app/tray/diagnostics.h"

#include <sys/stat.h>

#include "tray_test_support.h"

namespace qd {
namespace {

mode_t modeOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class DiagnosticsTest : public ::testing::Test {
 protected:
  // `runtimeDir`: give the application an $XDG_RUNTIME_DIR; `pathWithSystem`: PATH also
  // holds /usr/bin and /bin (where a real xdg-email may live).
  void make(bool runtimeDir, bool pathWithSystem = false) {
    platform::Environment extra;
    if (runtimeDir) {
      std::filesystem::create_directories(runtime_);
      ::chmod(runtime_.c_str(), 0700);
      extra.set("XDG_RUNTIME_DIR", runtime_.string());
    }
    fixture_ = std::make_unique<test::TrayFixture>(extra, !pathWithSystem);
    fixture_->makeMonitor();
    test::installRecordingFake(fixture_->tree.fakes, "xdg-open");
    Diagnostics::Options options;
    options.confirm = [this](const std::string& text) {
      confirmations_.push_back(text);
      return send_;
    };
    options.supportAddress = "help@example.test";
    diagnostics_ = std::make_unique<Diagnostics>(*fixture_->context, *fixture_->monitor, fixture_->services,
                                                 *fixture_->installer, std::move(options));
  }
  std::filesystem::path logs() const { return fixture_->tree.home / "state" / "QuarvelDorarov" / "logs"; }

  // Sends and waits for xdg-email's outcome.
  std::optional<bool> send() {
    std::optional<bool> opened;
    QObject::connect(diagnostics_.get(), &Diagnostics::composerFinished, [&](bool ok) { opened = ok; });
    diagnostics_->emailDiagnostics();
    test::processEventsUntil([&] { return opened.has_value(); }, std::chrono::seconds(30));
    QCoreApplication::processEvents();  // the alert is posted
    return opened;
  }

  test::TempDir temp_{"diag"};
  std::filesystem::path runtime_ = temp_ / "runtime";
  std::unique_ptr<test::TrayFixture> fixture_ = std::make_unique<test::TrayFixture>();
  std::unique_ptr<Diagnostics> diagnostics_;
  std::vector<std::string> confirmations_;
  bool send_ = true;
};

TEST_F(DiagnosticsTest, SummaryWithoutUnitOrLogs) {
  make(true);
  const std::string summary = diagnostics_->diagnosticsSummary();
  const std::string bin = fixture_->tree.bin.string();
  const std::string expectedTail =
      "\nApp executable: " + bin + "/QuarvelDorarov" + "\nResource path: " + fixture_->tree.bin.parent_path().string() +
      "/share/quarvel-dorarov" +
      "\nService executable: (missing)\nService executable exists: false\nDaemon service running: false"
      "\nService manager: systemd\nDaemon alive in app health: false\nTinderbox alive in app health: false"
      "\n\ndaemon-error.log (last 20 lines)\n---------------------------------\n(unavailable)"
      "\n\ndaemon.log (last 20 lines)\n--------------------------\n(unavailable)";
  ASSERT_TRUE(summary.starts_with("Quarvel Dorarov diagnostics\nDate: 20")) << summary;
  EXPECT_TRUE(summary.ends_with(expectedTail)) << summary;
}

TEST_F(DiagnosticsTest, LongLogGivesItsLastTwentyNonEmptyLines) {
  make(true);
  std::string log;
  for (int i = 1; i <= 25; ++i) log += "line " + std::to_string(i) + "\n\n";
  test::writeText(logs() / "daemon.log", log);
  const std::string summary = diagnostics_->diagnosticsSummary();
  std::string expected;
  for (int i = 6; i <= 25; ++i) expected += (i > 6 ? "\n" : "") + std::string("line ") + std::to_string(i);
  EXPECT_TRUE(summary.ends_with("--------------------------\n" + expected)) << summary;
}

TEST_F(DiagnosticsTest, CancelWritesNothing) {
  make(true);
  test::installRecordingFake(fixture_->tree.fakes, "xdg-email");
  send_ = false;
  diagnostics_->emailDiagnostics();
  ASSERT_EQ(confirmations_.size(), 1u);
  EXPECT_TRUE(confirmations_[0].starts_with(std::string(Diagnostics::preface) + "Quarvel Dorarov diagnostics\n"));
  EXPECT_FALSE(std::filesystem::exists(runtime_ / Diagnostics::fileName));
  EXPECT_TRUE(test::recordedRuns(fixture_->tree.fakes, "xdg-email").empty());
}

TEST_F(DiagnosticsTest, ComposerGetsThePrivateFile) {
  make(true);
  test::installRecordingFake(fixture_->tree.fakes, "xdg-email");
  EXPECT_EQ(send(), true);
  const auto file = runtime_ / Diagnostics::fileName;
  EXPECT_EQ(test::recordedRuns(fixture_->tree.fakes, "xdg-email"),
            (std::vector<std::string>{"--subject Quarvel Dorarov diagnostics --attach " + file.string() +
                                      " help@example.test"}));
  EXPECT_EQ(modeOf(file), 0600);
  EXPECT_TRUE(test::readText(file).starts_with("Quarvel Dorarov diagnostics\nDate: "));
  EXPECT_TRUE(fixture_->alerts.alerts.empty());
}

// Without a private runtime folder the file goes to a 0700 folder of ours; a composer that
// is missing or fails is told, and the logs folder opens instead.
TEST_F(DiagnosticsTest, NoComposerOpensTheLogsFolder) {
  for (bool installed : {false, true}) {
    SCOPED_TRACE(installed ? "xdg-email fails" : "no xdg-email");
    make(false);
    if (installed) {
      test::installRecordingFake(fixture_->tree.fakes, "xdg-email");
      test::writeText(fixture_->tree.fakes / "xdg-email.Quarvel Dorarov diagnostics.status", "3");
    }
    EXPECT_EQ(send(), false);
    ASSERT_EQ(fixture_->alerts.alerts.size(), 1u);
    EXPECT_EQ(fixture_->alerts.alerts[0],
              (Alert{Alert::Style::warning, "Email Diagnostics Unavailable",
                     "Mail composition is not available on this computer. The logs folder will be opened instead."}));
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return test::recordedRuns(fixture_->tree.fakes, "xdg-open").size() == 1; }, std::chrono::seconds(30)));
    EXPECT_EQ(test::recordedRuns(fixture_->tree.fakes, "xdg-open")[0], logs().string());
    EXPECT_TRUE(std::filesystem::is_directory(logs()));
    const auto folder = fixture_->tree.home / "data" / "QuarvelDorarov" / "diagnostics";
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(modeOf(folder / Diagnostics::fileName), 0600);
    diagnostics_.reset();
  }
}

// An $XDG_RUNTIME_DIR others may enter is not private.
TEST_F(DiagnosticsTest, OpenRuntimeFolderIsNotUsed) {
  make(true);
  ::chmod(runtime_.c_str(), 0755);
  const auto folder = diagnostics_->privateFolder();
  ASSERT_TRUE(folder);
  EXPECT_EQ(*folder, fixture_->tree.home / "data" / "QuarvelDorarov" / "diagnostics");
}

}  // namespace
}  // namespace qd
