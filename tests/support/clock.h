// The clock of the requests that tests serve in this process: the modules
// the harnesses build and TempSite::RunInProcess read TestNow, which is the
// system clock unless a TestClock holds the time.
#pragma once

#include <optional>

#include "base/datetime.h"

namespace wo::test {

// The time the innermost living TestClock holds; the system clock's time
// when there is none. A Clock for Resources.
DateTime TestNow();

// Stops the test clock at a time while the object lives; the clock it
// replaced comes back when it goes.
class TestClock {
 public:
  explicit TestClock(DateTime t);
  ~TestClock();
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;
  // Moves the stopped clock to `t`.
  void Set(DateTime t);

 private:
  std::optional<DateTime> before_;
};

}  // namespace wo::test
