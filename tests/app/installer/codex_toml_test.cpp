#include "app/installer/codex_toml.h"

#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <sstream>

namespace qd {
namespace {

const std::string kCmd = "/opt/qd/bin/QuarvelDorarovDaemon";

std::string ourSections(const std::string& command = kCmd) {
  std::string out;
  for (const auto& name : managedEndpointNames()) {
    if (!out.empty()) out += "\n\n";
    out += "[mcp_servers." + name + "]\ncommand = \"" + command + "\"\nargs = [\"--client\", \"--profile\", \"" +
           name + "\"]";
  }
  return out;
}

void expectParses(const std::string& text) {
  try {
    (void)toml::parse(text);
  } catch (const toml::parse_error& e) {
    ADD_FAILURE() << "does not parse: " << e.description() << " line " << e.source().begin.line << "\n" << text;
  }
}

std::vector<std::string> nonBlankLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) out.push_back(line);
  }
  return out;
}

TEST(CodexTomlHeaderTest, MatchesOnlyDottedOneLineHeaders) {
  struct Case {
    std::string line;
    std::optional<std::pair<std::string, std::string>> parts;
  };
  const std::vector<Case> cases = {
      {"[mcp_servers.tinderbox]", std::pair{"mcp_servers", "tinderbox"}},
      {"  [model_providers.x.y]  ", std::pair{"model_providers", "x.y"}},
      {"[mcp_servers.tinderbox]\r", std::pair{"mcp_servers", "tinderbox"}},  // a CRLF line end
      {"[mcp_servers.\"tinderbox\"]", std::pair{"mcp_servers", "\"tinderbox\""}},
      {"[mcp_servers.tinderbox]\xC2\xA0", std::pair{"mcp_servers", "tinderbox"}},  // no-break space is \s
      {"[features]", std::nullopt},
      {"[[mcp_servers.x]]", std::nullopt},
      {"[ mcp_servers.x]", std::nullopt},
      {"[mcp_servers.x] # comment", std::nullopt},
      {"[1table.x]", std::nullopt},
      {"[mcp_servers.]", std::nullopt},
      {"key = \"[mcp_servers.x]\"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto header = matchTOMLSectionHeader(c.line);
    ASSERT_EQ(header.has_value(), c.parts.has_value()) << c.line;
    if (!header) continue;
    EXPECT_EQ(header->tableName, c.parts->first) << c.line;
    EXPECT_EQ(header->sectionName, c.parts->second) << c.line;
    EXPECT_EQ(header->line, c.line);
  }
}

TEST(CodexTomlHeaderTest, QuotedKeysCompareUnquoted) {
  EXPECT_EQ(unquotedTOMLKey("\"tinderbox\""), "tinderbox");
  EXPECT_EQ(unquotedTOMLKey("'tinderbox'"), "tinderbox");
  EXPECT_EQ(unquotedTOMLKey("\"tb\\u0078-nav\""), "tbx-nav");
  EXPECT_EQ(unquotedTOMLKey(" tinderbox "), "tinderbox");
  EXPECT_EQ(unquotedTOMLKey("\"a\".b"), "\"a\".b");  // a dotted key is not one name
  EXPECT_EQ(unquotedTOMLKey("tinderbox.env"), "tinderbox.env");
}

TEST(CodexTomlSplitTest, PreambleBodiesAndFinalLineFeed) {
  const auto sections = splitTOMLSections("model = \"o3\"\n\n[mcp_servers.a]\ncommand = \"x\"\n");
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_FALSE(sections[0].header);
  EXPECT_EQ(sections[0].bodyLines, (std::vector<std::string>{"model = \"o3\"", ""}));
  EXPECT_EQ(sections[1].header->sectionName, "a");
  EXPECT_EQ(sections[1].bodyLines, (std::vector<std::string>{"command = \"x\"", ""}));
  EXPECT_TRUE(splitTOMLSections("").empty());
  EXPECT_EQ(splitTOMLSections("\n\n[a.b]\n").size(), 1u);  // a blank preamble is dropped
}

TEST(CodexTomlRenderTest, EscapesAsTomlRequires) {
  EXPECT_EQ(renderCodexServerSection("a", "/x/y", {}), "[mcp_servers.a]\ncommand = \"/x/y\"\nargs = []");
  const std::string section = renderCodexServerSection("a.b", "C:\\q\"d\n\x01", {"x\ty"});
  EXPECT_EQ(section, "[mcp_servers.\"a.b\"]\ncommand = \"C:\\\\q\\\"d\\n\\u0001\"\nargs = [\"x\\ty\"]");
  const auto table = toml::parse(section);
  EXPECT_EQ(table["mcp_servers"]["a.b"]["command"].value<std::string>(), "C:\\q\"d\n\x01");
}

// Install, then remove: each golden output, and every output parses.
TEST(CodexTomlEditTest, GoldenInstallAndRemove) {
  struct Case {
    const char* name;
    std::optional<std::string> before;
    std::string installed;
    std::optional<std::string> removed;  // nullopt: the file goes
  };
  const std::string ours = ourSections();
  const std::vector<Case> cases = {
      {"missing file", std::nullopt, ours + "\n", std::nullopt},
      {"blank preamble", "\n\n  \n", ours + "\n", std::nullopt},
      {"comments and another table",
       "# Codex settings\nmodel = \"o3\"\n\n[model_providers.local]\n# my provider\nname = \"x\"\n\nurl = \"y\"\n\n\n",
       "# Codex settings\nmodel = \"o3\"\n\n[model_providers.local]\n# my provider\nname = \"x\"\n\nurl = \"y\"\n\n" +
           ours + "\n",
       "# Codex settings\nmodel = \"o3\"\n\n[model_providers.local]\n# my provider\nname = \"x\"\n\nurl = \"y\"\n"},
      {"[features] and an array of tables after ours, with their comment",
       "[mcp_servers.tinderbox]\ncommand = \"/old/QuarvelDorarovDaemon\"\nargs = []\n\n# switches\n[features]\nweb = "
       "true\n[[profiles_list]]\nname = \"p\"\n",
       "# switches\n[features]\nweb = true\n[[profiles_list]]\nname = \"p\"\n\n" + ours + "\n",
       "# switches\n[features]\nweb = true\n[[profiles_list]]\nname = \"p\"\n"},
      {"foreign tinderbox replaced, legacy and daemon-named removed, others kept",
       "[mcp_servers.tinderbox]\ncommand = \"node\"\n\n[mcp_servers.quarvel-toolbox]\ncommand = \"a\"\n\n"
       "[mcp_servers.old]\ncommand = \"/x/QuarvelDorarovDaemon\"\n\n[mcp_servers.keep]\ncommand = \"npx\"\n\n"
       "[other.t]\nnote = \"QuarvelDorarovDaemon\"\n",
       "[mcp_servers.keep]\ncommand = \"npx\"\n\n[other.t]\nnote = \"QuarvelDorarovDaemon\"\n\n" + ours + "\n",
       "[mcp_servers.keep]\ncommand = \"npx\"\n\n[other.t]\nnote = \"QuarvelDorarovDaemon\"\n"},
      {"quoted and mcpServers spellings are ours too",
       "[mcp_servers.\"tinderbox\"]\ncommand = \"node\"\n\n[mcpServers.tbx-doc]\ncommand = \"z\"\n", ours + "\n",
       std::nullopt},
      {"sub-table of a managed name stays unless it names the daemon",
       "[mcp_servers.tinderbox.env]\nKEY = \"v\"\n", "[mcp_servers.tinderbox.env]\nKEY = \"v\"\n\n" + ours + "\n",
       "[mcp_servers.tinderbox.env]\nKEY = \"v\"\n"},
      {"CRLF kept", "# c\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.tinderbox]\r\ncommand = \"n\"\r\n",
       "# c\r\nmodel = \"o3\"\r\n\r\n" + [&] {
         std::string crlf;
         for (char c : ours) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return crlf;
       }() + "\r\n",
       "# c\r\nmodel = \"o3\"\r\n"},
      {"JSON-shaped file migrated",
       "{\"mcpServers\": {\"b\": {\"command\": \"bb\"}, \"a\": {\"command\": \"aa\", \"args\": [\"-v\"]}}}\n",
       "[mcp_servers.a]\ncommand = \"aa\"\nargs = [\"-v\"]\n\n[mcp_servers.b]\ncommand = \"bb\"\nargs = []\n\n" + ours +
           "\n",
       "[mcp_servers.a]\ncommand = \"aa\"\nargs = [\"-v\"]\n\n[mcp_servers.b]\ncommand = \"bb\"\nargs = []\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string installed = codexConfigWithManagedServers(c.before, kCmd);
    EXPECT_EQ(installed, c.installed);
    expectParses(installed);
    EXPECT_EQ(codexConfigWithManagedServers(installed, kCmd), installed);  // twice is once
    const auto removed = codexConfigWithoutManagedServers(installed);
    EXPECT_EQ(removed, c.removed);
    if (removed) expectParses(*removed);
  }
}

TEST(CodexTomlEditTest, EveryNonBlankLineOfTheUserSurvivesInOrder) {
  const std::string user =
      "# top comment\nmodel = \"o3\"  # trailing\n\n[profiles.fast]\nmodel = \"mini\"\n\n# before features\n"
      "[features]\nx = 1\n\n[mcp_servers.mine]\n# my server\ncommand = \"npx\"\nargs = [\"s\"]\n# closing note\n";
  const std::string installed = codexConfigWithManagedServers(user, kCmd);
  const auto removed = codexConfigWithoutManagedServers(installed);
  ASSERT_TRUE(removed);
  EXPECT_EQ(nonBlankLines(*removed), nonBlankLines(user));

  // Comments at the end of our own section introduce what follows: they stay too.
  const std::string mixed = "[mcp_servers.tinderbox]\ncommand = \"x\"\n# about mine\n[mcp_servers.mine]\ncommand = \"y\"\n";
  EXPECT_EQ(codexConfigWithoutManagedServers(mixed), "# about mine\n\n[mcp_servers.mine]\ncommand = \"y\"\n");
}

TEST(CodexTomlEditTest, RefusesWhatItCannotCarryOver) {
  struct Case {
    const char* name;
    std::string contents;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"server without a command", "{\"mcpServers\": {\"s\": {\"args\": []}}}",
       "Codex config.toml contains unsupported JSON fields for server 's'."},
      {"server with env", "{\"mcpServers\": {\"s\": {\"command\": \"c\", \"env\": {\"TOKEN\": \"t\"}}}}",
       "Codex config.toml contains unsupported JSON fields for server 's'."},
      {"non-string argument", "{\"mcpServers\": {\"s\": {\"command\": \"c\", \"args\": [1]}}}",
       "Codex config.toml contains unsupported JSON fields for server 's'."},
      {"other top-level key", "{\"model\": \"o3\"}",
       "Codex config.toml contained malformed JSON that could not be migrated."},
      {"invalid JSON", "{\"mcpServers\": ", "Invalid JSON"},
      {"invalid UTF-8", "model = \"\xFF\"\n", "not valid UTF-8"},
      {"invalid TOML", "model = \n", "would not be valid TOML"},
      {"header inside a multi-line string", "note = \"\"\"\n[mcp_servers.tinderbox]\ncommand = \"x\"\n\"\"\"\n",
       "would not be valid TOML"},
      {"headers inside a multi-line string that still parses",
       "note = \"\"\"\n[mcp_servers.tinderbox]\nx\n[other.y]\n\"\"\"\n", "would change other settings"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      (void)codexConfigWithManagedServers(c.contents, kCmd);
      ADD_FAILURE() << "accepted";
    } catch (const ClientConfigContentError& e) {
      EXPECT_NE(e.description().find(c.message), std::string::npos) << e.description();
    }
  }
  try {
    (void)codexConfigWithManagedServers(std::string("a = 1\nb = \n"), kCmd);
    ADD_FAILURE() << "accepted invalid TOML";
  } catch (const CodexTOMLError& e) {
    EXPECT_NE(e.description().find("(line 2)"), std::string::npos) << e.description();
  }
}

TEST(CodexTomlEditTest, ForeignTinderboxEvictedOnlyBesideOurs) {
  const std::string ours = ourSections();
  const std::string foreign = "[mcp_servers.tinderbox]\ncommand = \"/Applications/Tinderbox\"\n";
  // Ours and a foreign duplicate: only the foreign one goes, our own "tinderbox" stays.
  EXPECT_EQ(codexConfigWithoutForeignTinderbox("model = 1\n\n" + foreign + "\n" + ours + "\n"),
            "model = 1\n\n" + ours + "\n");
  // The quoted spelling is the same table: a foreign one goes too (the file as it was
  // would not even load, the table being defined twice).
  EXPECT_EQ(codexConfigWithoutForeignTinderbox("[mcp_servers.\"tinderbox\"]\ncommand = \"t\"\n\n" + ours + "\n"),
            ours + "\n");
  // A section that names the daemon, even in a comment of its own body, counts as ours.
  EXPECT_EQ(codexConfigWithoutForeignTinderbox("[mcp_servers.'tinderbox']\ncommand = \"t\"\n# QuarvelDorarovDaemon\n"),
            std::nullopt);
  EXPECT_EQ(codexConfigWithoutForeignTinderbox("# QuarvelDorarovDaemon\n" + foreign), "# QuarvelDorarovDaemon\n");
  EXPECT_EQ(codexConfigWithoutForeignTinderbox(foreign), std::nullopt);  // none of ours
  EXPECT_EQ(codexConfigWithoutForeignTinderbox("[mcpServers.tinderbox]\ncommand = \"t\"\n# QuarvelDorarovDaemon\n"),
            std::nullopt);
}

TEST(CodexTomlDetectTest, HeadersOfOurNamesAnywhere) {
  EXPECT_TRUE(codexConfigHoldsManagedServers("# [mcp_servers.tinderbox]\n"));
  EXPECT_TRUE(codexConfigHoldsManagedServers("[mcp_servers.quarvel-toolbox]\n"));
  EXPECT_TRUE(codexConfigHoldsManagedServers("[mcp_servers.\"tbx-nav\"]\n"));
  EXPECT_FALSE(codexConfigHoldsManagedServers("[mcp_servers.mine]\ncommand = \"QuarvelDorarovDaemon\"\n"));
  EXPECT_FALSE(codexConfigHoldsManagedServers(""));
}

}  // namespace
}  // namespace qd
