#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/write.hpp>

#include "daemon/mcp/mcp_client.h"
#include "daemon/mcp/stdio_server_transport.h"
#include "daemon/mcp/stdio_transport.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/mcp/unix_socket_transport.h"
#include "support/process_table.h"
#include "support/test_io.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::runAwaitable;

const auto* const orphanReaper = testing::AddGlobalTestEnvironment(new test::OrphanReaper);

struct Pipe {
  UniqueFd read, write;
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read.reset(fds[0]);
    write.reset(fds[1]);
  }
};

void writeAll(int fd, const std::string& text) { ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

std::string readSome(int fd) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
}

// Runs the context until `lines` holds `count` lines.
void runUntil(asio::io_context& io, const std::vector<std::string>& lines, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  io.restart();
  while (lines.size() < count && std::chrono::steady_clock::now() < deadline) io.run_one_for(100ms);
}

TransportError::Kind failureKind(asio::io_context& io, asio::awaitable<void> operation) {
  try {
    runAwaitable(io, std::move(operation));
  } catch (const TransportError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no TransportError";
  return TransportError::Kind::readFailed;
}

TEST(StdioServerTransport, ReadsLinesWritesFramedMessagesAndStopsOnAFailedWrite) {
  asio::io_context io;
  Pipe in, out;
  auto transport = std::make_shared<StdioServerTransport>(io.get_executor(), in.read.get(), out.write.get());
  EXPECT_EQ(failureKind(io, transport->send("early")), TransportError::Kind::connectionClosed);

  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  writeAll(in.write.get(), "\n\n{\"a\":");
  writeAll(in.write.get(), "1}\nsecond\n");
  runUntil(io, lines, 2);
  EXPECT_EQ(lines, (std::vector<std::string>{"{\"a\":1}", "second"}));

  runAwaitable(io, transport->send("{\"b\":2}"));
  EXPECT_EQ(readSome(out.read.get()), "{\"b\":2}\n");

  // The reader of standard output is gone: a write error, then the transport is closed.
  out.read.reset();
  EXPECT_EQ(failureKind(io, transport->send("lost")), TransportError::Kind::writeFailed);
  EXPECT_EQ(failureKind(io, transport->send("lost")), TransportError::Kind::connectionClosed);

  // close() ends the blocked read: nothing is left for the context to do, and what is
  // written afterwards is never read.
  runAwaitable(io, transport->close());
  writeAll(in.write.get(), "late\n");
  io.restart();
  io.run_for(50ms);
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_EQ(fcntl(in.read.get(), F_GETFD), FD_CLOEXEC);  // our own descriptor is left open
}

TEST(StdioServerTransport, ReadsNothingWhilePausedAndReportsTheEndOfInputAfterTheLastLine) {
  asio::io_context io;
  Pipe in, out;
  auto transport = std::make_shared<StdioServerTransport>(io.get_executor(), in.read.get(), out.write.get());
  std::vector<std::string> lines;
  std::size_t linesAtEnd = 0;
  bool ended = false;
  transport->setInputEndedHandler([&] {
    ended = true;
    linesAtEnd = lines.size();
  });
  runAwaitable(io, transport->start([&](std::string line) {
    // Paused from inside delivery, the way the server does it.
    if (line == "pause") transport->pauseReading();
    lines.push_back(std::move(line));
  }));
  writeAll(in.write.get(), "pause\n");
  runUntil(io, lines, 1);
  writeAll(in.write.get(), "held\n");
  for (int i = 0; i < 5; ++i) {
    io.restart();
    io.poll();
  }
  EXPECT_EQ(lines, std::vector<std::string>{"pause"});

  transport->resumeReading();
  in.write.reset();  // end of input right behind the held line
  runUntil(io, lines, 2);
  io.restart();
  while (!ended && io.run_one_for(1s) > 0) {
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(linesAtEnd, 2u);
  runAwaitable(io, transport->close());
}

TEST(StdioServerTransport, WorksWhenStandardInputAndOutputAreRegularFiles) {
  asio::io_context io;
  const test::TempDir dir("stdio");
  const std::string inPath = (dir / "in").string(), outPath = (dir / "out").string();
  {
    UniqueFd f(::open(inPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    writeAll(f.get(), "one\ntwo\nunterminated");
  }
  UniqueFd input(::open(inPath.c_str(), O_RDONLY | O_CLOEXEC));
  UniqueFd output(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  auto transport = std::make_shared<StdioServerTransport>(io.get_executor(), input.get(), output.get());
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  runUntil(io, lines, 2);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
  runAwaitable(io, transport->send("reply"));
  runAwaitable(io, transport->close());
  UniqueFd check(::open(outPath.c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(readSome(check.get()), "reply\n");

  // /dev/null as standard input: no lines, no failure.
  UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  auto quiet = std::make_shared<StdioServerTransport>(io.get_executor(), devNull.get(), output.get());
  bool ended = false;
  quiet->setInputEndedHandler([&] { ended = true; });
  runAwaitable(io, quiet->start([&](std::string line) { lines.push_back(std::move(line)); }));
  test::runUntil(io, [&] { return ended; });
  runAwaitable(io, quiet->close());
  EXPECT_EQ(lines.size(), 2u);
}

TEST(StdioServerTransport, ALineOverTheLimitIsDroppedAndReportedWhetherInputIsAPipeOrAFile) {
  const std::string oversized(StdioServerTransport::maxLineBytes + 1, 'x');
  const std::string input = "first\n" + oversized + "\nnext\n";
  const test::TempDir dir("stdio");
  const std::string filePath = (dir / "in").string();
  {
    UniqueFd f(::open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    writeAll(f.get(), input);
  }
  for (const bool fromFile : {false, true}) {
    asio::io_context io;
    Pipe pipe, out;
    UniqueFd file(::open(filePath.c_str(), O_RDONLY | O_CLOEXEC));
    auto transport = std::make_shared<StdioServerTransport>(io.get_executor(),
                                                            fromFile ? file.get() : pipe.read.get(), out.write.get());
    std::vector<std::string> lines;
    std::vector<std::size_t> dropped;
    transport->setOversizedLineHandler([&](OversizedLine line) {
      if (line.ended) dropped.push_back(line.bytes);
    });
    runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
    // A pipe holds far less than the line: it is written while the transport reads it.
    std::thread writer;
    if (!fromFile) {
      writer = std::thread([&] {
        writeAll(pipe.write.get(), input);
        pipe.write.reset();
      });
    }
    runUntil(io, lines, 2);
    if (writer.joinable()) writer.join();
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "next"})) << fromFile;
    EXPECT_EQ(dropped, std::vector<std::size_t>{oversized.size()}) << fromFile;
    runAwaitable(io, transport->close());
  }
}

TEST(StdioTransport, TalksToAChildOverItsStandardStreams) {
  asio::io_context io;
  ::setenv("QD_TRANSPORT_TEST_A", "inherited", 1);
  auto transport = std::make_shared<StdioTransport>(
      io.get_executor(), "/bin/sh",
      std::vector<std::string>{"-c", "echo \"$QD_TRANSPORT_TEST_A,$QD_TRANSPORT_TEST_B\"; exec cat"},
      std::map<std::string, std::string>{{"QD_TRANSPORT_TEST_B", "1"}});
  EXPECT_EQ(failureKind(io, transport->send("early")), TransportError::Kind::connectionClosed);
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  EXPECT_TRUE(transport->processIsRunning());
  ASSERT_TRUE(transport->processPID().has_value());
  runAwaitable(io, transport->send("ping"));
  runUntil(io, lines, 2);
  EXPECT_EQ(lines, (std::vector<std::string>{"inherited,1", "ping"}));

  const pid_t group = *transport->processPID();
  runAwaitable(io, transport->close());  // cat ends on SIGTERM
  EXPECT_FALSE(transport->processPID().has_value());
  EXPECT_FALSE(transport->processIsRunning());
  EXPECT_EQ(failureKind(io, transport->send("late")), TransportError::Kind::connectionClosed);
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST(StdioTransport, AChildWhoseLineNeverEndsIsStoppedAndWhatWaitsOnItFailsAtOnce) {
  test::StderrCapture stderrCapture;
  asio::io_context io;
  // Reads one request, then writes bytes without a line end for ever.
  auto transport = std::make_shared<StdioTransport>(
      io.get_executor(), "/bin/sh", std::vector<std::string>{"-c", "read request; exec tr -d '\\n' < /dev/zero"});
  auto client = MCPClient::create(io.get_executor(), transport, {"test", "1"}, 600);
  runAwaitable(io, client->start());
  const pid_t group = *transport->processPID();
  // Far sooner than the request's own 600 s: the child's output is over once it is too long.
  try {
    runAwaitable(io, client->ping());
    ADD_FAILURE() << "the ping was answered";
  } catch (const TransportError& e) {
    EXPECT_EQ(e.kind(), TransportError::Kind::connectionClosed);
  }
  test::runUntil(io, [&] { return !transport->processIsRunning(); });
  EXPECT_NE(stderrCapture.text().find("Process output line too long, stopping the process"), std::string::npos);
  runAwaitable(io, transport->close());
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST(StdioTransport, AProgramThatCannotStartFailsTheStartNamingIt) {
  asio::io_context io;
  auto transport = std::make_shared<StdioTransport>(io.get_executor(), "/nonexistent/server", std::vector<std::string>{});
  try {
    runAwaitable(io, transport->start([](std::string) {}));
    ADD_FAILURE() << "the start succeeded";
  } catch (const TransportError& e) {
    EXPECT_EQ(e.kind(), TransportError::Kind::processStartFailed);
    EXPECT_EQ(e.description(), "Could not start /nonexistent/server: No such file or directory");
  }
  runAwaitable(io, transport->close());
}

// The descriptions reach AI clients and the logs: words, never the type's spelling.
TEST(TransportError, DescriptionsReadInWords) {
  const struct {
    TransportError error;
    const char* description;
  } cases[] = {
      {TransportError::connectionClosed(), "Connection closed"},
      {TransportError::writeFailed("Broken pipe"), "Could not write to the connection: Broken pipe"},
      {TransportError::readFailed("Connection reset by peer"), "Could not read from the connection: Connection reset by peer"},
      {TransportError::connectionFailed("Socket path too long"), "Socket path too long"},
      {TransportError::timeout("no answer"), "The transport timed out: no answer"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.description(), c.description);
}

TEST(StdioTransport, CloseKillsAGroupThatIgnoresTerminationAndLeavesNoProcess) {
  test::StderrCapture stderrCapture;
  asio::io_context io;
  auto transport = std::make_shared<StdioTransport>(
      io.get_executor(), "/bin/sh", std::vector<std::string>{"-c", "trap '' TERM; sleep 1000 & echo ready; wait"},
      std::nullopt, 200ms);
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  runUntil(io, lines, 1);
  const pid_t group = *transport->processPID();
  runAwaitable(io, transport->close());
  EXPECT_NE(stderrCapture.text().find("Process did not exit after terminate, sending SIGKILL"), std::string::npos);
  EXPECT_NE(stderrCapture.text().find("\"timeoutSeconds\":0.2"), std::string::npos);
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

TEST(StdioTransport, CloseOfAChildThatAlreadyEndedSendsNothing) {
  test::StderrCapture stderrCapture;
  asio::io_context io;
  auto transport = std::make_shared<StdioTransport>(io.get_executor(), "/bin/sh", std::vector<std::string>{"-c", "echo bye"});
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  runUntil(io, lines, 1);
  while (transport->processIsRunning()) io.run_one_for(20ms);
  runAwaitable(io, transport->close());
  EXPECT_EQ(stderrCapture.text().find("SIGKILL"), std::string::npos);
}

TEST(UnixSocketTransport, RefusesBadPathsBeforeConnecting) {
  asio::io_context io;
  const std::string tooLong = "/tmp/" + std::string(98, 'x');  // 103 bytes + NUL = 104
  ASSERT_EQ(tooLong.size(), 103u);
  try {
    connectUnixSocket(tooLong + "y");
    FAIL();
  } catch (const TransportError& e) {
    EXPECT_EQ(e.detail(), "Socket path too long");
  }
  try {
    connectUnixSocket(tooLong);  // fits, but nothing listens there
    FAIL();
  } catch (const TransportError& e) {
    EXPECT_EQ(e.detail(), "Failed to connect to " + tooLong + ": No such file or directory");
    EXPECT_EQ(e.description(), e.detail());
  }
}

TEST(UnixSocketTransport, ExchangesLinesAndCloseEndsTheBlockedRead) {
  asio::io_context io;
  const test::TempDir dir("sock");
  const std::string path = (dir / "s.sock").string();
  asio::local::stream_protocol::acceptor acceptor(io, asio::local::stream_protocol::endpoint(path));

  auto transport = std::make_shared<UnixSocketTransport>(io.get_executor(), path);
  EXPECT_EQ(failureKind(io, transport->send("early")), TransportError::Kind::connectionClosed);
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  asio::local::stream_protocol::socket peer(io);
  acceptor.accept(peer);
  runAwaitable(io, transport->send("hello"));
  char buffer[16];
  EXPECT_EQ(peer.read_some(asio::buffer(buffer)), 6u);
  EXPECT_EQ(std::string(buffer, 6), "hello\n");
  asio::write(peer, asio::buffer(std::string("a\nb\n")));
  runUntil(io, lines, 2);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));

  runAwaitable(io, transport->close());
  runAwaitable(io, transport->close());
  io.restart();
  io.run_for(50ms);
  EXPECT_TRUE(io.stopped());  // the read ended with the close: no work left
  EXPECT_EQ(failureKind(io, transport->send("late")), TransportError::Kind::connectionClosed);
}

}  // namespace
}  // namespace qd

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::runAwaitable;

// A child that says goodbye on SIGTERM must still have its pipes then: it ends by its own
// exit, not by SIGPIPE, and leaves its marker.
TEST(StdioTransport, CloseStopsTheChildBeforeItClosesThePipes) {
  test::TempDir dir;
  const std::string marker = (dir / "said-goodbye").string();
  asio::io_context io;
  auto transport = std::make_shared<StdioTransport>(
      io.get_executor(), "/bin/sh",
      std::vector<std::string>{"-c",
                               "trap 'echo bye; echo bye >&2; touch \"$0\"; exit 0' TERM; echo ready; "
                               "while :; do sleep 0.05; done",
                               marker});
  std::vector<std::string> lines;
  runAwaitable(io, transport->start([&](std::string line) { lines.push_back(std::move(line)); }));
  runUntil(io, lines, 1);
  const pid_t group = *transport->processPID();
  runAwaitable(io, transport->close());
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_TRUE(test::groupEmptiesWithin(group, 60s));
}

}  // namespace
}  // namespace qd
