#include <gtest/gtest.h>

#include "daemon/providers/application_providers.h"
#include "recording_script_runner.h"

namespace qd {
namespace {

TEST(ApplicationProviders, BuiltInTheDaemonsOrderWithIdsAndTiers) {
  ProviderServices services;
  services.scriptRunner = std::make_shared<test::RecordingScriptRunner>();
  BlockingPool pool(1);
  services.blockingPool = &pool;
  services.calendarStores = platform::makeSystemCalendarStore;
  services.contactStores = platform::makeSystemContactStore;
  const auto providers = makeApplicationProviders(services);
  std::vector<std::pair<std::string, FeatureTier>> records;
  for (const auto& p : providers) records.emplace_back(p->providerID(), p->featureTier());
  EXPECT_EQ(records, (std::vector<std::pair<std::string, FeatureTier>>{{"bookends", FeatureTier::beta},
                                                                      {"omnifocus_consolidated", FeatureTier::beta},
                                                                      {"devonthink", FeatureTier::dev},
                                                                      {"time-server", FeatureTier::beta},
                                                                      {"contacts", FeatureTier::dev},
                                                                      {"notes", FeatureTier::dev},
                                                                      {"messages", FeatureTier::dev},
                                                                      {"mail", FeatureTier::dev},
                                                                      {"reminders", FeatureTier::dev},
                                                                      {"calendar", FeatureTier::dev},
                                                                      {"maps", FeatureTier::dev}}));
  // Each answers only its own tools.
  for (const char* tool : {"bookends", "omnifocus", "devonthink", "time_now", "contacts", "notes", "messages", "mail", "reminders", "calendar", "maps"}) {
    int accepting = 0;
    for (const auto& p : providers) accepting += p->canHandle(tool) ? 1 : 0;
    EXPECT_EQ(accepting, 1) << tool;
  }
}

}  // namespace
}  // namespace qd
