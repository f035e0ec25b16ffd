// Internals shared by the calendar's files (calendar.cpp, week_grid.cpp,
// day_list.cpp): the handle guard, the calendar arithmetic of the week grid
// and the fixed texts. The operations themselves are members of WebModule
// (module/module.h).
#pragma once

#include <string>
#include <string_view>

#include "base/datetime.h"
#include "store/table.h"

namespace wo::calendar {

// Closes a handle when the scope ends, on every path. With `onlyIfOpenedHere`
// a handle that was already open on entry is left as it was.
class CloseOnExit {
 public:
  explicit CloseOnExit(store::Table& t, bool onlyIfOpenedHere = false)
      : t_(t), skip_(onlyIfOpenedHere && t.IsOpen()) {}
  ~CloseOnExit() {
    if (skip_) return;
    try {
      t_.Close();
    } catch (...) {
      // Closing forgets the cursor; nothing useful is left to report.
    }
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  store::Table& t_;
  bool skip_;
};

// Index of VaVuoro by resource and start, and of VAVARAUS by slot key.
inline constexpr std::string_view kSlotsByResource = "ResNo;VuoroAika";
inline constexpr std::string_view kReservationsBySlot = "Kausi;VuoroNo;VuoroNoSeq;Jno";

// The end of a day as a fraction: "23:59".
double EndOfDay();

// `t`, but no later than the last date-time the store holds (31 December
// 9999, 23:59:59): the end of a slot range that would run past year 9999.
DateTime NoLaterThanLastStorable(DateTime t);

// The time of day of t in whole milliseconds (0 .. 86399999).
long long TimeOfDayMs(DateTime t);

// The time of day of `timeOf` on the date of `dateOf`.
DateTime WithTimeOfDay(DateTime dateOf, DateTime timeOf);

}  // namespace wo::calendar
