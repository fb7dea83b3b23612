#include "app/service_unit.h"

#include <gtest/gtest.h>

#include "app/app_installer.h"
#include "app_test_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTemplate =
    "[Service]\n"
    "ExecStart=REPLACE_WITH_EXECUTABLE REPLACE_WITH_PROGRAM_PATH\n"
    "WorkingDirectory=REPLACE_WITH_WORKING_DIR\n"
    "REPLACE_WITH_ENVIRONMENT\n"
    "StandardOutput=append:REPLACE_WITH_LOGS_DIR/daemon.log\n"
    "StandardError=append:~/errors.log\n";

TEST(ServiceUnitTest, RendersEscapedValuesThatReadBackUnchanged) {
  struct Case {
    std::string executable, workingDirectory, home, envValue;
    std::string expectedExecStartLine;  // empty: not checked
  };
  const Case cases[] = {
      {"/opt/qd/bin/QuarvelDorarovDaemon", "/opt/qd/share/quarvel-dorarov", "/home/u", "1",
       R"(ExecStart="/opt/qd/bin/QuarvelDorarovDaemon" "--daemon")"},
      {"/opt/100% q\"d\\/bin/Q D", "/opt/100% qd/share", "/home/u", "a b", R"(ExecStart="/opt/100%% q\"d\\/bin/Q D" "--daemon")"},
      {"/opt/$HOME/bin/QuarvelDorarovDaemon", "/w", "/home/50%", "$x%", R"(ExecStart="/opt/$$HOME/bin/QuarvelDorarovDaemon" "--daemon")"},
      // A path that holds "~/" itself stays intact: only the template's own are expanded.
      {"/opt/~/bin/QuarvelDorarovDaemon", "/opt/~/share", "/home/u", "~/x", ""},
  };
  for (const Case& c : cases) {
    const LaunchCommand command{c.executable, "--daemon", c.workingDirectory};
    const std::map<std::string, std::string> env{{"TINDERBOX_DOCUMENT", c.envValue}, {"XDG_DATA_HOME", "/d"}};
    const RenderedUnit unit = renderServiceUnit(kTemplate, command, c.home, "/logs/5%", env);
    ASSERT_TRUE(unit.text) << unit.error;
    if (!c.expectedExecStartLine.empty()) {
      EXPECT_NE(unit.text->find(c.expectedExecStartLine + "\n"), std::string::npos) << *unit.text;
    }
    const auto fields = readServiceUnit(*unit.text);
    ASSERT_TRUE(fields) << *unit.text;
    EXPECT_EQ(fields->execStart, (std::vector<std::string>{c.executable, "--daemon"}));
    EXPECT_EQ(fields->workingDirectory, c.workingDirectory);
    EXPECT_EQ(fields->environment, env);
    EXPECT_EQ(fields->standardOutput, "/logs/5%/daemon.log");
    EXPECT_EQ(fields->standardError, c.home + "/errors.log");
  }
}

TEST(ServiceUnitTest, RefusesWhatTheUnitCannotHold) {
  const LaunchCommand good{"/opt/bin/QuarvelDorarovDaemon", "--daemon", "/opt/share"};
  struct Case {
    std::string templateText;
    LaunchCommand command;
    std::map<std::string, std::string> env;
    std::string error;
  };
  const Case cases[] = {
      {std::string(kTemplate) + "X=REPLACE_WITH_LOGDIR\n", good, {},
       "Internal error: service unit placeholders were not fully resolved."},
      {"ExecStart=REPLACE_WITH_EXECUTABEL\n", good, {}, "Internal error: service unit placeholders were not fully resolved."},
      {kTemplate, {"/opt/bin\n/QuarvelDorarovDaemon", "--daemon", "/opt/share"}, {},
       "The service unit cannot hold the daemon executable: its path contains a line break or another control character."},
      {kTemplate, {"/opt/bin/QuarvelDorarovDaemon", "--daemon", "/opt/sh\tare"}, {},
       "The service unit cannot hold the working folder: its path contains a line break or another control character."},
      {kTemplate, good, {{"TINDERBOX_DOCUMENT", "a\nExecStartPre=/bin/evil"}},
       "The service unit cannot hold the environment variable TINDERBOX_DOCUMENT: its value contains a line break or "
       "another control character."},
  };
  for (const Case& c : cases) {
    const RenderedUnit unit = renderServiceUnit(c.templateText, c.command, "/home/u", "/logs", c.env);
    EXPECT_FALSE(unit.text) << c.error;
    EXPECT_EQ(unit.error, c.error);
  }
  // A value that merely contains the placeholder prefix is no leftover.
  const LaunchCommand odd{"/opt/REPLACE_WITH_/QuarvelDorarovDaemon", "--daemon", "/opt/share"};
  EXPECT_TRUE(renderServiceUnit(kTemplate, odd, "/home/u", "/logs", {}).text);
}

TEST(ServiceUnitTest, ServiceEnvironmentCarriesResolvedFoldersAndTinderboxSettings) {
  const platform::Environment env{{"HOME", "/home/u"},
                                  {"XDG_STATE_HOME", "relative/ignored"},
                                  {"TINDERBOX_SOCKET_PATH", "/run/x.sock"},
                                  {"OTHER", "no"}};
  EXPECT_EQ(serviceEnvironment(env), (std::map<std::string, std::string>{{"TINDERBOX_SOCKET_PATH", "/run/x.sock"},
                                                                         {"XDG_CONFIG_HOME", "/home/u/.config"},
                                                                         {"XDG_DATA_HOME", "/home/u/.local/share"},
                                                                         {"XDG_STATE_HOME", "/home/u/.local/state"}}));
}

// The recorded fakes stand in for the service manager; the installer only needs its lint.
class RecordingLintManager final : public ServiceManager {
 public:
  bool usesSystemd() const override { return false; }
  bool isServiceLoaded() override { return false; }
  bool isDaemonServiceRunning() override { return false; }
  ServiceRun run(ServiceVerb verb, bool) override {
    verbs.push_back(verb);
    ServiceRun r;
    r.run.status = 0;
    return r;
  }
  std::optional<std::string> validateUnit(const fs::path& unit) override {
    return readServiceUnit(test::readText(unit)) ? std::nullopt : std::optional<std::string>("invalid");
  }
  std::vector<ServiceVerb> verbs;
};

TEST(AppInstallerTest, AnInstalledUnitIsCurrentOnlyWithOurCommandAndEnvironment) {
  test::AppTree tree;
  const AppContext context = tree.context(nullptr);
  RecordingLintManager services;
  AppInstaller installer(context, services);
  EXPECT_FALSE(installer.isInstalled());
  ASSERT_TRUE(installer.ensureLaunchdPlistIsCurrent());
  EXPECT_EQ(services.verbs, std::vector<ServiceVerb>{ServiceVerb::stop});  // the old service goes first
  const auto command = installer.resolveLaunchCommand();
  ASSERT_TRUE(command);
  EXPECT_EQ(command->executable, (tree.bin / "QuarvelDorarovDaemon").string());
  EXPECT_EQ(command->workingDirectory, (tree.bin.parent_path() / "share" / "quarvel-dorarov").string());
  EXPECT_TRUE(installer.isInstalledUnitCurrent(*command));

  // Other keys do not matter: a hand-edited description stays.
  const fs::path unitPath = context.installedUnitPath();
  const std::string installed = test::readText(unitPath);
  test::writeText(unitPath, "# edited\n" + installed);
  ASSERT_TRUE(installer.ensureLaunchdPlistIsCurrent());
  EXPECT_EQ(test::readText(unitPath), "# edited\n" + installed);
  EXPECT_EQ(services.verbs.size(), 1u);

  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const Case stale[] = {
      {"moved installation", [&] { test::writeText(unitPath, installed.substr(0, installed.find("ExecStart=")) +
                                                             "ExecStart=\"/elsewhere/QuarvelDorarovDaemon\" \"--daemon\"\n" +
                                                             installed.substr(installed.find("WorkingDirectory="))); }},
      {"other environment", [&] { test::writeText(unitPath, installed + "Environment=\"TINDERBOX_DISABLE=1\"\n"); }},
      {"unreadable unit", [&] { test::writeText(unitPath, "not a unit"); }},
  };
  for (const Case& c : stale) {
    c.change();
    EXPECT_FALSE(installer.isInstalledUnitCurrent(*command)) << c.what;
    ASSERT_TRUE(installer.ensureLaunchdPlistIsCurrent()) << c.what;
    EXPECT_EQ(test::readText(unitPath), installed) << c.what;
  }

  // The application now runs with another setting: the unit must follow it.
  AppContext changed = context;
  changed.environment.set("TINDERBOX_DOCUMENT", "/notes/a.tbx");
  AppInstaller changedInstaller(changed, services);
  EXPECT_FALSE(changedInstaller.isInstalledUnitCurrent(*command));
}

}  // namespace
}  // namespace qd
