// The password cipher of WEBREG.PinKoodi and the session IDs.
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>
#include <string>

#include "booking/session.h"
#include "module/password_cipher.h"

namespace wo {
namespace {

// Printable Windows-1252 characters with a Unicode counterpart, without
// blanks and the soft hyphen.
bool Storable(const std::string& stored) {
  for (char ch : stored) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x21 || c == 0x7f || c == 0xa0 || c == 0xad || c == 0x81 || c == 0x8d || c == 0x8f || c == 0x90 ||
        c == 0x9d)
      return false;
  }
  return true;
}

TEST(AccountsCipher, SipHashReferenceVectors) {
  const uint64_t k0 = 0x0706050403020100ULL, k1 = 0x0f0e0d0c0b0a0908ULL;
  const std::string msg("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e", 15);
  EXPECT_EQ(SipHash24(k0, k1, ""), 0x726fdb47dd0e0e31ULL);
  EXPECT_EQ(SipHash24(k0, k1, msg.substr(0, 8)), 0x93f5f5799a932462ULL);
  EXPECT_EQ(SipHash24(k0, k1, msg), 0xa129ca6149be45e5ULL);
}

TEST(AccountsCipher, FinnishPasswordsOfEveryLengthUpTo14) {
  const std::string finnish = "\xe4\xf6\xe5\xc4\xd6\xc5", mixed = "S\xe4hk\xf6-\xc5land 9!~\xd6";
  for (size_t n = 0; n <= 14; ++n) {
    std::string allFinnish, someFinnish;
    for (size_t i = 0; i < n; ++i) allFinnish += finnish[i % 6], someFinnish += mixed[i % mixed.size()];
    for (const std::string& p : {allFinnish, someFinnish}) {
      std::string stored = PasswordCipher().Encode(p);
      EXPECT_EQ(stored.size(), n + 1);
      EXPECT_TRUE(Storable(stored)) << stored;
      EXPECT_EQ(PasswordCipher().Decode(stored), p);
    }
  }
}

TEST(AccountsCipher, AnyBytesUpTo43RoundTripAndLongerAreCut) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 2000; ++round) {
    std::string p(round % (PasswordCipher::kMaxPlainPassword + 1), '\0');
    for (char& c : p) c = static_cast<char>(rng());
    std::string stored = PasswordCipher().Encode(p);
    ASSERT_LE(stored.size(), p.size() <= 14 ? p.size() + 1 : PasswordCipher::kMaxStoredPassword);
    ASSERT_TRUE(Storable(stored));
    ASSERT_EQ(PasswordCipher().Decode(stored), p) << "length " << p.size();
  }
  const std::string longer(60, 'x');
  EXPECT_EQ(PasswordCipher().Decode(PasswordCipher().Encode(longer)), longer.substr(0, PasswordCipher::kMaxPlainPassword));
}

TEST(AccountsCipher, SaltAndSiteKey) {
  const std::string p = "\xe4\xf6\xe5\xc4\xd6\xc5kissa1234";  // 14: the fewest salt values (18)
  std::set<std::string> forms;
  for (int i = 0; i < 200; ++i) forms.insert(PasswordCipher().Encode(p));
  EXPECT_GE(forms.size(), 12u);

  const PasswordCipher siteKey("the site's own secret"), anotherKey("another secret"), builtInKey;
  const std::string stored = siteKey.Encode(p);
  EXPECT_EQ(siteKey.Decode(stored), p);
  EXPECT_FALSE(anotherKey.Matches(stored, p));
  EXPECT_FALSE(builtInKey.Matches(stored, p));
  EXPECT_TRUE(builtInKey.Matches(builtInKey.Encode(p), p));
}

TEST(AccountsCipher, TextsTheCipherNeverWritesMatchNoPassword) {
  std::string plain;
  // Empty; a blank, a control byte, a character Windows-1252 lacks; a
  // length no password gets (14 bytes take 15, 15 take 17); a value beyond
  // every 14-byte password.
  for (const std::string bad : {"", "ab c", "ab\tc", "ab\x81" "c", "AAAAAAAAAAAAAAAA", "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"}) {
    EXPECT_FALSE(PasswordCipher().TryDecode(bad, plain)) << bad;
    EXPECT_FALSE(PasswordCipher().Matches(bad, "")) << bad;
  }
  EXPECT_EQ(PasswordCipher().Encode(std::string(15, 'q')).size(), 17u);
}

TEST(AccountsSessionId, LengthAlphabetAndNoSharedStoredPrefix) {
  std::set<std::string> stored;
  std::set<char> seen;
  for (int i = 0; i < 5000; ++i) {
    std::string id = MakeSessionId("         500123");
    ASSERT_EQ(id.size(), 6u + 16u);
    for (char c : id) ASSERT_TRUE(isalnum(static_cast<unsigned char>(c))) << id;
    stored.insert(id.substr(0, 15));  // what WEBREG.ID keeps
    seen.insert(id.begin(), id.end());
  }
  EXPECT_EQ(stored.size(), 5000u);
  EXPECT_EQ(seen.size(), 62u);
  EXPECT_EQ(MakeSessionId("").size(), 16u);
  EXPECT_EQ(MakeSessionId(" 42  ").size(), 18u);
  EXPECT_EQ(MakeSessionId("123456789012345").size(), 31u);
}

}  // namespace
}  // namespace wo
