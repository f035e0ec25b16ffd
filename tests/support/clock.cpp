#include "support/clock.h"

namespace wo::test {

namespace {

std::optional<DateTime>& Stopped() {
  static std::optional<DateTime> t;
  return t;
}

}  // namespace

DateTime TestNow() { return Stopped() ? *Stopped() : Now(); }

TestClock::TestClock(DateTime t) : before_(Stopped()) { Stopped() = t; }
TestClock::~TestClock() { Stopped() = before_; }
void TestClock::Set(DateTime t) { Stopped() = t; }

}  // namespace wo::test
