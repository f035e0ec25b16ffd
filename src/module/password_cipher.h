// The password cipher of WEBREG.PinKoodi under the site's key (INI
// [Security] PasswordKey), and the random source and keyed hash it is built
// on. A password of n <= 14 bytes is stored in n + 1 printable characters;
// any bytes up to kMaxPlainPassword round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace wo {

// Fills `buf` from getrandom(2). Throws std::runtime_error when the
// operating system refuses.
void SecureRandomBytes(void* buf, size_t len);
// A uniformly drawn integer in [0, bound), REQUIRES: bound > 0.
uint32_t SecureRandomBelow(uint32_t bound);

// SipHash-2-4 of `data` under the 128-bit key (k0, k1).
uint64_t SipHash24(uint64_t k0, uint64_t k1, std::string_view data);

class PasswordCipher {
 public:
  // The cipher's limits: a password of up to kMaxPlainPassword bytes (any
  // bytes) survives Encode / Decode unchanged; a longer one is cut to that.
  // A stored form has at most kMaxStoredPassword characters, and exactly
  // n + 1 for a password of n <= 14 bytes.
  static constexpr size_t kMaxPlainPassword = 43;
  static constexpr size_t kMaxStoredPassword = 45;

  // Under the site's key `siteKey` (its first 80 characters, as the INI
  // reader keeps them); an empty key is the built-in one.
  explicit PasswordCipher(std::string_view siteKey = {});

  // A new stored form of `plain`, salted at random.
  std::string Encode(std::string_view plain) const;
  // The plain password of a stored form. False (and `plain` empty) for a
  // text that Encode never writes: a wrong length, a character outside the
  // cipher's alphabet or a value out of range.
  bool TryDecode(std::string_view stored, std::string& plain) const;
  // The same, "" for such a text.
  std::string Decode(std::string_view stored) const;
  // True when `stored` is a stored form whose plain password equals
  // `typed`, byte for byte. A damaged or foreign form matches no password,
  // not even the empty one.
  bool Matches(std::string_view stored, std::string_view typed) const;

 private:
  uint64_t k0_, k1_;
};

}  // namespace wo
