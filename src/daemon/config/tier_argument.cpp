#include "daemon/config/tier_argument.h"

#include <cstdlib>
#include <string_view>

namespace qd {

std::optional<std::string> tierArgument(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] && std::string_view(argv[i]) == "--tier") {
      if (i + 1 < argc && argv[i + 1]) return std::string(argv[i + 1]);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void applyTierArgument(int argc, const char* const* argv) {
  if (auto tier = tierArgument(argc, argv)) ::setenv("TINDERBOX_FEATURE_TIER", tier->c_str(), /*overwrite=*/1);
}

}  // namespace qd
