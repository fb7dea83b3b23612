#include <gtest/gtest.h>

#include "daemon/providers/maps_provider.h"
#include "scripted_provider_harness.h"

namespace qd {
namespace {

TEST(MapsProvider, RepliesAfterThePreflight) {
  test::ScriptedProviderHarness harness;
  MapsToolProvider provider{"maps", FeatureTier::dev, harness.runner};
  const struct {
    Json arguments;
    std::string reply;
    std::size_t preflights;
  } cases[] = {
      {Json::object(), "Missing query", 1},
      {{{"operation", "search"}, {"query", "Café \"Nord\"\\1"}, {"limit", 3}},
       "Use Apple Maps app search for: Café \"Nord\"\\1", 1},
      {{{"operation", "directions"}, {"fromAddress", "A St"}, {"toAddress", ""}}, "Directions requested from 'A St' to ''.",
       1},
      {{{"operation", "directions"}, {"fromAddress", "A St"}}, "Missing fromAddress or toAddress", 1},
      {{{"operation", "pin"}},
       R"({"success":false,"error":"maps operation 'pin' is not yet fully implemented in provider"})", 1},
      {{{"operation", "createGuide"}},
       R"({"success":false,"error":"maps operation 'createGuide' is not yet fully implemented in provider"})", 1},
      {{{"operation", "Pin"}}, "Unsupported maps operation: Pin", 0},
  };
  for (const auto& c : cases) {
    harness.runner->runs.clear();
    EXPECT_EQ(harness.text(provider, "maps", c.arguments), c.reply) << c.arguments.dump();
    EXPECT_EQ(harness.preflights(), std::vector<std::string>(c.preflights, "permissions-maps")) << c.arguments.dump();
    EXPECT_TRUE(harness.scripts().empty());
  }
  harness.runner->runs.clear();
  EXPECT_TRUE(harness.text(provider, "maps", {{"operation", "help"}}).starts_with("# Apple Maps Operations"));
  EXPECT_TRUE(harness.runner->runs.empty());
  harness.refusePreflight("permissions-maps");
  EXPECT_TRUE(harness.failure(provider, "maps", {{"operation", "save"}}).ends_with("Details: Permission preflight failed"));
  EXPECT_FALSE(provider.canHandle("Maps"));
}

}  // namespace
}  // namespace qd
