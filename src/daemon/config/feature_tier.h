#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "daemon/utilities/json.h"
#include "daemon/utilities/json_codec.h"

namespace qd {

// The maturity threshold that hides providers and helper tools above the chosen tier.
// Ordered by declaration (release < beta < dev); the built-in comparisons of the enum
// follow that order.
enum class FeatureTier { release, beta, dev };

std::string toString(FeatureTier tier);  // "release", "beta", "dev"
// Exactly the three lower-case raw values; anything else is none.
std::optional<FeatureTier> featureTierFromString(std::string_view raw);

// JSON form: the raw value as a string. Reading anything else fails with DecodingError.
template <typename BasicJson>
void to_json(BasicJson& json, FeatureTier tier) {
  json = toString(tier);
}

template <typename BasicJson>
void from_json(const BasicJson& json, FeatureTier& tier) {
  if (!json.is_string()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, "Expected a feature tier string");
  }
  auto parsed = featureTierFromString(json.template get_ref<const std::string&>());
  if (!parsed) {
    throw DecodingError(DecodingError::Kind::dataCorrupted,
                        "Cannot initialize FeatureTier from invalid String value " +
                            json.template get_ref<const std::string&>());
  }
  tier = *parsed;
}

}  // namespace qd
