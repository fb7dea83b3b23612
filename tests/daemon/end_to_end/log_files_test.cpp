// The daemon's log files through the real program: who may read them, what of a call's
// arguments reaches tool-calls.log, and a record too long for the file-size limit. Tier dev,
// tool calls logged to the file only.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "socket_session.h"
#include "support/file_mode.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

using test::fileMode;

class LogFilesEndToEnd : public test::SocketSession {
 protected:
  void startLogging(const std::string& shellCommands = {}) {
    startDaemon("dev",
                Json{{"enableToolCallLogging", true}, {"logToolCallsToFile", true}, {"logToolCallsToTinderbox", false}},
                {}, shellCommands);
  }
  fs::path toolCallsLog() const { return daemon_->configuration().appSupportDir() / "tool-calls.log"; }
  fs::path logsDir() const { return daemon_->configuration().logsDir(); }

  // The last record of tool-calls.log.
  Json lastRecord() const {
    std::ifstream in(toolCallsLog());
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return parseJson(last);
  }

  // Under the common umask 022, which leaves new files readable by everyone.
  test::ScopedUmask umask_{022};
};

TEST_F(LogFilesEndToEnd, LogFilesAndTheLogsFolderAreTheUsersAlone) {
  // A log written by an earlier version, readable by all.
  const fs::path earlier = test::DaemonProcess(home_.path()).configuration().appSupportDir() / "tool-calls.log";
  fs::create_directories(earlier.parent_path());
  std::ofstream(earlier) << "{}\n";
  fs::permissions(earlier, fs::perms(0644));
  ASSERT_FALSE(fs::exists(test::DaemonProcess(home_.path()).configuration().logsDir()));

  startLogging();
  auto client = connect();
  EXPECT_EQ(text(call(*client, "identify", {{"agentName", "ann"}})), "Registered as ann (anonymous)");

  EXPECT_EQ(fileMode(toolCallsLog()), 0600u);
  EXPECT_EQ(fileMode(logsDir() / "auth.log"), 0600u);
  EXPECT_EQ(fileMode(logsDir()), 0700u);
  EXPECT_EQ(lastRecord()["tool"], "identify");
}

TEST_F(LogFilesEndToEnd, ARotatedErrorLogStartsAgainPrivate) {
  const fs::path errorLog = test::DaemonProcess(home_.path()).configuration().daemonErrorLogPath();
  fs::create_directories(errorLog.parent_path());
  std::ofstream(errorLog) << "old\n";
  fs::resize_file(errorLog, Configuration::logRotationThresholdBytes + 1);
  fs::permissions(errorLog, fs::perms(0644));

  startLogging();
  ASSERT_TRUE(fs::exists(errorLog.string() + ".1"));
  EXPECT_EQ(fileMode(errorLog), 0600u);
}

TEST_F(LogFilesEndToEnd, CredentialsUnderAnySpellingOfASensitiveKeyAreRedacted) {
  startLogging();
  const std::vector<std::string> redacted = {
      "password",    "Token",         "api-key",      "API Key",     "x-api-key",   "X-Auth-Token", "client_secret",
      "private_key", "github_token",  "passphrase",   "credentials", "db_password", "refresh-token", "Authorization",
      "session",     "user_session",  "set-cookie",   "apikey",
      // camelCase: a lower-case letter or digit before an upper-case one reads as "_".
      "accessToken", "refreshToken",  "clientSecret", "authToken",   "sessionToken", "userPassword", "bearerToken",
      "privateKey",  "apiKey",        "APIKey",       "oauth2Token", "secret_key",  "aws_secret_access_key",
      "AWS_SECRET_ACCESS_KEY", "awsAccessKey",
      // A run of capitals ends a word before its last one; words run together spell a name.
      "DBPassword",  "APIToken",      "AWSSecretKey", "SSHPrivateKey", "OAuthToken", "passPhrase",  "passWord",
      "pass_word",   "Pass-Phrase"};
  const std::vector<std::string> kept = {"max_tokens", "session_count", "token_count", "tokens",     "secretary",
                                         "passwords",  "keyword",       "tokenizer",   "private",    "key",
                                         "bearer_type", "api",          "credential_id", "monkey",   "keyboard",
                                         "maxTokens",  "sessionCount",  "secretKeys",  "accessKeyId",
                                         "TokenCount", "APITokens",     "DBPasswordHint"};
  Json arguments = Json::object();
  for (const auto& key : redacted) arguments[key] = "value of " + key;
  for (const auto& key : kept) arguments[key] = "value of " + key;
  arguments["nested"] = Json::array({Json{{"x-api-key", "k"}, {"page_token_count", 3}}});

  auto client = connect();
  call(*client, "health_check", arguments);
  const Json logged = lastRecord()["arguments"];
  for (const auto& key : redacted) EXPECT_EQ(logged[key], "[REDACTED]") << key;
  for (const auto& key : kept) EXPECT_EQ(logged[key], "value of " + key) << key;
  EXPECT_EQ(logged["nested"], Json::array({Json{{"x-api-key", "[REDACTED]"}, {"page_token_count", 3}}}));
}

TEST_F(LogFilesEndToEnd, ARecordPastTheFileSizeLimitIsCutBackAndTheDaemonLivesOn) {
  // 128 blocks of 512 bytes: room for small records, none for one with a 100 KB argument.
  // Without SIGXFSZ ignored, the write past the limit kills the daemon mid-record.
  startLogging("ulimit -f 128");
  auto client = connect();
  EXPECT_EQ(call(*client, "health_check", {{"call", "first"}})["_requestId"], 1);
  EXPECT_EQ(call(*client, "health_check", {{"call", "long"}, {"text", std::string(100000, 'x')}})["_requestId"], 2);
  EXPECT_EQ(call(*client, "health_check", {{"call", "after"}})["_requestId"], 3);

  // Whole lines only; the long record is gone without a trace.
  const std::string log = test::DaemonProcess::readFile(toolCallsLog());
  ASSERT_TRUE(log.ends_with('\n')) << log.substr(log.size() > 200 ? log.size() - 200 : 0);
  std::vector<std::string> calls;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) calls.push_back(parseJson(line)["arguments"]["call"]);
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "after"}));

  daemon_->signal(SIGTERM);
  EXPECT_EQ(daemon_->waitForExit(), 0) << daemon_->stderrText();
  const fs::path socket = daemon_->socketPath();
  for (const fs::path& left : {socket, socket.parent_path() / "admin.sock"}) EXPECT_FALSE(fs::exists(left)) << left;
  EXPECT_EQ(parseJson(test::DaemonProcess::readFile(daemon_->configuration().healthFilePath()))["status"], "unhealthy");
}

}  // namespace
}  // namespace qd
