#include <gtest/gtest.h>

#include "daemon_fixture.h"

namespace qd {
namespace {

using TinderboxRuntimeTest = test::DaemonFixture;

// Without a supervisor (the note app disabled) each operation answers its denial as an
// error result; any other operation name is an error that lists the supported ones.
TEST_F(TinderboxRuntimeTest, DenialsWithoutASupervisorAndUnknownOperations) {
  const std::string supported = ". Supported operations: restart_tinderbox, open_tinderbox, quit_tinderbox";
  struct Case {
    Json arguments;
    const char* text;
    std::string error;
  };
  const Case cases[] = {
      {{{"operation", "restart_tinderbox"}},
       "Restart denied: no Tinderbox supervisor active (Tinderbox connection is disabled)", ""},
      {{{"operation", " open_tinderbox\n"}},
       "Start denied: no Tinderbox supervisor active (Tinderbox connection is disabled)", ""},
      {{{"operation", "quit_tinderbox"}}, "Stop denied: no Tinderbox supervisor active (Tinderbox connection is disabled)",
       ""},
      {{{"operation", "Open_Tinderbox"}}, nullptr, "Invalid parameter: Unknown runtime operation: Open_Tinderbox" + supported},
      {Json::object(), nullptr, "Invalid parameter: Unknown runtime operation: " + supported},
      {{{"operation", 7}}, nullptr, "Invalid parameter: Unknown runtime operation: " + supported},
  };
  for (const Case& c : cases) {
    try {
      const Json answer = test::runAwaitable(io_, daemon_->handleTinderboxRuntime(c.arguments));
      EXPECT_EQ(text(answer), c.text ? c.text : "<expected an error>") << c.arguments;
      EXPECT_EQ(answer.value("isError", false), true) << c.arguments;
    } catch (const Error& e) {
      EXPECT_EQ(e.description(), c.error) << c.arguments;
    }
  }
}

}  // namespace
}  // namespace qd
