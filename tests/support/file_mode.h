#pragma once

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace qd::test {

// The permission bits of the file or folder at `path` (a link itself, not its target).
inline mode_t fileMode(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Sets the umask for its lifetime.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(saved_); }

 private:
  mode_t saved_;
};

}  // namespace qd::test
