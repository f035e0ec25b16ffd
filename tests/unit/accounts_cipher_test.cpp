// The password cipher of WEBREG.PinKoodi: round trips, lengths, the
// alphabet of the stored form, the salt and the site key.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "booking/accounts.h"
#include "module/module.h"

namespace wo {
namespace {

// Restores the built-in key whatever a test set.
struct KeyReset {
  ~KeyReset() { SetPasswordKey(""); }
};

// The characters a stored form may hold: printable Windows-1252 characters
// that have a Unicode counterpart, without blanks and the soft hyphen.
bool StorableChar(char ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  if (c < 0x21 || c == 0x7f || c == 0xa0 || c == 0xad) return false;
  return c != 0x81 && c != 0x8d && c != 0x8f && c != 0x90 && c != 0x9d;
}

void ExpectStorable(const std::string& stored) {
  for (char ch : stored)
    EXPECT_TRUE(StorableChar(ch)) << "byte 0x" << std::hex << (static_cast<unsigned>(ch) & 0xff);
}

TEST(AccountsCipher, SipHashReferenceVectors) {
  // The vectors of the SipHash paper: key 00..0f, messages 00..(len-1).
  const uint64_t k0 = 0x0706050403020100ULL, k1 = 0x0f0e0d0c0b0a0908ULL;
  std::string msg;
  for (int i = 0; i < 15; ++i) msg += static_cast<char>(i);
  EXPECT_EQ(accounts::SipHash24(k0, k1, ""), 0x726fdb47dd0e0e31ULL);
  EXPECT_EQ(accounts::SipHash24(k0, k1, msg.substr(0, 8)), 0x93f5f5799a932462ULL);
  EXPECT_EQ(accounts::SipHash24(k0, k1, msg), 0xa129ca6149be45e5ULL);
}

TEST(AccountsCipher, FinnishPasswordsOfEveryLengthUpTo14) {
  const std::string finnish = "\xe4\xf6\xe5\xc4\xd6\xc5";
  const std::string mixed = "S\xe4hk\xf6-\xc5lands 9!~\xd6";
  for (size_t n = 0; n <= 14; ++n) {
    std::string allFinnish, someFinnish;
    for (size_t i = 0; i < n; ++i) {
      allFinnish += finnish[i % finnish.size()];
      someFinnish += mixed[i % mixed.size()];
    }
    for (const std::string& p : {allFinnish, someFinnish}) {
      std::string stored = EncodePassword(p);
      EXPECT_EQ(stored.size(), n + 1) << "length " << n;
      EXPECT_LE(stored.size(), 15u);
      ExpectStorable(stored);
      EXPECT_EQ(DecodePassword(stored), p) << "length " << n;
      EXPECT_TRUE(accounts::PasswordMatches(stored, p));
    }
  }
}

TEST(AccountsCipher, RandomBytesOfEveryLengthRoundTrip) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 3000; ++round) {
    size_t n = round % (accounts::kMaxPlainPassword + 1);
    std::string p(n, '\0');
    for (char& c : p) c = static_cast<char>(rng() & 0xff);
    std::string stored = EncodePassword(p);
    ASSERT_LE(stored.size(), accounts::kMaxStoredPassword);
    if (n <= 14) {
      EXPECT_EQ(stored.size(), n + 1);
    }
    ExpectStorable(stored);
    std::string back;
    ASSERT_TRUE(accounts::TryDecodePassword(stored, back)) << "length " << n;
    ASSERT_EQ(back, p) << "length " << n;
  }
}

TEST(AccountsCipher, InputIsCutToTheLongestStorablePassword) {
  std::string longer(60, 'x');
  for (size_t i = 0; i < longer.size(); ++i) longer[i] = static_cast<char>('a' + i % 26);
  std::string stored = EncodePassword(longer);
  EXPECT_LE(stored.size(), accounts::kMaxStoredPassword);
  EXPECT_EQ(DecodePassword(stored), longer.substr(0, accounts::kMaxPlainPassword));
  // A longer stored text is cut to 45 characters before it is read.
  std::string full = EncodePassword(longer.substr(0, accounts::kMaxPlainPassword));
  EXPECT_EQ(full.size(), accounts::kMaxStoredPassword);
  EXPECT_EQ(DecodePassword(full + "zz"), longer.substr(0, accounts::kMaxPlainPassword));
}

TEST(AccountsCipher, SaltMakesEachStoredFormDifferent) {
  for (const std::string& p : {std::string(""), std::string("s\xe4l"), std::string("\xe4\xf6\xe5\xc4\xd6\xc5kissa1234")}) {
    std::set<std::string> forms;
    for (int i = 0; i < 200; ++i) {
      std::string stored = EncodePassword(p);
      ASSERT_EQ(DecodePassword(stored), p);
      forms.insert(stored);
    }
    // Even the 14-character password has 18 salt values.
    EXPECT_GE(forms.size(), 12u) << "password of length " << p.size();
  }
}

TEST(AccountsCipher, TheSiteKeyIsNeededToReadAForm) {
  KeyReset reset;
  const std::string p = "Salasana\xe4\xf6";
  SetPasswordKey("the site's own secret");
  const std::string stored = EncodePassword(p);
  EXPECT_EQ(DecodePassword(stored), p);
  SetPasswordKey("another secret");
  EXPECT_NE(DecodePassword(stored), p);
  EXPECT_FALSE(accounts::PasswordMatches(stored, p));
  SetPasswordKey("");
  EXPECT_NE(DecodePassword(stored), p);
  SetPasswordKey("the site's own secret");
  EXPECT_EQ(DecodePassword(stored), p);
}

TEST(AccountsCipher, TextsTheCipherNeverWritesMatchNothing) {
  std::string plain = "left over";
  EXPECT_FALSE(accounts::TryDecodePassword("", plain));
  EXPECT_EQ(plain, "");
  EXPECT_FALSE(accounts::PasswordMatches("", ""));
  // A blank, a control byte and a character Windows-1252 lacks.
  EXPECT_FALSE(accounts::TryDecodePassword("ab c", plain));
  EXPECT_FALSE(accounts::TryDecodePassword("ab\tc", plain));
  EXPECT_FALSE(accounts::TryDecodePassword("ab\x81" "c", plain));
  // A length no password gets: 16 characters (14 bytes take 15, 15 take 17).
  EXPECT_EQ(EncodePassword(std::string(15, 'q')).size(), 17u);
  EXPECT_FALSE(accounts::TryDecodePassword(std::string(16, 'A'), plain));
  // The largest 15-character value lies beyond every 14-byte password.
  EXPECT_FALSE(accounts::TryDecodePassword(std::string(15, '\xff'), plain));
  EXPECT_FALSE(accounts::PasswordMatches(std::string(15, '\xff'), ""));
}

}  // namespace
}  // namespace wo
