#pragma once

#include <string_view>

namespace qd {

// Writes every byte to a blocking descriptor, retrying after interrupted and short writes.
// False when a write fails; errno then tells why.
bool writeAllToDescriptor(int fd, std::string_view bytes);

}  // namespace qd
