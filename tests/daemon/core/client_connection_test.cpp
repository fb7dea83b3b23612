#include "daemon/core/client_connection.h"

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/server_error.h"
#include "support/test_io.h"

namespace qd {
namespace {

class ClientConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
    peer.reset(fds[1]);
    connection = std::make_shared<ClientConnection>(io.get_executor(), UniqueFd(fds[0]), "client-7");
  }

  ConnectionError::Kind errorOf(asio::awaitable<void> operation) {
    try {
      test::runAwaitable(io, std::move(operation));
    } catch (const ConnectionError& e) {
      return e.kind();
    }
    ADD_FAILURE() << "no ConnectionError";
    return ConnectionError::Kind::readFailed;
  }

  static asio::awaitable<void> receiveOnce(std::shared_ptr<ClientConnection> connection) {
    (void)co_await connection->receive();
  }

  static asio::awaitable<void> sendOnce(std::shared_ptr<ClientConnection> connection, std::string text) {
    co_await connection->send(std::move(text));
  }

  asio::io_context io{1};
  UniqueFd peer;
  std::shared_ptr<ClientConnection> connection;
};

TEST_F(ClientConnectionTest, NothingIsWrittenOnceClosed) {
  connection->close();
  connection->close();  // once only
  EXPECT_EQ(errorOf(sendOnce(connection, "late")), ConnectionError::Kind::connectionClosed);
  char byte;
  EXPECT_EQ(::read(peer.get(), &byte, 1), 0);  // the end of the stream, no data
}

TEST_F(ClientConnectionTest, CloseEndsAPendingReceive) {
  bool ended = false;
  asio::co_spawn(io, receiveOnce(connection), [&](std::exception_ptr error) {
    ended = true;
    try {
      std::rethrow_exception(error);
    } catch (const ConnectionError& e) {
      EXPECT_EQ(e.kind(), ConnectionError::Kind::connectionClosed);
    }
  });
  io.poll();
  EXPECT_FALSE(ended);
  connection->close();
  io.restart();
  io.run_for(std::chrono::seconds(30));
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace qd
