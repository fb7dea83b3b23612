#include "app/installer/mcp_installer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/installer/client_library.h"
#include "app/installer/managed_entries.h"
#include "daemon/config/app_preferences_store.h"
#include "installer_test_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using test::FileState;
using test::readText;
using test::writeText;

class MCPInstallerTest : public ::testing::Test {
 protected:
  MCPInstaller installer(MCPInstallerOptions options) { return MCPInstaller(alerts_, std::move(options)); }
  MCPInstaller installer() { return installer(home_.options()); }

  Json readJson(const fs::path& path) { return parseJson(readText(path)); }
  std::vector<InstallLocation> ledgerRows() { return InstallLedger(home_.locations().installLedgerPath()).load(); }
  const Alert& lastAlert() {
    EXPECT_FALSE(alerts_.alerts.empty());
    static const Alert none;
    return alerts_.alerts.empty() ? none : alerts_.alerts.back();
  }

  test::InstallerHome home_;
  test::RecordingPresenter alerts_;
};

TEST_F(MCPInstallerTest, ClientTableAndDefaultLocations) {
  const auto& clients = ClientLibrary::stableClients();
  std::vector<std::string> ids;
  for (const auto& entry : clients) {
    ids.push_back(entry.id);
    EXPECT_TRUE(entry.supportsManagedInstall);
    EXPECT_EQ(home_.locations().defaultLocations(entry.id).size(), 1u) << entry.id;
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"claude_code", "claude_desktop", "codex", "gemini", "droid", "opencode"}));
  EXPECT_EQ(clients[4].title, "Droid (Factory.ai)");
  auto renamed = clients[0];
  renamed.title = "Other";
  EXPECT_NE(renamed, clients[0]);

  const fs::path h = home_.home;
  const auto where = home_.locations();
  EXPECT_EQ(where.defaultLocations("claude_code"),
            (std::vector<InstallLocation>{{"claude_code", "user", (h / ".claude.json").string()}}));
  EXPECT_EQ(where.claudeDesktopConfigPath(), (h / ".config/Claude/claude_desktop_config.json").string());
  EXPECT_EQ(where.codexConfigPath(), (h / ".codex/config.toml").string());
  EXPECT_EQ(where.geminiConfigPath(), (h / ".gemini/settings.json").string());
  EXPECT_EQ(where.droidConfigPath(), (h / ".factory/mcp.json").string());
  EXPECT_EQ(where.openCodeConfigPath(), (h / ".config/opencode/opencode.json").string());
  EXPECT_EQ(where.installLedgerPath(), (h / ".local/share/QuarvelDorarov/client-installs.json").string());
  for (const char* key : {"codex_cli", "custom", "ledger", ""}) EXPECT_TRUE(where.defaultLocations(key).empty()) << key;

  // XDG variables that are unset fall back below HOME.
  const ClientConfigLocations plain(platform::Environment{{"HOME", "/home/u"}});
  EXPECT_EQ(plain.openCodeConfigPath(), "/home/u/.config/opencode/opencode.json");
  EXPECT_EQ(plain.installLedgerPath(), "/home/u/.local/share/QuarvelDorarov/client-installs.json");
}

TEST_F(MCPInstallerTest, InstallIntoMissingFileCreatesItSortedAndRecordsIt) {
  const std::string path = home_.locations().claudeCodeConfigPath();
  ASSERT_TRUE(installer().install(path, "claude_code", "user", /*silent=*/true));
  EXPECT_TRUE(alerts_.alerts.empty());
  Json expected = {{"mcpServers", Json::object()}};
  for (const auto& name : managedEndpointNames()) {
    expected["mcpServers"][name] = {{"args", {"--client", "--profile", name}}, {"command", home_.command()}};
  }
  EXPECT_EQ(readText(path), dumpJson(withSortedKeys(expected), 2) + "\n");
  EXPECT_EQ(ledgerRows(), (std::vector<InstallLocation>{{"claude_code", "user", path}}));

  // Not silent: the success alert names the file and the command.
  const std::string desktop = home_.locations().claudeDesktopConfigPath();
  ASSERT_TRUE(installer().install(desktop, "claude_desktop", "user", false));
  EXPECT_EQ(lastAlert().title, "Installation Complete");
  EXPECT_EQ(lastAlert().informativeText,
            "Quarvel Dorarov has been installed to:\n" + desktop +
                "\n\nConfiguration:\n• Endpoints: tinderbox, router-core, tbx-nav, tbx-doc, tbx-export\n• Mode: "
                "client/profile (connects to this app's daemon)\n• Command: " +
                home_.command() +
                "\n\nRestart your MCP client to use the Quarvel Dorarov.\n\nDon't forget to start Quarvel Dorarov; "
                "it runs in the system tray.");
  EXPECT_TRUE(fs::is_regular_file(desktop));
}

TEST_F(MCPInstallerTest, InstallKeepsEverythingElseAndTwiceIsOnce) {
  const fs::path path = home_.locations().claudeCodeConfigPath();
  writeText(path, R"({"projects": {"/w": {"history": [1, 2.5, "x"]}}, "numStartups": 9007199254740993,
    "mcpServers": {"mine": {"command": "npx", "env": {"K": "v"}}, "tinderbox": {"command": "/Applications/TB"},
                   "quarvel-toolbox": {"command": "old"}}})");
  ::chmod(path.c_str(), 0600);
  ASSERT_TRUE(installer().install(path, "claude_code", "user", true));
  const Json after = readJson(path);
  EXPECT_EQ(after["projects"], Json::parse(R"({"/w": {"history": [1, 2.5, "x"]}})"));
  EXPECT_EQ(after["numStartups"], 9007199254740993);
  EXPECT_EQ(after["mcpServers"]["mine"], Json::parse(R"({"command": "npx", "env": {"K": "v"}})"));
  EXPECT_EQ(after["mcpServers"]["tinderbox"]["command"], home_.command());
  EXPECT_FALSE(after["mcpServers"].contains("quarvel-toolbox"));
  EXPECT_EQ(FileState::of(path).mode & 07777, 0600u);

  const auto once = FileState::of(path);
  ASSERT_TRUE(installer().install(path, "claude_code", "user", true));
  EXPECT_EQ(FileState::of(path), once);  // same bytes: not even rewritten (same inode)
  EXPECT_EQ(ledgerRows().size(), 1u);
}

TEST_F(MCPInstallerTest, DispatchPicksTheShapeByPathAndKey) {
  const fs::path custom = home_.home / "droid-elsewhere.json";
  ASSERT_TRUE(installer().install(custom.string(), "droid", "user", true));
  EXPECT_EQ(readJson(custom)["mcpServers"]["tinderbox"]["type"], "stdio");

  const std::string openCode = home_.locations().openCodeConfigPath();
  ASSERT_TRUE(installer().install(openCode, "anything", "user", true));  // the OpenCode path decides
  EXPECT_EQ(readJson(openCode)["mcp"]["tbx-export"]["command"][0], home_.command());

  const fs::path toml = home_.home / "x" / "codex.toml";  // ".toml" decides, whatever the key
  ASSERT_TRUE(installer().install(toml.string(), "droid", "user", true));
  EXPECT_NE(readText(toml).find("[mcp_servers.tinderbox]\n"), std::string::npos);
  EXPECT_TRUE(installer().isInstalledInConfigPath(toml.string()));
}

TEST_F(MCPInstallerTest, RemovalReportsKeysAndDropsTheLedgerRow) {
  const std::string path = home_.locations().geminiConfigPath();
  writeText(path, R"({"theme": "x", "mcpServers": {"mine": {"command": "npx"}, "tinderbox": "a string stays"}})");
  ASSERT_TRUE(installer().install(path, "gemini_cli", "user", true));
  Json config = readJson(path);
  config["mcpServers"]["renamed"] = {{"command", "/usr/local/bin/QuarvelDorarovDaemon"}};
  config["mcpServers"].erase("tinderbox");
  config["mcpServers"]["quarvel-toolbox"] = {{"command", "x"}};
  writeText(path, dumpJson(config));

  ASSERT_TRUE(installer().uninstall(path, "gemini"));
  EXPECT_EQ(lastAlert(), (Alert{Alert::Style::informational, "Removal Complete",
                                "Quarvel Dorarov has been removed from:\n" + path +
                                    "\n\nRemoved server key(s): quarvel-toolbox, renamed, router-core, tbx-doc, "
                                    "tbx-export, tbx-nav\n\nRestart your MCP client for changes to take effect."}));
  EXPECT_EQ(readJson(path), Json::parse(R"({"mcpServers": {"mine": {"command": "npx"}}, "theme": "x"})"));
  EXPECT_TRUE(ledgerRows().empty());

  // The last entry gone: so is "mcpServers".
  writeText(path, R"({"theme": "x", "mcpServers": {"tinderbox": {"command": "t"}}})");
  ASSERT_TRUE(installer().uninstall(path, "gemini"));
  EXPECT_EQ(readJson(path), Json::parse(R"({"theme": "x"})"));
}

TEST_F(MCPInstallerTest, RemovalWithNothingOfOurs) {
  const std::string generic = home_.locations().claudeCodeConfigPath();
  writeText(generic, R"({"mcpServers": {"mine": {"command": "npx"}, "tinderbox": "string"}})");
  const auto before = FileState::of(generic);
  EXPECT_FALSE(installer().uninstall(generic, "claude_code"));
  EXPECT_EQ(lastAlert(), (Alert{Alert::Style::warning, "Installation Failed",
                                "No Quarvel Dorarov MCP entry found in:\n" + generic}));
  EXPECT_EQ(FileState::of(generic), before);

  writeText(generic, R"({"other": 1})");
  EXPECT_FALSE(installer().uninstall(generic, "claude_code"));
  EXPECT_EQ(lastAlert().informativeText, "No mcpServers section found in:\n" + generic);

  // OpenCode: a removal that finds nothing still completes, writes nothing, drops the row.
  const std::string openCode = home_.locations().openCodeConfigPath();
  writeText(openCode, "{\"mcp\": {\"mine\": {\"command\": [\"node\"]}}, \"z\": 1, \"a\": 2}");
  InstallLedger(home_.locations().installLedgerPath()).upsert({"opencode", "user", openCode});
  const auto openBefore = FileState::of(openCode);
  EXPECT_TRUE(installer().uninstall(openCode, "opencode"));
  EXPECT_EQ(lastAlert().title, "Removal Complete");
  EXPECT_NE(lastAlert().informativeText.find("Removed server key(s): \n"), std::string::npos);
  EXPECT_EQ(FileState::of(openCode), openBefore);
  EXPECT_TRUE(ledgerRows().empty());

  // Codex removal names all six, whatever the file held; a missing file is no error.
  const std::string codex = home_.locations().codexConfigPath();
  EXPECT_TRUE(installer().uninstall(codex, "codex"));
  EXPECT_NE(lastAlert().informativeText.find("tinderbox, router-core, tbx-nav, tbx-doc, tbx-export, quarvel-toolbox"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(codex));
}

TEST_F(MCPInstallerTest, MissingDaemonOrAppFolder) {
  const std::string path = home_.locations().claudeCodeConfigPath();
  writeText(path, R"({"mcpServers": {"tinderbox": {"command": "/x/QuarvelDorarovDaemon"}}})");
  const auto before = FileState::of(path);
  fs::permissions(home_.daemon(), fs::perms(0644));  // there, but not executable
  EXPECT_FALSE(installer().install(path, "claude_code", "user", true));
  EXPECT_EQ(lastAlert(), (Alert{Alert::Style::warning, "Installation Failed",
                                "Daemon binary not found at:\n" + home_.command()}));
  EXPECT_EQ(FileState::of(path), before);
  EXPECT_TRUE(ledgerRows().empty());
  EXPECT_TRUE(installer().isInstalledInConfigPath(path));

  auto noFolder = home_.options();
  noFolder.appFolder.reset();
  const std::string openCode = home_.locations().openCodeConfigPath();
  writeText(openCode, R"({"mcp": {"tinderbox": {"command": ["x"]}}})");
  for (const std::string& target : {path, openCode}) {
    EXPECT_FALSE(installer(noFolder).install(target, "claude_code", "user", true));
    EXPECT_EQ(lastAlert().informativeText, "Could not find app bundle resources");
    EXPECT_FALSE(installer(noFolder).uninstall(target, "claude_code"));
    EXPECT_EQ(lastAlert().informativeText, "Could not find app bundle resources");
    EXPECT_TRUE(installer(noFolder).isInstalledInConfigPath(target));  // by name, no command needed
  }
  EXPECT_EQ(FileState::of(path), before);
  // With the daemon back, removal works.
  fs::permissions(home_.daemon(), fs::perms(0755));
  EXPECT_TRUE(installer().uninstall(path, "claude_code"));
}

TEST_F(MCPInstallerTest, Detection) {
  const auto where = home_.locations();
  struct Case {
    std::string path;
    std::string contents;
    bool installed;
  };
  const std::vector<Case> cases = {
      {where.claudeCodeConfigPath(), R"({"mcpServers": {"tinderbox": "foreign"}})", true},
      {where.claudeCodeConfigPath(), R"({"mcpServers": {"x": {"command": "/a/QuarvelDorarovDaemon"}}})", true},
      {where.claudeCodeConfigPath(), R"({"mcpServers": {"x": {"command": "npx"}}})", false},
      {where.claudeCodeConfigPath(), R"({"mcp": {"tinderbox": {}}})", false},
      {where.claudeCodeConfigPath(), "{ // note\n}", false},
      {where.openCodeConfigPath(), R"({"mcp": {"x": {"command": ["/a/QuarvelDorarovDaemon"]}}})", true},
      {where.openCodeConfigPath(), R"({"mcpServers": {"tinderbox": {}}})", false},
      {where.codexConfigPath(), "# [mcp_servers.tinderbox]\n", true},
      {where.codexConfigPath(), "[mcp_servers.\"tbx-doc\"]\n", true},
      {where.codexConfigPath(), "[mcp_servers.x]\n", false},
  };
  for (const auto& c : cases) {
    writeText(c.path, c.contents);
    EXPECT_EQ(installer().isInstalledInConfigPath(c.path), c.installed) << c.path << ": " << c.contents;
    fs::remove(c.path);
  }
  EXPECT_FALSE(installer().isInstalledInConfigPath(where.codexConfigPath()));  // missing
  // Read-only files can still be inspected.
  writeText(where.geminiConfigPath(), R"({"mcpServers": {"tbx-nav": {}}})");
  fs::permissions(where.geminiConfigPath(), fs::perms(0444));
  EXPECT_TRUE(installer().isInstalledInConfigPath(where.geminiConfigPath()));
  EXPECT_TRUE(alerts_.alerts.empty());
}

// Every odd file is refused (or, by eviction, skipped) and left exactly as it was.
TEST_F(MCPInstallerTest, OddFilesAreRefusedUnchanged) {
  struct OddFile {
    const char* name;
    std::function<void(const fs::path&)> make;
    std::string cause;  // in the alert; empty: any
    bool forCodex = true;  // "[1]" is a TOML table, not an odd file
  };
  auto text = [](std::string contents, mode_t mode = 0644) {
    return [contents, mode](const fs::path& p) {
      writeText(p, contents);
      ::chmod(p.c_str(), mode);
    };
  };
  const std::string valid = "{\"mcpServers\": {\"tinderbox\": {\"command\": \"/a/QuarvelDorarovDaemon\"}}}";
  const std::vector<OddFile> odd = {
      {"invalid JSON", text("{\"mcpServers\": {,}"), "line 1, column 17"},
      {"comments", text("{ // mine\n \"mcpServers\": {}}"), "comments a rewrite would lose"},
      {"not an object", text("[1]"), "not a JSON object", false},
      {"invalid TOML", text("model = \n"), "", true},
      {"duplicate key", text("{\"a\": 1, \"a\": 2, \"mcpServers\": {\"tinderbox\": {}}}"), "appears twice"},
      {"huge integer", text("{\"n\": 123456789012345678901234567890}"), "beyond 64 bits"},
      {"invalid UTF-8", text("{\"a\": \"\xFF\"}"), ""},
      {"read-only", text(valid, 0444), "is read-only"},
      {"another owner", [&](const fs::path& p) { text(valid)(p); ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0); },
       "belongs to another user"},
      {"two hard links", [&](const fs::path& p) { text(valid)(p); fs::create_hard_link(p, p.string() + ".bak"); },
       "several hard links"},
      {"FIFO", [](const fs::path& p) { fs::create_directories(p.parent_path()); ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       "not a regular file"},
      {"folder", [](const fs::path& p) { fs::create_directories(p); }, "is a folder"},
      {"dangling link", [](const fs::path& p) { fs::create_directories(p.parent_path()); fs::create_symlink(p.string() + ".gone", p); },
       "does not exist"},
      {"looping link", [](const fs::path& p) { fs::create_directories(p.parent_path()); fs::create_symlink(p, p); },
       "loops"},
      {"over 64 MiB", [](const fs::path& p) { fs::create_directories(p.parent_path()); writeText(p, "{}"); fs::resize_file(p, kMaxClientConfigBytes + 1); },
       "larger than 64 MiB"},
  };
  const auto where = home_.locations();
  struct Kind {
    const char* name;
    std::string path;
    std::string key;
  };
  const std::vector<Kind> kinds = {{"generic", where.claudeCodeConfigPath(), "claude_code"},
                                   {"OpenCode", where.openCodeConfigPath(), "opencode"},
                                   {"Codex", where.codexConfigPath(), "codex"}};
  InstallLedger(where.installLedgerPath()).upsert({"other", "user", "/elsewhere"});
  const std::string ledgerBefore = readText(where.installLedgerPath());
  for (const auto& kind : kinds) {
    for (const auto& file : odd) {
      if (kind.key == "codex" && !file.forCodex) continue;
      const bool jsonOnly = std::string(file.cause).find("comments") != std::string::npos ||
                            std::string(file.cause).find("twice") != std::string::npos ||
                            std::string(file.cause).find("JSON object") != std::string::npos ||
                            std::string(file.cause).find("64 bits") != std::string::npos;
      for (const char* operation : {"install", "remove", "evict"}) {
        SCOPED_TRACE(std::string(kind.name) + " / " + file.name + " / " + operation);
        const fs::path path = kind.path;
        fs::remove_all(path.parent_path() / path.filename());
        fs::remove(path.string() + ".bak");
        file.make(path);
        const auto before = FileState::of(path);
        alerts_.alerts.clear();
        bool ok = false;
        if (std::string(operation) == "install") ok = installer().install(kind.path, kind.key, "user", true);
        if (std::string(operation) == "remove") ok = installer().uninstall(kind.path, kind.key);
        if (std::string(operation) == "evict") {
          ok = kind.key == "codex" ? installer().evictNativeTinderboxEntryFromCodexConfig(kind.path)
                                   : installer().evictNativeTinderboxEntryFromJSONConfig(kind.path);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(FileState::of(path), before);
        EXPECT_EQ(readText(where.installLedgerPath()), ledgerBefore);
        if (std::string(operation) == "evict") {
          EXPECT_TRUE(alerts_.alerts.empty());
          continue;
        }
        ASSERT_EQ(alerts_.alerts.size(), 1u);
        EXPECT_EQ(alerts_.alerts[0].title, "Installation Failed");
        EXPECT_NE(alerts_.alerts[0].informativeText.find(kind.path), std::string::npos)
            << alerts_.alerts[0].informativeText;
        // A JSON-shaped config.toml is migrated or refused with the migration's own words.
        if (!file.cause.empty() && !(kind.key == "codex" && jsonOnly)) {
          EXPECT_NE(alerts_.alerts[0].informativeText.find(file.cause), std::string::npos)
              << alerts_.alerts[0].informativeText;
        }
      }
      fs::remove_all(kind.path);
      fs::remove(kind.path + ".bak");
    }
  }
}

TEST_F(MCPInstallerTest, AClientWritingDuringTheEditIsNotLost) {
  const std::string path = home_.locations().claudeCodeConfigPath();
  writeText(path, R"({"mcpServers": {}})");
  int writes = 0;
  auto once = home_.options();
  once.replace.beforeRename = [&](const fs::path& target) {
    if (writes++ == 0) writeText(target, R"({"mcpServers": {}, "clientWrote": true})");
  };
  ASSERT_TRUE(installer(once).install(path, "claude_code", "user", true));
  const Json after = readJson(path);
  EXPECT_EQ(after["clientWrote"], true);
  EXPECT_TRUE(after["mcpServers"].contains("tinderbox"));

  writeText(path, R"({"mcpServers": {}})");
  auto always = home_.options();
  always.replace.beforeRename = [&](const fs::path& target) {
    writeText(target, "{\"n\": " + std::to_string(++writes) + "}");
  };
  EXPECT_FALSE(installer(always).install(path, "claude_code", "user", true));
  EXPECT_EQ(lastAlert().informativeText, "Failed to write config file:\n" + path + " changed while being updated; try again");
  EXPECT_EQ(readJson(path), Json({{"n", writes}}));  // the client's last write stands
  for (const auto& entry : fs::directory_iterator(home_.home)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << "temporary left: " << entry.path();
  }
}

TEST_F(MCPInstallerTest, LinksAndModesAreKept) {
  const fs::path real = home_.home / "dotfiles" / "config.toml";
  writeText(real, "# mine\nmodel = \"o3\"\n");
  ::chmod(real.c_str(), 0600);
  const fs::path link = home_.locations().codexConfigPath();
  fs::create_directories(link.parent_path());
  fs::create_symlink(real, link);
  ASSERT_TRUE(installer().install(link.string(), "codex", "user", true));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(FileState::of(real).mode & 07777, 0600u);
  EXPECT_NE(readText(real).find("[mcp_servers.tinderbox]"), std::string::npos);
  ASSERT_TRUE(installer().uninstall(link.string(), "codex"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readText(real), "# mine\nmodel = \"o3\"\n");

  // Nothing left: a plain file goes; through a link the target is emptied and the link stays.
  writeText(real, "");
  ASSERT_TRUE(installer().install(link.string(), "codex", "user", true));
  ASSERT_TRUE(installer().uninstall(link.string(), "codex"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readText(real), "");

  // A linked folder: the file inside is edited in place.
  const fs::path realFolder = home_.home / "real-gemini";
  fs::create_directories(realFolder);
  fs::create_directory_symlink(realFolder, home_.home / ".gemini");
  ASSERT_TRUE(installer().install(home_.locations().geminiConfigPath(), "gemini", "user", true));
  EXPECT_TRUE(fs::is_symlink(home_.home / ".gemini"));
  EXPECT_TRUE(fs::is_regular_file(realFolder / "settings.json"));
}

TEST_F(MCPInstallerTest, Ledger) {
  const InstallLedger ledger(home_.locations().installLedgerPath());
  ledger.upsert({"codex_cli", "user", "/c"});
  ledger.upsert({"claude_code", "user", "/a"});
  ledger.upsert({"codex", "project", "/c"});  // same key and path, another scope: replaced, now last
  EXPECT_EQ(ledger.load(), (std::vector<InstallLocation>{{"claude_code", "user", "/a"}, {"codex", "project", "/c"}}));
  EXPECT_EQ(readText(home_.locations().installLedgerPath()),
            R"([{"clientKey":"claude_code","scope":"user","path":"/a"},{"clientKey":"codex","scope":"project","path":"/c"}])");
  ledger.remove("/c", "codex_desktop");
  EXPECT_EQ(ledger.load().size(), 1u);
  ledger.upsert({"gemini", "user", "/a"});
  ledger.remove("/a", "custom");
  EXPECT_TRUE(ledger.load().empty());

  for (const char* malformed : {"{}", R"([{"clientKey": "a", "path": "/p"}])", "not json", R"([{"clientKey": 1, "scope": "u", "path": "/p"}])"}) {
    writeText(home_.locations().installLedgerPath(), malformed);
    EXPECT_TRUE(ledger.load().empty()) << malformed;
    ledger.upsert({"droid", "user", "/d"});
    EXPECT_EQ(ledger.load().size(), 1u) << malformed;
  }

  // A ledger that cannot be written does not stop an install.
  fs::remove_all(home_.home / ".local");
  writeText(home_.home / ".local", "a file where the data folder should be");
  const std::string path = home_.locations().claudeCodeConfigPath();
  EXPECT_TRUE(installer().install(path, "claude_code", "user", false));
  EXPECT_EQ(lastAlert().title, "Installation Complete");
  EXPECT_TRUE(installer().uninstall(path, "claude_code"));
  EXPECT_EQ(lastAlert().title, "Removal Complete");
}

TEST_F(MCPInstallerTest, EvictionOfForeignTinderboxEntries) {
  const auto where = home_.locations();
  const std::string ours = "\"tbx-nav\": {\"command\": \"/opt/QuarvelDorarovDaemon\"}";
  struct Case {
    const char* name;
    std::string contents;
    bool evicted;
  };
  const std::vector<Case> cases = {
      {"foreign beside ours", "{\"keep\": 1, \"mcpServers\": {" + ours + ", \"tinderbox\": {\"command\": \"/tb\"}, \"x\": {}}}", true},
      {"foreign without ours", R"({"mcpServers": {"tinderbox": {"command": "/tb"}}})", false},
      {"ours named tinderbox", R"({"mcpServers": {"tinderbox": {"command": "/a/QuarvelDorarovDaemon"}}})", false},
      {"no command", "{\"mcpServers\": {" + ours + ", \"tinderbox\": {\"args\": []}}}", false},
      {"command not a string", "{\"mcpServers\": {" + ours + ", \"tinderbox\": {\"command\": [\"/tb\"]}}}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeText(where.claudeCodeConfigPath(), c.contents);
    const auto before = FileState::of(where.claudeCodeConfigPath());
    EXPECT_EQ(installer().evictNativeTinderboxEntryFromJSONConfig(where.claudeCodeConfigPath()), c.evicted);
    if (!c.evicted) {
      EXPECT_EQ(FileState::of(where.claudeCodeConfigPath()), before);
    } else {
      EXPECT_EQ(readJson(where.claudeCodeConfigPath()),
                Json::parse("{\"keep\": 1, \"mcpServers\": {\"tbx-nav\": {\"command\": \"/opt/QuarvelDorarovDaemon\"}, \"x\": {}}}"));
    }
  }

  // A JSON-shaped config.toml is migrated at launch only when nothing would be dropped.
  writeText(where.codexConfigPath(), R"({"mcpServers": {"tinderbox": {"command": "/tb"}, "tbx-doc": {"command": "/o/QuarvelDorarovDaemon", "args": ["--client"]}}})");
  EXPECT_TRUE(installer().evictNativeTinderboxEntryFromCodexConfig(where.codexConfigPath()));
  EXPECT_EQ(readText(where.codexConfigPath()),
            "[mcp_servers.tbx-doc]\ncommand = \"/o/QuarvelDorarovDaemon\"\nargs = [\"--client\"]\n");
  writeText(where.codexConfigPath(), R"({"mcpServers": {"tinderbox": {"command": "/tb", "env": {"K": "v"}}, "a": {"command": "QuarvelDorarovDaemon"}}})");
  const auto kept = FileState::of(where.codexConfigPath());
  EXPECT_FALSE(installer().evictNativeTinderboxEntryFromCodexConfig(where.codexConfigPath()));
  EXPECT_EQ(FileState::of(where.codexConfigPath()), kept);
}

TEST_F(MCPInstallerTest, LaunchPassAlertsOncePerVersion) {
  const auto where = home_.locations();
  auto plantConflicts = [&] {
    writeText(where.claudeCodeConfigPath(),
              R"({"mcpServers": {"tinderbox": {"command": "/tb"}, "tbx-nav": {"command": "/o/QuarvelDorarovDaemon"}}})");
    writeText(where.codexConfigPath(),
              "[mcp_servers.tinderbox]\ncommand = \"/tb\"\n\n[mcp_servers.tbx-nav]\ncommand = \"/o/QuarvelDorarovDaemon\"\n");
  };
  auto launch = [&](const std::string& version) {
    auto options = home_.options();
    options.appVersion = version;
    alerts_.alerts.clear();
    installer(options).evictNativeTinderboxEntriesIfNeeded();
    return alerts_.alerts.size();
  };
  const AppPreferencesStore preferences(AppPreferencesStore::defaultSuiteName, home_.env);

  EXPECT_EQ(launch("2.0.0"), 0u);  // no files at all
  EXPECT_FALSE(preferences.stringValue("QTConflictAlertShownVersion"));

  plantConflicts();
  ASSERT_EQ(launch("2.0.0"), 1u);
  EXPECT_EQ(alerts_.alerts[0].title, "Tinderbox MCP Conflict Removed");
  EXPECT_EQ(alerts_.alerts[0].informativeText,
            "Tinderbox had registered its own built-in MCP server (\"tinderbox\") in one or more of your AI client "
            "configs. Since Quarvel Dorarov is installed and provides the Tinderbox connection, the conflicting entry "
            "has been removed.\n\nAffected config(s):\n• " +
                where.claudeCodeConfigPath() + "\n• " + where.codexConfigPath() +
                "\n\nRestart any affected AI clients for the change to take effect. Future conflicts will be fixed "
                "silently.");
  EXPECT_EQ(preferences.stringValue("QTConflictAlertShownVersion"), "2.0.0");
  EXPECT_EQ(readText(where.codexConfigPath()), "[mcp_servers.tbx-nav]\ncommand = \"/o/QuarvelDorarovDaemon\"\n");

  plantConflicts();
  EXPECT_EQ(launch("2.0.0"), 0u);  // same version: silent
  EXPECT_FALSE(readText(where.claudeCodeConfigPath()).find("/tb") != std::string::npos);
  EXPECT_EQ(launch("2.1.0"), 0u);  // nothing evicted: no alert, stored version unchanged
  EXPECT_EQ(preferences.stringValue("QTConflictAlertShownVersion"), "2.0.0");
  plantConflicts();
  EXPECT_EQ(launch("2.1.0"), 1u);

  // No version and nothing stored: never an alert.
  fs::remove(preferences.suiteFile());
  plantConflicts();
  EXPECT_EQ(launch(""), 0u);
}

}  // namespace
}  // namespace qd
