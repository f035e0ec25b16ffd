// Secret tokens that travel in links (password-reset links, calendar feed
// addresses): random bytes written as lower-case hexadecimal, kept in the
// database only as their SHA-256, so that a copy of the database opens
// nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wo {

// `bytes` random bytes from the system's secure source, as 2 * bytes
// lower-case hexadecimal digits.
std::string NewSecretToken(size_t bytes);

// The stored form of a token: its SHA-256 as 64 lower-case hexadecimal
// digits.
std::string SecretTokenHash(std::string_view token);

}  // namespace wo
