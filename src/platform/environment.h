#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>

namespace qd::platform {

// A snapshot of environment variables. Components that read settings take one, so tests
// build their own instead of depending on the machine's environment.
class Environment {
 public:
  Environment() = default;
  explicit Environment(std::map<std::string, std::string> values) : values_(std::move(values)) {}
  Environment(std::initializer_list<std::pair<const std::string, std::string>> values) : values_(values) {}

  // The process environment as it is now.
  static Environment current();

  // The value when the variable is present, even when it is empty.
  std::optional<std::string> get(const std::string& name) const;
  void set(const std::string& name, std::string value) { values_[name] = std::move(value); }
  const std::map<std::string, std::string>& values() const { return values_; }

 private:
  std::map<std::string, std::string> values_;
};

}  // namespace qd::platform
