// libFuzzer target: arbitrary bytes as the lines a client sends on the daemon's socket,
// handed to the daemon's dispatch as the socket server hands them. Every line must be
// answered by exactly one reply: one line (no line feed inside) holding a JSON object,
// carrying the line's "_requestId" when the line had a valid one.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>

#include "daemon/config/configuration.h"
#include "daemon/mcp/line_splitter.h"
#include "daemon/router/router.h"
#include "daemon/utilities/json.h"
#include "support/temp_dir.h"
#include "support/test_io.h"

namespace {

using qd::Json;

void fail(const char* what, const std::string& line, const std::string& reply) {
  std::fprintf(stderr, "%s\nline:  %s\nreply: %s\n", what, line.c_str(), reply.c_str());
  std::abort();
}

// One daemon for the whole run, built in a temporary HOME and not started (no socket, no
// note app, no background work), in the release tier with its default settings. No
// external program can be found: a line that reaches a tool running one fails to launch
// it instead of running it.
struct Daemon {
  Daemon()
      : configuration(qd::platform::Environment{{"HOME", home.string()},
                                                {"XDG_DATA_HOME", (home / "data").string()},
                                                {"XDG_STATE_HOME", (home / "state").string()},
                                                {"XDG_CONFIG_HOME", (home / "config").string()},
                                                {"TINDERBOX_FEATURE_TIER", "release"}}) {
    ::setenv("PATH", (home / "no-programs").c_str(), 1);
    daemon = qd::TinderboxDaemon::create(io.get_executor(), configuration);
    qd::test::runAwaitable(io, daemon->refreshToolCatalog());
  }
  qd::test::TempDir home{"fuzz-dispatch"};
  asio::io_context io;
  qd::Configuration configuration;
  std::shared_ptr<qd::TinderboxDaemon> daemon;
};

Daemon& daemon() {
  static Daemon instance;  // for the whole run; its HOME goes at exit
  return instance;
}

// The "_requestId" a well-formed line carries, if any.
std::optional<Json> requestId(const std::string& line) {
  try {
    Json raw = qd::parseJson(line);
    if (raw.is_object() && raw.contains("_requestId") && raw["_requestId"].is_number_integer()) return raw["_requestId"];
  } catch (...) {
  }
  return std::nullopt;
}

void checkLine(const std::string& line) {
  Daemon& d = daemon();
  std::optional<std::string> reply =
      qd::test::runAwaitable(d.io, d.daemon->handleClientMessage("fuzz-client", std::nullopt, line));
  if (!reply) fail("a line without a reply", line, "");
  if (reply->find('\n') != std::string::npos) fail("a reply of more than one line", line, *reply);
  Json parsed;
  try {
    parsed = qd::parseJson(*reply);
  } catch (...) {
    fail("a reply that is not JSON", line, *reply);
  }
  if (!parsed.is_object()) fail("a reply that is not an object", line, *reply);
  const std::optional<Json> id = requestId(line);
  if (id && parsed.contains("_requestId") && parsed["_requestId"] != *id) fail("a reply with another id", line, *reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Lines as the socket server frames them: split at line feeds, empty ones skipped.
  qd::LineSplitter splitter;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  bytes.push_back('\n');
  for (const auto& line : splitter.append(bytes)) checkLine(line);
  return 0;
}
