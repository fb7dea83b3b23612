#include "daemon/core/unix_socket_server.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include <asio/bind_cancellation_slot.hpp>
#include <asio/redirect_error.hpp>

#include "daemon/core/client_connection.h"
#include "daemon/core/listener_socket.h"
#include "daemon/core/server_error.h"
#include "daemon/security/path_validator.h"
#include "server_fixture.h"
#include "socket_peer.h"

namespace qd {
namespace {

using test::SocketPeer;

class UnixSocketServerTest : public test::ServerFixture {
 protected:
  std::string startError() {
    try {
      server->start();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  std::vector<std::string> connectionErrors() const {
    std::vector<std::string> errors;
    for (const Json& line : logLines("Client connection error")) errors.push_back(line["metadata"]["error"]);
    return errors;
  }
};

TEST_F(UnixSocketServerTest, LinesOfOneWriteAreHandledOneByOneInOrderAndAnsweredInOrder) {
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("first\nsecond\n");
  EXPECT_EQ(peer.readLine(), "re:first");
  EXPECT_EQ(peer.readLine(), "re:second");
  EXPECT_EQ(handledLines(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(handled[0].clientId, "client-0");
}

TEST_F(UnixSocketServerTest, LinesReachTheHandlerUntrimmed) {
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("a\r\n\n  b \n");
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(peer.readLine());
  EXPECT_EQ(handledLines(), (std::vector<std::string>{"a\r", "", "  b "}));
}

TEST_F(UnixSocketServerTest, NoReplyForNoneAndTheNextLineIsStillRead) {
  reply = [](const std::string& line) -> std::optional<std::string> {
    if (line == "quiet") return std::nullopt;
    return "re:" + line;
  };
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("quiet\nloud\n");
  EXPECT_EQ(peer.readLine(), "re:loud");
  EXPECT_EQ(handledLines(), (std::vector<std::string>{"quiet", "loud"}));
}

TEST_F(UnixSocketServerTest, HandlerSeesThePeersIdentity) {
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("who\n");
  ASSERT_TRUE(peer.readLine());
  ASSERT_TRUE(handled[0].info);
  const ClientProcessInfo& info = *handled[0].info;
  EXPECT_EQ(info.pid, ::getpid());
  EXPECT_EQ(info.effectiveUserID, ::geteuid());
  EXPECT_EQ(info.effectiveGroupID, ::getegid());
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  EXPECT_EQ(info.executablePath, std::string(self));
  ASSERT_TRUE(info.startTime);
  EXPECT_EQ(info.startTime, processStartTime(::getpid()));
  EXPECT_GT(*info.startTime, 0u);
}

TEST_F(UnixSocketServerTest, PendingBytesUpToOneMebibyteAreAcceptedAndOneMoreClosesWithoutReply) {
  reply = [](const std::string& line) { return std::optional<std::string>("len:" + std::to_string(line.size())); };
  startServer();
  SocketPeer peer(io, socketPath);

  // 1,048,575 bytes and the line feed: exactly 1,048,576 bytes pending at most.
  peer.write(std::string(ClientConnection::maxPendingBytes - 1, 'x') + "\n");
  EXPECT_EQ(peer.readLine(), "len:1048575");

  // One byte more, with its line end in the same write: the connection ends unanswered.
  peer.write(std::string(ClientConnection::maxPendingBytes, 'y') + "\n");
  EXPECT_EQ(peer.readToEnd(), "");
  runUntil([&] { return !disconnected.empty(); });
  EXPECT_EQ(disconnected, (std::vector<std::string>{"client-0"}));
  EXPECT_EQ(handled.size(), 1u);
  EXPECT_EQ(connectionErrors(), (std::vector<std::string>{"messageTooLarge(maxBytes: 1048576)"}));
  EXPECT_EQ(server->getClientCount(), 0);
}

TEST_F(UnixSocketServerTest, TransportFaultsCloseTheConnectionWithoutReply) {
  struct Case {
    const char* name;
    std::string bytes;
    bool closeAfterWrite;
    std::vector<std::string> handledBeforeFault;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"invalid UTF-8", "ok\n\xff\xfe\nnever\n", false, {"ok"}, "invalidUTF8"},
      {"overlong encoding", "\xc0\xaf\n", false, {}, "invalidUTF8"},
      {"peer leaves mid-line", "done\npart", true, {"done"}, "connectionClosed"},
  };
  startServer();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    handled.clear();
    disconnected.clear();
    const std::size_t errorsBefore = connectionErrors().size();
    SocketPeer peer(io, socketPath);
    peer.write(c.bytes);
    if (c.closeAfterWrite) peer.shutdownWrite();
    std::string received = peer.readToEnd();
    runUntil([&] { return disconnected.size() == 1; });
    EXPECT_EQ(handledLines(), c.handledBeforeFault);
    EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), static_cast<long>(c.handledBeforeFault.size()));
    ASSERT_EQ(connectionErrors().size(), errorsBefore + 1);
    EXPECT_EQ(connectionErrors().back(), c.error);
  }
}

// The budget belongs to the client process, and every peer here is this test's process. It
// is consulted before every line, buffered ones too; a connection made again within the
// window is closed before its first line; once the window has passed lines are answered
// again. The refusals leave a warning a second, with the count left out, and no
// connection errors.
TEST_F(UnixSocketServerTest, RateLimitIsKeptPerClientProcessAcrossItsConnections) {
  rateLimit = 3;
  startServer();
  SocketPeer first(io, socketPath);
  first.write("1\n2\n3\n4\n5\n");
  EXPECT_EQ(first.readToEnd(), "re:1\nre:2\nre:3\n");
  const auto refusedUnread = [&] {
    SocketPeer again(io, socketPath);
    again.write("again\n");
    return again.readLine() == std::nullopt;
  };
  ASSERT_TRUE(refusedUnread());
  ASSERT_TRUE(refusedUnread());
  clock.advance(std::chrono::seconds(1));
  ASSERT_TRUE(refusedUnread());
  runUntil([&] { return disconnected.size() == 4; });
  EXPECT_EQ(handledLines(), (std::vector<std::string>{"1", "2", "3"}));

  clock.advance(std::chrono::seconds(60));
  SocketPeer later(io, socketPath);
  later.write("7\n8\n9\n10\n");
  EXPECT_EQ(later.readToEnd(), "re:7\nre:8\nre:9\n");
  runUntil([&] { return disconnected.size() == 5; });

  std::vector<Json> warnings;
  for (const Json& line : logLines("Rate limit exceeded")) warnings.push_back(line["metadata"]);
  const std::string self = "process " + std::to_string(::getpid()) + " started " +
                           std::to_string(processStartTime(::getpid()).value());
  const auto metadata = [&](int omitted) {
    return Json{{"clientID", self}, {"requests", 3}, {"limit", 3}, {"windowSeconds", 60}, {"omitted", omitted}};
  };
  EXPECT_EQ(warnings, (std::vector<Json>{metadata(0), metadata(2), metadata(0)}));
  EXPECT_EQ(connectionErrors(), std::vector<std::string>{});
}

asio::awaitable<std::optional<std::string>> failOnBoom(std::string line) {
  if (line == "boom") throw std::runtime_error("handler broke");
  co_return "re:" + line;
}

// Waits for the gate without taking part in cancellation, like a handler that finishes
// its work whatever happens to the connection.
asio::awaitable<std::optional<std::string>> answerWhenGateOpens(asio::steady_timer* gate, bool* entered,
                                                                bool* answered, std::string line) {
  *entered = true;
  std::error_code ignored;
  co_await gate->async_wait(
      asio::bind_cancellation_slot(asio::cancellation_slot(), asio::redirect_error(asio::use_awaitable, ignored)));
  *answered = true;
  co_return "late:" + line;
}

TEST_F(UnixSocketServerTest, HandlerFailureEndsOnlyThatConnection) {
  startServer();
  server->setMessageHandler([](std::string, std::optional<ClientProcessInfo>, std::string line) {
    return failOnBoom(std::move(line));
  });
  SocketPeer failing(io, socketPath);
  SocketPeer healthy(io, socketPath);
  failing.write("boom\n");
  EXPECT_EQ(failing.readToEnd(), "");
  healthy.write("fine\n");
  EXPECT_EQ(healthy.readLine(), "re:fine");
  runUntil([&] { return !disconnected.empty(); });
  EXPECT_EQ(disconnected, (std::vector<std::string>{"client-0"}));
  EXPECT_EQ(connectionErrors(), (std::vector<std::string>{"handler broke"}));
}

TEST_F(UnixSocketServerTest, AtMaxClientsTheNextPeerReadsWhyAndIsClosedAndLaterOnesGetIncreasingIds) {
  startServer(2);
  SocketPeer a(io, socketPath);
  SocketPeer b(io, socketPath);
  runUntil([&] { return server->getClientCount() == 2; });

  SocketPeer refused(io, socketPath);
  EXPECT_EQ(refused.readToEnd(), "{\"error\":\"Too many clients (max 2)\"}\n");
  ASSERT_EQ(logLines("Max clients reached, rejecting connection").size(), 1u);
  EXPECT_EQ(logLines("Max clients reached, rejecting connection")[0]["metadata"]["maxClients"], 2);
  EXPECT_EQ(server->getClientCount(), 2);

  a.close();
  runUntil([&] { return disconnected.size() == 1; });
  EXPECT_EQ(disconnected[0], "client-0");

  SocketPeer later(io, socketPath);
  later.write("hi\n");
  EXPECT_EQ(later.readLine(), "re:hi");
  b.write("hi\n");
  EXPECT_EQ(b.readLine(), "re:hi");
  ASSERT_EQ(handled.size(), 2u);
  EXPECT_EQ(handled[0].clientId, "client-2");
  EXPECT_EQ(handled[1].clientId, "client-1");
  auto ids = server->getClientIds();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"client-1", "client-2"}));
}

// Any local process can connect and close in a loop while the server is full: the refusals
// leave at most one warning a second, each counting the refusals it left out before it.
TEST_F(UnixSocketServerTest, RefusalsAtMaxClientsAreLoggedAtMostOnceASecondWithTheCountLeftOut) {
  startServer(1);
  SocketPeer held(io, socketPath);
  runUntil([&] { return server->getClientCount() == 1; });
  auto refuseOne = [&] {
    SocketPeer refused(io, socketPath);
    (void)refused.readToEnd();  // the server has refused it once it sees the end
  };
  auto logged = [&] {
    std::vector<Json> metadata;
    for (const Json& line : logLines("Max clients reached, rejecting connection")) metadata.push_back(line["metadata"]);
    return metadata;
  };

  for (int i = 0; i < 5; ++i) refuseOne();
  clock.advance(std::chrono::milliseconds(999));
  refuseOne();
  EXPECT_EQ(logged(), (std::vector<Json>{{{"maxClients", 1}, {"omitted", 0}}}));

  clock.advance(std::chrono::milliseconds(1));
  refuseOne();
  refuseOne();
  EXPECT_EQ(logged(), (std::vector<Json>{{{"maxClients", 1}, {"omitted", 0}}, {{"maxClients", 1}, {"omitted", 5}}}));
  EXPECT_EQ(server->getClientCount(), 1);
}

// A peer that ends its stream after a whole line has simply left: no warning (a peer that
// ends it inside a line is a fault, see TransportFaultsCloseTheConnectionWithoutReply).
TEST_F(UnixSocketServerTest, APeerThatHangsUpBetweenLinesLeavesNoWarning) {
  startServer();
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {{"after its answer", "bye\n"}, {"without a line", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    disconnected.clear();
    SocketPeer peer(io, socketPath);
    if (!c.bytes.empty()) {
      peer.write(c.bytes);
      EXPECT_EQ(peer.readLine(), "re:bye");
    }
    peer.close();
    runUntil([&] { return disconnected.size() == 1; });
  }
  EXPECT_EQ(connectionErrors(), std::vector<std::string>{});
}

TEST_F(UnixSocketServerTest, ConnectionsAcceptedBeforeTheHandlerAreReadOnceItIsInstalled) {
  makeServer();
  server->start();
  SocketPeer early(io, socketPath);
  early.write("waiting\n");
  runUntil([&] { return server->getClientCount() == 1; });
  installHandlers();
  EXPECT_EQ(early.readLine(), "re:waiting");
  EXPECT_EQ(handled.size(), 1u);
}

TEST_F(UnixSocketServerTest, SendToClientAndBroadcast) {
  startServer();
  SocketPeer first(io, socketPath);
  SocketPeer second(io, socketPath);
  runUntil([&] { return server->getClientCount() == 2; });

  test::runAwaitable(io, server->sendToClient("client-1", "just you"));
  EXPECT_EQ(second.readLine(), "just you");
  try {
    test::runAwaitable(io, server->sendToClient("client-9", "nobody"));
    ADD_FAILURE() << "expected clientNotFound";
  } catch (const ServerError& e) {
    EXPECT_EQ(e.kind(), ServerError::Kind::clientNotFound);
    EXPECT_STREQ(e.what(), "Client not found: client-9");
  }

  test::runAwaitable(io, server->broadcast("to all"));
  EXPECT_EQ(first.readLine(), "to all");
  EXPECT_EQ(second.readLine(), "to all");
}

TEST_F(UnixSocketServerTest, ShutdownClosesEverythingAndRemovesTheSocketFile) {
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("hello\n");
  EXPECT_EQ(peer.readLine(), "re:hello");

  server->shutdown();
  EXPECT_FALSE(test::exists(socketPath));
  EXPECT_FALSE(server->isListening());
  EXPECT_EQ(server->getClientCount(), 0);
  EXPECT_EQ(peer.readToEnd(), "");
  server->shutdown();  // a second call changes nothing

  runUntil([&] { return true; });
  EXPECT_TRUE(disconnected.empty());  // shutdown does not report departures
  EXPECT_TRUE(connectionErrors().empty());
  EXPECT_THROW((SocketPeer{io, socketPath}), std::system_error);
}

TEST_F(UnixSocketServerTest, AReplyFinishedAfterTheConnectionClosedIsNeverWritten) {
  // A handler that goes on although its task was cancelled, and answers after shutdown.
  asio::steady_timer gate(io, asio::steady_timer::time_point::max());
  bool entered = false;
  bool answered = false;
  startServer();
  server->setMessageHandler([&](std::string, std::optional<ClientProcessInfo>, std::string line) {
    return answerWhenGateOpens(&gate, &entered, &answered, std::move(line));
  });
  SocketPeer peer(io, socketPath);
  peer.write("slow\n");
  runUntil([&] { return entered; });

  server->shutdown();
  // Descriptors freed by the shutdown are taken by a pipe; a stray write would land there.
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
  gate.cancel();
  runUntil([&] { return answered; });
  runUntil([&] { return true; });

  char byte;
  EXPECT_EQ(::read(pipeFds[0], &byte, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  EXPECT_EQ(peer.readToEnd(), "");
}

TEST_F(UnixSocketServerTest, SocketFileIsOwnerOnlyFromItsCreationWhateverTheUmask) {
  for (mode_t mask : {mode_t{0000}, mode_t{0022}, mode_t{0077}, mode_t{0777}}) {
    SCOPED_TRACE(mask);
    test::ScopedUmask scoped(mask);
    auto probe = UnixSocketServer::create(io.get_executor(), socketPath, 10, options());
    probe->start();
    EXPECT_EQ(test::fileMode(socketPath), 0600);
    probe->shutdown();
  }
  // Bound, before any chmod: never more than 0600, even with a umask that masks nothing.
  test::ScopedUmask permissive(0);
  UniqueFd listener = openListeningSocket(socketPath);
  EXPECT_EQ(test::fileMode(socketPath), 0600);
  ::unlink(socketPath.c_str());
}

TEST_F(UnixSocketServerTest, AStartThatCannotSetTheModeLeavesNothingAndTheNextStartServes) {
  int attempts = 0;
  setSocketFileMode = [&attempts](const std::string& path) {
    if (++attempts == 1) {
      throw std::filesystem::filesystem_error("chmod", path, std::make_error_code(std::errc::operation_not_permitted));
    }
  };
  makeServer();
  EXPECT_THROW(server->start(), std::filesystem::filesystem_error);
  EXPECT_FALSE(server->isListening());
  EXPECT_FALSE(test::exists(socketPath));
  server->start();
  installHandlers();
  SocketPeer peer(io, socketPath);
  peer.write("served\n");
  EXPECT_EQ(peer.readLine(), "re:served");
}

TEST_F(UnixSocketServerTest, StaleSocketFileIsReplaced) {
  { UniqueFd leftover = openListeningSocket(socketPath); }  // closed, its file left behind
  ASSERT_TRUE(test::exists(socketPath));
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("fresh\n");
  EXPECT_EQ(peer.readLine(), "re:fresh");
}

TEST_F(UnixSocketServerTest, SomethingOtherThanASocketAtThePathIsLeftAloneAndStartFails) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
  };
  const std::vector<Case> cases = {
      {"regular file", [](const std::string& p) { std::ofstream(p) << "precious"; }},
      {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }},
      {"link to a socket", [this](const std::string& p) {
         UniqueFd other = openListeningSocket(dir + "/other.sock");
         std::filesystem::create_symlink(dir + "/other.sock", p);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make(socketPath);
    const auto before = std::filesystem::symlink_status(socketPath).type();
    makeServer();
    EXPECT_EQ(startError(), "Socket path is occupied by a file that is not a socket: " + socketPath);
    EXPECT_FALSE(server->isListening());
    EXPECT_EQ(std::filesystem::symlink_status(socketPath).type(), before);
    server->shutdown();
    EXPECT_EQ(std::filesystem::symlink_status(socketPath).type(), before);
    std::filesystem::remove_all(socketPath);
  }
  std::ofstream(socketPath) << "precious";
  makeServer();
  (void)startError();
  std::ifstream in(socketPath);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "precious");
}

TEST_F(UnixSocketServerTest, ShutdownRemovesOnlyTheFileItBound) {
  startServer();
  ::unlink(socketPath.c_str());
  std::ofstream(socketPath) << "someone else's";
  server->shutdown();
  EXPECT_TRUE(test::exists(socketPath));
}

TEST_F(UnixSocketServerTest, SocketPathLengthLimit) {
  const std::string prefix = dir + "/";
  const std::string fits = prefix + std::string(maxSocketPathBytes - prefix.size(), 'p');
  const std::string tooLong = prefix + std::string(maxSocketPathBytes + 1 - prefix.size(), 'p');
  ASSERT_EQ(fits.size(), 103u);

  socketPath = tooLong;
  makeServer();
  EXPECT_EQ(startError(), "Unix socket path exceeds sockaddr_un limit");

  socketPath = fits;
  startServer();
  SocketPeer peer(io, socketPath);
  peer.write("long\n");
  EXPECT_EQ(peer.readLine(), "re:long");
}

TEST_F(UnixSocketServerTest, PathOutsideTheAllowedFoldersIsRefused) {
  socketPath = "/var/qd-not-allowed.sock";
  makeServer();
  EXPECT_THROW(server->start(), ValidationError);
  EXPECT_FALSE(test::exists(socketPath));
}

class AcceptBackoffTest : public UnixSocketServerTest {
 protected:
  // Connects a peer with a descriptor made beforehand, so that it works while no new
  // descriptor can be made.
  UniqueFd connectPeer() {
    UniqueFd peer(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    EXPECT_EQ(::connect(peer.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return peer;
  }

  // While accepting fails: one line per pause, each pause twice the last, and nothing
  // while the third pause runs (not a line per failed accept).
  void expectThreePausesLogged() {
    runUntil([&] { return logLines("Accept failed").size() >= 3; });
    const auto failures = logLines("Accept failed");
    ASSERT_EQ(failures.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(failures[i]["metadata"]["error"], std::strerror(EMFILE));
      EXPECT_EQ(failures[i]["metadata"]["retryAfterMs"], 50 << i);
    }
  }

  // Once accepting works again the waiting peer is served.
  void expectServed(const UniqueFd& peer) {
    runUntil([&] { return server->getClientCount() == 1; });
    ASSERT_EQ(::write(peer.get(), "back\n", 5), 5);
    runUntil([&] { return handled.size() == 1; });
    EXPECT_EQ(handled[0].line, "back");
  }
};

TEST_F(AcceptBackoffTest, OutOfDescriptorsPausesLongerEachTimeAndRecovers) {
  bool exhausted = true;
  acceptConnection = [&](int listenFd) {
    if (exhausted) {
      errno = EMFILE;
      return -1;
    }
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  };
  startServer();
  UniqueFd peer = connectPeer();
  expectThreePausesLogged();
  exhausted = false;
  expectServed(peer);
}

#if !defined(__SANITIZE_ADDRESS__)
// The real refusal, with the open-file limit lowered for a moment. Not under the
// sanitizers: their memory checks need descriptors of their own and abort without them.
// No new descriptor can be made while it lives: the open-file limit is the lowest free number.
class DescriptorLimit {
 public:
  DescriptorLimit() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST_F(AcceptBackoffTest, RealDescriptorLimit) {
  startServer();
  UniqueFd peer = connectPeer();
  {
    DescriptorLimit limit;
    expectThreePausesLogged();
  }
  expectServed(peer);
}
#endif

}  // namespace
}  // namespace qd
