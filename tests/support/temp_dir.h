#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace qd::test {

// A fresh folder /tmp/qd-<name>-XXXXXX for one test, removed with everything in it at the
// end. Under /tmp rather than $TMPDIR so socket paths inside stay short.
class TempDir {
 public:
  explicit TempDir(std::string_view name = "test") {
    std::string pattern = "/tmp/qd-" + std::string(name) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string string() const { return path_.string(); }
  std::filesystem::path operator/(std::string_view child) const { return path_ / child; }

 private:
  std::filesystem::path path_;
};

}  // namespace qd::test
