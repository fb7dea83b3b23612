#include "daemon/security/secret_hasher.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace qd {
namespace {

TEST(SecretHasher, SecretAndSaltForms) {
  const std::regex secretForm("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  const std::regex saltForm("[A-Za-z0-9+/]{43}=");
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string secret = SecretHasher::generateSecret();
    const std::string salt = SecretHasher::generateSalt();
    EXPECT_TRUE(std::regex_match(secret, secretForm)) << secret;
    EXPECT_TRUE(std::regex_match(salt, saltForm)) << salt;
    seen.insert(secret);
    seen.insert(salt);
  }
  EXPECT_EQ(seen.size(), 40u);
}

TEST(SecretHasher, HashIsSha256OfSecretThenSaltInLowerCaseHex) {
  // SHA-256("abc"), split between secret and salt with no separator.
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(SecretHasher::hash("ab", "c"), abc);
  EXPECT_EQ(SecretHasher::hash("", "abc"), abc);
  EXPECT_EQ(SecretHasher::hash("", ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(SecretHasher, VerifyAcceptsOnlyTheExactHash) {
  const std::string salt = SecretHasher::generateSalt();
  const std::string stored = SecretHasher::hash("s3cret", salt);
  EXPECT_TRUE(SecretHasher::verify("s3cret", salt, stored));
  EXPECT_FALSE(SecretHasher::verify("s3cret ", salt, stored));
  EXPECT_FALSE(SecretHasher::verify("s3cret", salt + "x", stored));
  std::string upper = stored;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(SecretHasher::verify("s3cret", salt, upper));
  EXPECT_FALSE(SecretHasher::verify("s3cret", salt, stored.substr(0, 63)));
  EXPECT_FALSE(SecretHasher::verify("s3cret", salt, stored + "0"));
  EXPECT_FALSE(SecretHasher::verify("s3cret", salt, ""));
}

TEST(Uuid, CanonicalTextRoundTrips) {
  const Uuid id = Uuid::random();
  const std::string text = id.uuidString();
  EXPECT_TRUE(std::regex_match(text, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
  EXPECT_EQ(Uuid::parse(text), id);
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Uuid::parse(lower), id);
  for (const char* bad : {"", "not-a-uuid", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",
                          "E621E1F8C36C-495A-93FC-0C247A3E6E5F0", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F"}) {
    EXPECT_EQ(Uuid::parse(bad), std::nullopt) << bad;
  }
  EXPECT_NE(Uuid::random(), Uuid::random());
}

}  // namespace
}  // namespace qd
