#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qd {

// The value after the first argument equal to `flag`, whatever it looks like (it may
// itself be a flag); none when the flag is absent or is the last argument.
std::optional<std::string> argumentValue(std::string_view flag, const std::vector<std::string>& args);

}  // namespace qd
