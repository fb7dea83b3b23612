#include "daemon/config/feature_tier.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "daemon/config/tier_argument.h"

namespace qd {
namespace {

TEST(FeatureTier, OrderedByDeclarationAndCodedAsItsRawValue) {
  EXPECT_LT(FeatureTier::release, FeatureTier::beta);
  EXPECT_LT(FeatureTier::beta, FeatureTier::dev);
  EXPECT_GE(FeatureTier::dev, FeatureTier::release);

  for (FeatureTier tier : {FeatureTier::release, FeatureTier::beta, FeatureTier::dev}) {
    const Json json = tier;
    EXPECT_TRUE(json.is_string());
    EXPECT_EQ(json.get<FeatureTier>(), tier);
    EXPECT_EQ(featureTierFromString(toString(tier)), tier);
  }
  EXPECT_EQ(Json(FeatureTier::beta), "beta");

  for (const char* raw : {"Beta", "RELEASE", "", "dev "}) EXPECT_FALSE(featureTierFromString(raw)) << raw;
  EXPECT_THROW(Json("Dev").get<FeatureTier>(), DecodingError);
  EXPECT_THROW(Json(1).get<FeatureTier>(), DecodingError);
}

TEST(TierArgument, TakesTheValueAfterTheFirstTierFlagUnchecked) {
  struct Case {
    std::vector<const char*> argv;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {{"qd", "--daemon", "--tier", "dev"}, "dev"},
      {{"qd", "--tier", "Beta", "--tier", "dev"}, "Beta"},
      {{"qd", "--tier", "--daemon"}, "--daemon"},
      {{"qd", "--daemon", "--tier"}, std::nullopt},
      {{"qd", "--daemon"}, std::nullopt},
      {{"--tier", "dev"}, std::nullopt},  // argv[0] is the program, not an argument
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tierArgument(static_cast<int>(c.argv.size()), c.argv.data()), c.expected);
  }
}

// Restores the variable whatever the test does, so no other test sees the change.
class TierVariableGuard {
 public:
  TierVariableGuard() {
    if (const char* v = std::getenv("TINDERBOX_FEATURE_TIER")) saved_ = v;
  }
  ~TierVariableGuard() {
    if (saved_) ::setenv("TINDERBOX_FEATURE_TIER", saved_->c_str(), 1);
    else ::unsetenv("TINDERBOX_FEATURE_TIER");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(TierArgument, OverridesTheInheritedVariableAndLeavesItAloneWithoutAValue) {
  TierVariableGuard guard;
  ::setenv("TINDERBOX_FEATURE_TIER", "release", 1);
  const char* last[] = {"qd", "--daemon", "--tier"};
  applyTierArgument(3, last);
  EXPECT_STREQ(std::getenv("TINDERBOX_FEATURE_TIER"), "release");

  const char* dev[] = {"qd", "--tier", "dev", "--daemon"};
  applyTierArgument(4, dev);
  EXPECT_STREQ(std::getenv("TINDERBOX_FEATURE_TIER"), "dev");
}

}  // namespace
}  // namespace qd
