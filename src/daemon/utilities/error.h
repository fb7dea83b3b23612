#pragma once

#include <stdexcept>
#include <string>

namespace qd {

// The one base of every error the system throws. Each component derives its own error
// class with a kind enumeration; the fixed texts users and peers see are the
// descriptions, built once at construction.
class Error : public std::runtime_error {
 public:
  explicit Error(std::string description) : std::runtime_error(std::move(description)) {}
  std::string description() const { return what(); }
};

}  // namespace qd
