#pragma once

// The daemon's client on its Unix socket, used by client mode and the one-shot modes. It
// connects (retrying until the connection time-out), writes each request as one JSON line
// {"method", "_requestId", "params"}, and reads the daemon's reply lines in one receive
// loop, handing each reply to the caller that waits for its "_requestId". Any number of
// requests may be outstanding at once; replies may come in any order.
//
// Every request is completed exactly once, by whichever comes first: its reply, its
// time-out, a failure to encode or send it, the end of the connection, or shutdown().
// When the connection is lost (the daemon restarted, or closed it for its rate limit),
// every pending request fails with "Connection to daemon closed", or with the daemon's
// own words when its last line before the end was an error without a request id (the
// refusal of a client over its connection limit). The next request then connects again,
// retrying as start() does, and a failed reconnect fails it with "Failed to connect to
// daemon"; requests that arrive meanwhile wait for that same reconnect. A new connection
// is a new client to the daemon: nothing of the old one (an agent identity) carries over.
// Only start() makes the first connection, and after shutdown() nothing connects again.
//
// A request whose line would be longer than maxRequestLineBytes (1 MiB minus the daemon's
// 64 KiB read) is not sent: it fails with "Request too large for the daemon (over 1 MiB)"
// and the connection goes on. The size is checked first, before any (re)connect, so an
// oversized request never waits for the daemon while holding its text.
//
// Lives on the io thread: create it, start it and call it from there.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include "daemon/cli/client_error.h"
#include "daemon/core/client_connection.h"
#include "daemon/mcp/line_io.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/runtime/one_shot.h"
#include "daemon/utilities/json.h"

namespace qd {

class Configuration;

struct TinderboxClientOptions {
  std::string socketPath;
  // start() gives up once this has passed without a connection.
  std::chrono::milliseconds connectionTimeout{30000};
  // The same time-out for every request, counted from just before its line is sent.
  std::chrono::milliseconds requestTimeout{60000};
  // One connection attempt waits at most this long; a failed attempt pauses before the
  // next. Tests shorten both.
  std::chrono::milliseconds attemptWindow{1000};
  std::chrono::milliseconds retryPause{500};

  // The socket path and both time-outs of the configuration.
  static TinderboxClientOptions fromConfiguration(const Configuration& configuration);
};

class TinderboxClient : public std::enable_shared_from_this<TinderboxClient> {
 public:
  static std::shared_ptr<TinderboxClient> create(asio::any_io_executor executor, TinderboxClientOptions options);
  ~TinderboxClient();

  // Connects: attempts of at most `attemptWindow` each, `retryPause` between them, until
  // `connectionTimeout` has passed (the last attempt may begin up to one pause after it
  // and still runs its full window). Fails with ClientError::connectionFailed.
  asio::awaitable<void> start();

  // One "call_tool" of "notify" with {"agents": agents, "data": data}; the reply is not
  // examined.
  asio::awaitable<void> sendNotification(std::string agents, Json data);
  // One "call_tool"; the reply object without "_requestId".
  asio::awaitable<Json> callTool(std::string name, Json arguments);
  // One "list_tools"; the reply's "tools", which must be an array of objects
  // (invalidResponse otherwise).
  asio::awaitable<std::vector<Json>> listTools();
  // listTools() decoded as tools; one malformed tool fails the whole list with the
  // decoder's error.
  asio::awaitable<std::vector<MCPTool>> listToolsTyped();
  // callTool() decoded as a tool result; a reply that is not one becomes a text result
  // holding the reply as indented JSON, without isError. Never fails on the reply's shape.
  asio::awaitable<CallToolResult> callToolTyped(std::string name, Json arguments);

  // Fails every pending request with connectionClosed (a reconnect under way with
  // notConnected), closes the connection, logs "Client shutdown complete". Never fails;
  // repeatable. The client stays shut down.
  void shutdown();

  // Whether a connection is open now.
  bool isRunning() const { return isRunning_; }
  std::size_t pendingRequestCount() const { return pending_.size(); }

  // The most bytes of one request line, its line feed included. The daemon drops a
  // connection once more than maxPendingBytes wait after one read of readSize bytes, and
  // that read may carry the start of the next line (another call in flight): a line this
  // long, plus one read, always fits.
  static constexpr std::size_t maxRequestLineBytes = ClientConnection::maxPendingBytes - ClientConnection::readSize;

 private:
  struct PendingRequest {
    std::shared_ptr<OneShot<Json>> continuation;
    std::shared_ptr<asio::steady_timer> timeoutTimer;
  };
  // The callers waiting for one reconnect.
  using ReconnectWaiters = std::vector<std::shared_ptr<OneShot<std::monostate>>>;

  TinderboxClient(asio::any_io_executor executor, TinderboxClientOptions options);

  asio::awaitable<void> connectToDaemon();
  // A connected socket, or nullptr when this attempt failed or its window passed.
  asio::awaitable<std::shared_ptr<asio::posix::stream_descriptor>> attemptConnection();
  asio::awaitable<void> pause(std::chrono::milliseconds duration);
  // Returns with a connection open, reconnecting a lost one first (notConnected before the
  // first connection and after shutdown).
  asio::awaitable<void> ensureConnected();
  static asio::awaitable<void> reconnectTask(std::weak_ptr<TinderboxClient> weak,
                                             std::shared_ptr<ReconnectWaiters> waiters);

  // The reply object without "_requestId", or the error that completed the request.
  asio::awaitable<Json> sendToDaemon(std::string method, std::optional<Json> params);
  static asio::awaitable<void> sendTask(std::weak_ptr<TinderboxClient> weak, std::int64_t id,
                                        std::shared_ptr<LineWriter> writer, std::string line);
  static asio::awaitable<void> receiveLoop(std::weak_ptr<TinderboxClient> weak,
                                           std::shared_ptr<asio::posix::stream_descriptor> stream);
  void handleResponse(const std::string& line);
  void handleTimeout(std::int64_t id);
  void connectionLost(const std::string& errorText);
  // Closes the connection and fails every pending request with `reason`.
  void closeConnection(const std::exception_ptr& reason);
  std::optional<PendingRequest> takePending(std::int64_t id);

  asio::any_io_executor executor_;
  TinderboxClientOptions options_;
  std::shared_ptr<asio::posix::stream_descriptor> stream_;
  std::shared_ptr<LineWriter> writer_;
  std::map<std::int64_t, PendingRequest> pending_;
  std::int64_t nextRequestId_ = 0;
  bool isRunning_ = false;
  bool hasConnected_ = false;
  bool isShutDown_ = false;
  std::shared_ptr<ReconnectWaiters> reconnecting_;
  // The daemon's last line when it was an error without a request id: what it says about
  // a connection it is about to close. Any other line clears it.
  std::optional<std::string> lastUnmatchedError_;
};

}  // namespace qd
