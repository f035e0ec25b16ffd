#include "booking/login_throttle.h"

#include "store/schema.h"

namespace wo {

namespace {

constexpr std::string_view kTable = "WEBLOGINFAIL";

// The bounds of every date-time the store holds.
DateTime Earliest() { return EncodeDate(1, 1, 1); }
DateTime Latest() { return EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59); }

}  // namespace

LoginThrottle::LoginThrottle(store::Connection& c, LoginLimits limits, DateTime now)
    : t_(c, store::TableNamed(kTable), "", "Aika"),
      limits_(limits),
      now_(now),
      windowStart_(now - limits.lockMinutes / 1440.0) {}

LoginThrottle::~LoginThrottle() {
  try {
    t_.Close();
  } catch (...) {
  }
}

int LoginThrottle::Count(std::string_view index, std::string_view key) {
  t_.SetIndex(index);
  t_.SetRange({store::Txt(std::string(key)), store::Dt(windowStart_)},
              {store::Txt(std::string(key)), store::Dt(Latest())});
  return t_.RecordCount();
}

bool LoginThrottle::Locked(std::string_view user, std::string_view address) {
  if (limits_.lockMinutes <= 0) return false;
  // Old failures go as they are read, so the table holds one window's worth.
  t_.Open();
  t_.SetIndex("Aika");
  t_.SetRange({store::Dt(Earliest())}, {store::Dt(windowStart_ - 1.0 / 86400)});
  while (!t_.Eof()) t_.Delete();
  t_.CancelRange();
  if (limits_.perUser > 0 && !user.empty() && Count("Tunnus;Aika", user) >= limits_.perUser) return true;
  return limits_.perAddress > 0 && !address.empty() && Count("Osoite;Aika", address) >= limits_.perAddress;
}

bool LoginThrottle::AddressLocked(std::string_view address) {
  if (limits_.lockMinutes <= 0 || limits_.perAddress <= 0 || address.empty()) return false;
  t_.Open();
  const bool locked = Count("Osoite;Aika", address) >= limits_.perAddress;
  t_.Close();
  return locked;
}

void LoginThrottle::RecordFailure(std::string_view user, std::string_view address) {
  if (limits_.lockMinutes <= 0) return;
  t_.Open();
  t_.Append();
  t_["Tunnus"].SetText(user);
  t_["Osoite"].SetText(address);
  t_["Aika"].SetDateTime(now_);
  t_.Post();
}

void LoginThrottle::Clear(std::string_view user) {
  if (limits_.lockMinutes <= 0) return;
  t_.Open();
  t_.SetIndex("Tunnus;Aika");
  t_.SetRange({store::Txt(std::string(user))}, {store::Txt(std::string(user))});
  while (!t_.Eof()) t_.Delete();
}

}  // namespace wo
