// The password cipher of WEBREG.PinKoodi, and the random source and keyed
// hash it is built on.
//
// Stored form. A password of n bytes (any byte values) is kept as L(n)
// characters drawn from an alphabet of 215 printable Windows-1252 characters:
// every character from "!" to "~", the defined characters of 0x80-0x9F and
// 0xA1-0xFF, without the blank, the no-break space and the soft hyphen
// (characters that other tools are apt to trim or drop). Each of them has a
// Unicode counterpart, so the form comes back unchanged from the store's
// Windows-1252 / UTF-8 conversion.
//
// Encoding, for a password p of n bytes:
//  1. A random salt s is drawn from [0, S(n)).
//  2. The bytes are scrambled under the site's key, the salt and n in two
//     passes: left to right, byte i is shifted (mod 256) by a pad of the
//     bytes before it; then right to left, by a pad of the bytes after it.
//     A pad is the low byte of SipHash-2-4 over (pass, s, n, i, context).
//     Every output byte so depends on every input byte, on the salt and on
//     the key; both passes are undone in the opposite order.
//  3. The scrambled bytes c, read as the number C = sum c_i * 256^i, and the
//     salt become M = C * S(n) + s, which is written as L(n) digits in base
//     215, most significant first, each digit the alphabet's character.
// L(n) is n + 1 when 215^(n+1) leaves room for at least 16 salt values above
// 256^n, which holds for every n <= 14; otherwise n + 2. S(n) is the number
// of salt values that room allows, at most 215. The longest password held is
// 43 bytes (L = 45); a longer one is cut to 43. Decoding reads n back from
// the length and refuses any text that the encoder cannot produce.
#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "module/password_cipher.h"

namespace wo {

void SecureRandomBytes(void* buf, size_t len) {
  auto* p = static_cast<unsigned char*>(buf);
  while (len > 0) {
    ssize_t got = getrandom(p, len, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("getrandom failed: ") + std::strerror(errno));
    }
    p += got;
    len -= static_cast<size_t>(got);
  }
}

uint32_t SecureRandomBelow(uint32_t bound) {
  // Accept only draws below the largest multiple of `bound`, so that every
  // result is equally likely.
  const uint64_t range = uint64_t{1} << 32;
  const uint64_t limit = range - range % bound;
  for (;;) {
    uint32_t v;
    SecureRandomBytes(&v, sizeof v);
    if (v < limit) return v % bound;
  }
}

namespace {

inline uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
  uint64_t v0, v1, v2, v3;
  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
  }
  void Absorb(uint64_t m) {
    v3 ^= m;
    Round();
    Round();
    v0 ^= m;
  }
};

}  // namespace

uint64_t SipHash24(uint64_t k0, uint64_t k1, std::string_view data) {
  SipState s{0x736f6d6570736575ULL ^ k0, 0x646f72616e646f6dULL ^ k1, 0x6c7967656e657261ULL ^ k0,
             0x7465646279746573ULL ^ k1};
  const size_t whole = data.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) {
    uint64_t m = 0;
    for (int b = 7; b >= 0; --b) m = (m << 8) | static_cast<unsigned char>(data[i + b]);
    s.Absorb(m);
  }
  uint64_t last = static_cast<uint64_t>(data.size() & 0xff) << 56;
  for (size_t i = whole; i < data.size(); ++i)
    last |= static_cast<uint64_t>(static_cast<unsigned char>(data[i])) << (8 * (i - whole));
  s.Absorb(last);
  s.v2 ^= 0xff;
  for (int r = 0; r < 4; ++r) s.Round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {

// ---- the alphabet of the stored form ----

constexpr uint32_t kBase = 215;

struct Alphabet {
  std::array<char, kBase> symbol{};
  std::array<int16_t, 256> index{};

  Alphabet() {
    index.fill(-1);
    size_t n = 0;
    auto add = [&](int c) {
      symbol[n] = static_cast<char>(c);
      index[static_cast<size_t>(c)] = static_cast<int16_t>(n);
      ++n;
    };
    for (int c = 0x21; c <= 0x7e; ++c) add(c);
    for (int c = 0x80; c <= 0x9f; ++c)
      if (c != 0x81 && c != 0x8d && c != 0x8f && c != 0x90 && c != 0x9d) add(c);
    for (int c = 0xa1; c <= 0xff; ++c)
      if (c != 0xad) add(c);
    if (n != kBase) throw std::logic_error("password alphabet has the wrong size");
  }
};

const Alphabet& TheAlphabet() {
  static const Alphabet a;
  return a;
}

// ---- a small unsigned big number, enough for 45 digits of base 215 ----

class BigNum {
 public:
  // *this = *this * mul + add.
  void MulAdd(uint32_t mul, uint32_t add) {
    uint64_t carry = add;
    for (uint32_t& limb : limbs_) {
      uint64_t v = static_cast<uint64_t>(limb) * mul + carry;
      limb = static_cast<uint32_t>(v);
      carry = v >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<uint32_t>(carry));
  }
  // *this = *this / div; returns the remainder.
  uint32_t DivMod(uint32_t div) {
    uint64_t rem = 0;
    for (size_t i = limbs_.size(); i-- > 0;) {
      uint64_t cur = (rem << 32) | limbs_[i];
      limbs_[i] = static_cast<uint32_t>(cur / div);
      rem = cur % div;
    }
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
    return static_cast<uint32_t>(rem);
  }
  bool IsZero() const { return limbs_.empty(); }
  // min(*this, cap) for a small cap.
  uint32_t AtMost(uint32_t cap) const {
    if (limbs_.size() > 1) return cap;
    uint32_t v = limbs_.empty() ? 0 : limbs_[0];
    return v < cap ? v : cap;
  }

 private:
  std::vector<uint32_t> limbs_;  // least significant first
};

// ---- stored length and salt count by password length ----

constexpr uint32_t kMinSalts = 16;

struct Layout {
  size_t storedLength = 0;
  uint32_t saltCount = 0;
};

struct Layouts {
  std::array<Layout, PasswordCipher::kMaxPlainPassword + 1> byPlain{};
  std::array<int, PasswordCipher::kMaxStoredPassword + 1> plainOfStored{};

  Layouts() {
    plainOfStored.fill(-1);
    for (size_t n = 0; n <= PasswordCipher::kMaxPlainPassword; ++n) {
      for (size_t len = n + 1;; ++len) {
        // floor(215^len / 256^n): the number of salt values that fit.
        BigNum room;
        room.MulAdd(1, 1);
        for (size_t i = 0; i < len; ++i) room.MulAdd(kBase, 0);
        for (size_t i = 0; i < n; ++i) room.DivMod(256);
        uint32_t salts = room.AtMost(kBase);
        if (salts >= kMinSalts) {
          if (len > PasswordCipher::kMaxStoredPassword || plainOfStored[len] != -1)
            throw std::logic_error("password layout does not fit");
          byPlain[n] = Layout{len, salts};
          plainOfStored[len] = static_cast<int>(n);
          break;
        }
      }
    }
  }
};

const Layouts& TheLayouts() {
  static const Layouts l;
  return l;
}

// ---- the key ----

constexpr uint64_t kBuiltInK0 = 0x5d3f9a1c7e2b4806ULL, kBuiltInK1 = 0xa4c1e97b3f02d658ULL;

struct Key {
  uint64_t k0, k1;
};

// The pad of byte i in the given pass: depends on the key, the salt, the
// password's length, the position and the context bytes.
unsigned char Pad(const Key& key, int pass, uint32_t salt, size_t n, size_t i, std::string_view context) {
  std::string msg;
  msg.reserve(4 + context.size());
  msg += static_cast<char>(pass);
  msg += static_cast<char>(salt);
  msg += static_cast<char>(n);
  msg += static_cast<char>(i);
  msg += context;
  return static_cast<unsigned char>(SipHash24(key.k0, key.k1, msg));
}

inline char Shift(char c, unsigned char by, bool back) {
  unsigned char u = static_cast<unsigned char>(c);
  return static_cast<char>(back ? u - by : u + by);
}

std::string Scramble(const Key& key, const std::string& p, uint32_t salt) {
  const size_t n = p.size();
  std::string c(n, '\0'), d(n, '\0');
  for (size_t i = 0; i < n; ++i)
    c[i] = Shift(p[i], Pad(key, 1, salt, n, i, std::string_view(p).substr(0, i)), false);
  for (size_t i = n; i-- > 0;)
    d[i] = Shift(c[i], Pad(key, 2, salt, n, i, std::string_view(c).substr(i + 1)), false);
  return d;
}

std::string Unscramble(const Key& key, const std::string& d, uint32_t salt) {
  const size_t n = d.size();
  std::string c(n, '\0'), p(n, '\0');
  for (size_t i = n; i-- > 0;)
    c[i] = Shift(d[i], Pad(key, 2, salt, n, i, std::string_view(c).substr(i + 1)), true);
  for (size_t i = 0; i < n; ++i)
    p[i] = Shift(c[i], Pad(key, 1, salt, n, i, std::string_view(p).substr(0, i)), true);
  return p;
}

}  // namespace

PasswordCipher::PasswordCipher(std::string_view siteKey) : k0_(kBuiltInK0), k1_(kBuiltInK1) {
  if (siteKey.empty()) return;
  const std::string key(siteKey);
  k0_ = SipHash24(kBuiltInK0, kBuiltInK1, "WebOrvane password key 0:" + key);
  k1_ = SipHash24(kBuiltInK0, kBuiltInK1, "WebOrvane password key 1:" + key);
}

bool PasswordCipher::TryDecode(std::string_view stored, std::string& plain) const {
  plain.clear();
  stored = stored.substr(0, kMaxStoredPassword);
  const int n = TheLayouts().plainOfStored[stored.size()];
  if (n < 0) return false;
  const Layout& lay = TheLayouts().byPlain[static_cast<size_t>(n)];
  const Alphabet& abc = TheAlphabet();
  BigNum m;
  for (char ch : stored) {
    int d = abc.index[static_cast<unsigned char>(ch)];
    if (d < 0) return false;
    m.MulAdd(kBase, static_cast<uint32_t>(d));
  }
  uint32_t salt = m.DivMod(lay.saltCount);
  std::string scrambled(static_cast<size_t>(n), '\0');
  for (char& c : scrambled) c = static_cast<char>(m.DivMod(256));
  if (!m.IsZero()) return false;
  plain = Unscramble(Key{k0_, k1_}, scrambled, salt);
  return true;
}

std::string PasswordCipher::Decode(std::string_view stored) const {
  std::string plain;
  TryDecode(stored, plain);
  return plain;
}

bool PasswordCipher::Matches(std::string_view stored, std::string_view typed) const {
  std::string plain;
  return TryDecode(stored, plain) && plain == typed;
}

std::string PasswordCipher::Encode(std::string_view plain) const {
  const std::string p(plain.substr(0, kMaxPlainPassword));
  const Layout& lay = TheLayouts().byPlain[p.size()];
  const uint32_t salt = SecureRandomBelow(lay.saltCount);
  const std::string scrambled = Scramble(Key{k0_, k1_}, p, salt);
  BigNum m;
  for (size_t i = scrambled.size(); i-- > 0;) m.MulAdd(256, static_cast<unsigned char>(scrambled[i]));
  m.MulAdd(lay.saltCount, salt);
  std::string out(lay.storedLength, '\0');
  for (size_t j = out.size(); j-- > 0;) out[j] = TheAlphabet().symbol[m.DivMod(kBase)];
  return out;
}

}  // namespace wo
