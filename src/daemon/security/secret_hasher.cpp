#include "daemon/security/secret_hasher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/random.h>

#include <cctype>
#include <random>

#include "daemon/utilities/error.h"
#include "daemon/utilities/hex_text.h"

namespace qd {
namespace {

void fillRandom(std::uint8_t* data, std::size_t size) {
  if (RAND_bytes(data, static_cast<int>(size)) == 1) return;
  // An identity only has to be unique, not secret: the kernel's source, then the library's.
  if (::getrandom(data, size, 0) == static_cast<ssize_t>(size)) return;
  std::random_device device;
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(device());
}

}  // namespace

Uuid Uuid::random() {
  Uuid id;
  fillRandom(id.bytes_.data(), id.bytes_.size());
  id.bytes_[6] = static_cast<std::uint8_t>((id.bytes_[6] & 0x0f) | 0x40);  // version 4
  id.bytes_[8] = static_cast<std::uint8_t>((id.bytes_[8] & 0x3f) | 0x80);  // RFC 4122 variant
  return id;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Uuid id;
  std::size_t byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int high = hexDigitValue(text[i]);
    const int low = hexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    id.bytes_[byte++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  return id;
}

std::string Uuid::uuidString() const {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(digits[bytes_[i] >> 4]);
    out.push_back(digits[bytes_[i] & 0x0f]);
  }
  return out;
}

namespace SecretHasher {

std::string generateSecret() {
  std::string text = Uuid::random().uuidString();
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string generateSalt() {
  unsigned char raw[32];
  if (RAND_bytes(raw, sizeof raw) != 1) return Uuid::random().uuidString();
  unsigned char encoded[45];  // 4 * ceil(32 / 3) + the terminating NUL
  const int length = EVP_EncodeBlock(encoded, raw, sizeof raw);
  OPENSSL_cleanse(raw, sizeof raw);
  return std::string(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
}

std::string hash(std::string_view secret, std::string_view salt) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 &&
                  EVP_DigestUpdate(context, secret.data(), secret.size()) == 1 &&
                  EVP_DigestUpdate(context, salt.data(), salt.size()) == 1 &&
                  EVP_DigestFinal_ex(context, digest, &length) == 1;
  EVP_MD_CTX_free(context);
  // Only an allocation failure inside the library can get here; there is no hash to give.
  if (!ok) throw Error("SHA-256 is unavailable");
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    out.push_back(digits[digest[i] >> 4]);
    out.push_back(digits[digest[i] & 0x0f]);
  }
  return out;
}

bool verify(std::string_view secret, std::string_view salt, std::string_view storedHash) {
  const std::string computed = hash(secret, salt);
  if (computed.size() != storedHash.size()) return false;
  return CRYPTO_memcmp(computed.data(), storedHash.data(), computed.size()) == 0;
}

}  // namespace SecretHasher
}  // namespace qd
