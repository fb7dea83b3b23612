#include "platform/url_loader.h"

#include <gtest/gtest.h>

#include "support/local_http_server.h"

namespace qd::platform {
namespace {

TEST(UrlLoader, ABodyPastTheLimitEndsTheFetchAndNothingOfItIsKept) {
  test::LocalHttpServer server;
  const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
  server.set("/fits", {200, "", std::string(10, 'a')});
  server.set("/over", {200, "", std::string(11, 'a')});
  server.set("/moved", {302, "Location: /over\r\n", ""});
  UrlLoadOptions options;
  options.maxBodyBytes = 10;

  EXPECT_EQ(loadURL(origin + "/fits", options), std::string(10, 'a'));
  for (const char* path : {"/over", "/moved"}) {
    try {
      loadURL(origin + path, options);
      ADD_FAILURE() << path << " was read whole";
    } catch (const UrlLoadError& e) {
      EXPECT_STREQ(e.what(), "The response is larger than 10 bytes") << path;
    }
  }
}

}  // namespace
}  // namespace qd::platform
