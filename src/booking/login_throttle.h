// Login throttling: failed logins are kept in WEBLOGINFAIL, and once a user
// name or a client address has had its limit of failures within the lock
// window, further logins for it are refused without a password test until
// enough of those failures have aged out of the window. A successful login
// clears the user name's failures. The limits come from the INI's
// [Security] section (module/ini.h).
#pragma once

#include <string>
#include <string_view>

#include "store/database.h"
#include "base/datetime.h"
#include "store/table.h"

namespace wo {

// The INI's LoginFailuresPerUser, LoginFailuresPerAddress, LoginLockMinutes.
struct LoginLimits {
  int perUser;      // failures per user name; 0: no limit
  int perAddress;   // failures per client address; 0: no limit
  int lockMinutes;  // the window; 0: no throttling at all
};

class LoginThrottle {
 public:
  // REQUIRES (but for AddressLocked): run inside a write transaction of
  // `c` that also covers the password test, so that simultaneous guesses
  // are counted one by one.
  LoginThrottle(store::Connection& c, LoginLimits limits, DateTime now);
  ~LoginThrottle();
  LoginThrottle(const LoginThrottle&) = delete;
  LoginThrottle& operator=(const LoginThrottle&) = delete;

  // Deletes every failure older than the window, then tells whether `user`
  // or `address` (an empty name or address has no limit) has reached its
  // limit.
  bool Locked(std::string_view user, std::string_view address);
  // Whether `address` has reached its limit within the window, read
  // without pruning: needs no write transaction and writes nothing.
  bool AddressLocked(std::string_view address);
  // Records one failure.
  void RecordFailure(std::string_view user, std::string_view address);
  // Forgets the failures of `user`.
  void Clear(std::string_view user);

 private:
  int Count(std::string_view index, std::string_view key);
  store::Table t_;
  LoginLimits limits_;
  DateTime now_, windowStart_;
};

}  // namespace wo
