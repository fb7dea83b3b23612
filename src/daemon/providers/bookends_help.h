#pragma once

#include <optional>
#include <string>

namespace qd::bookends {

// The full help of the Bookends tool.
const std::string& helpText();
// The detailed help of one topic ("search", "format", "list"), none for another name.
std::optional<std::string> topicHelp(const std::string& topic);

}  // namespace qd::bookends
