#include "daemon/cli/arguments.h"

#include <algorithm>

namespace qd {

std::optional<std::string> argumentValue(std::string_view flag, const std::vector<std::string>& args) {
  auto it = std::find(args.begin(), args.end(), flag);
  if (it == args.end() || std::next(it) == args.end()) return std::nullopt;
  return *std::next(it);
}

}  // namespace qd
