#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qd {

// A random (version 4) UUID, the identity of registered agents and the source of their
// secrets. Its canonical text is upper-case 8-4-4-4-12 hexadecimal.
class Uuid {
 public:
  // From the system's secure random source.
  static Uuid random();
  // Canonical text in either letter case; none for anything else.
  static std::optional<Uuid> parse(std::string_view text);

  std::string uuidString() const;  // upper case
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

  friend auto operator<=>(const Uuid&, const Uuid&) = default;

 private:
  std::array<std::uint8_t, 16> bytes_{};
};

// Makes agent secrets and salts and computes and compares their salted SHA-256 hashes.
namespace SecretHasher {

// A new random UUID's text in lower case: 36 characters.
std::string generateSecret();
// 32 secure random bytes in padded base64 (44 characters); should the random source fail,
// a new UUID's upper-case text (36 characters) instead.
std::string generateSalt();
// SHA-256 of the secret's bytes followed by the salt's, as 64 lower-case hex digits.
std::string hash(std::string_view secret, std::string_view salt);
// Compares the hash of the pair with the stored one in time that depends only on the
// length, so a guess reveals nothing of how close it came. A stored hash of another length
// never verifies.
bool verify(std::string_view secret, std::string_view salt, std::string_view storedHash);

}  // namespace SecretHasher
}  // namespace qd
