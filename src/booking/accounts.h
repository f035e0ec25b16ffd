// Pieces shared by the account actions (login and logout, registration,
// password change) and their tests: the operating system's random source,
// the keyed hash under the password cipher and the password test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/request.h"
#include "base/text.h"
#include "module/table_guard.h"
#include "store/table.h"

namespace wo::accounts {

// Fills `buf` from getrandom(2). Throws std::runtime_error when the
// operating system refuses.
void SecureRandomBytes(void* buf, size_t len);
// A uniformly drawn integer in [0, bound), REQUIRES: bound > 0.
uint32_t SecureRandomBelow(uint32_t bound);

// SipHash-2-4 of `data` under the 128-bit key (k0, k1).
uint64_t SipHash24(uint64_t k0, uint64_t k1, std::string_view data);

// The cipher's limits: a password of up to kMaxPlainPassword bytes (any
// bytes) survives EncodePassword / DecodePassword unchanged; a longer one is
// cut to that. A stored form has at most kMaxStoredPassword characters, and
// exactly n + 1 for a password of n <= 14 bytes.
inline constexpr size_t kMaxPlainPassword = 43;
inline constexpr size_t kMaxStoredPassword = 45;

// The plain password of a stored form. False (and `plain` empty) for a text
// that EncodePassword never writes: a wrong length, a character outside the
// cipher's alphabet or a value out of range.
bool TryDecodePassword(std::string_view stored, std::string& plain);

// True when `stored` (WEBREG.PinKoodi as text) is a stored form whose plain
// password equals `typed`, byte for byte. A damaged or foreign form matches
// no password, not even the empty one.
bool PasswordMatches(std::string_view stored, std::string_view typed);

// The session ID of nobody logged in.
inline const std::string kNoSession = "0";

// WEBREG.Status of a blocked user: no login, no session, no password change.
inline constexpr int kBlockedStatus = 4;
// True when the current WEBREG row of `reg` is blocked (a null Status is not).
inline bool IsBlocked(store::Table& reg) { return reg.Int("Status") == kBlockedStatus; }

// The value of a query field (name compared without case), cut to `width`.
inline std::string QueryField(const Request& req, std::string_view name, size_t width) {
  return Cut(req.Field(name), width);
}

// Closes a table handle when the scope ends, on every path.
using CloseAtExit = TableGuard;

}  // namespace wo::accounts
