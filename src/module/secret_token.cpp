#include "module/secret_token.h"

#include <sodium.h>

#include <vector>

#include "module/password_cipher.h"

namespace wo {

namespace {

std::string Hex(const unsigned char* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

}  // namespace

std::string NewSecretToken(size_t bytes) {
  std::vector<unsigned char> b(bytes);
  SecureRandomBytes(b.data(), b.size());
  return Hex(b.data(), b.size());
}

std::string SecretTokenHash(std::string_view token) {
  unsigned char h[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(h, reinterpret_cast<const unsigned char*>(token.data()), token.size());
  return Hex(h, sizeof h);
}

}  // namespace wo
