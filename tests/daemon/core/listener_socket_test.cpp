#include "daemon/core/listener_socket.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon/core/server_error.h"
#include "support/temp_dir.h"

namespace {

// Called inside every listen(2) of this test program, before the socket listens, while a
// test sets it.
std::function<void()> beforeListen;

}  // namespace

// This program's own listen: the moment between bind and listen is where a client that
// found the socket's name would be refused, and here a test can stand in it.
extern "C" int listen(int fd, int backlog) noexcept {
  using Listen = int (*)(int, int);
  static const auto real = reinterpret_cast<Listen>(::dlsym(RTLD_NEXT, "listen"));
  if (beforeListen) beforeListen();
  return real(fd, backlog);
}

namespace qd {
namespace {

namespace fs = std::filesystem;

// What a client gets that connects to `path` now.
std::string connectOutcome(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  ::close(fd);
  return result == 0 ? "connected" : std::strerror(error);
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

struct ListenHook {
  explicit ListenHook(std::function<void()> hook) { beforeListen = std::move(hook); }
  ~ListenHook() { beforeListen = nullptr; }
};

// A client that connects the moment the name appears is never refused: the name does not
// exist until the socket listens, and no temporary name is left behind. The second case
// fills the longest socket path, where the temporary name must be no longer than the final
// one.
TEST(ListenerSocket, TheNameAppearsOnlyOnceTheSocketListens) {
  test::TempDir temp{"listen"};
  const std::string folder = temp.string() + "/";
  const std::vector<std::string> paths = {
      folder + "daemon.sock",
      folder + std::string(maxSocketPathBytes - folder.size() - 5, 'd') + ".sock",
  };
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_LE(path.size(), maxSocketPathBytes);
    std::vector<std::string> duringListen;
    UniqueFd listener;
    {
      ListenHook hook([&] { duringListen.push_back(connectOutcome(path)); });
      listener = openListeningSocket(path);
    }
    EXPECT_EQ(duringListen, std::vector<std::string>{std::strerror(ENOENT)});
    EXPECT_EQ(connectOutcome(path), "connected");
    EXPECT_EQ(namesIn(temp.path()), std::vector<std::string>{fs::path(path).filename().string()});
    ::unlink(path.c_str());
  }
}

// Whatever takes the name while the socket is being set up stays, untouched, and the start
// fails as a bind on it would.
TEST(ListenerSocket, AFileThatTakesTheNameMeanwhileIsNeverReplaced) {
  test::TempDir temp{"listen"};
  const std::string path = temp.string() + "/daemon.sock";
  ListenHook hook([&] { std::ofstream(path) << "precious"; });
  try {
    (void)openListeningSocket(path);
    ADD_FAILURE() << "expected the start to fail";
  } catch (const ServerError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Failed to bind Unix socket: ") + std::strerror(EADDRINUSE));
  }
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  EXPECT_EQ(namesIn(temp.path()), std::vector<std::string>{"daemon.sock"});
}

}  // namespace
}  // namespace qd
