#include "daemon/config/feature_tier.h"

namespace qd {

std::string toString(FeatureTier tier) {
  switch (tier) {
    case FeatureTier::release: return "release";
    case FeatureTier::beta: return "beta";
    case FeatureTier::dev: return "dev";
  }
  return "release";
}

std::optional<FeatureTier> featureTierFromString(std::string_view raw) {
  if (raw == "release") return FeatureTier::release;
  if (raw == "beta") return FeatureTier::beta;
  if (raw == "dev") return FeatureTier::dev;
  return std::nullopt;
}

}  // namespace qd
