// What the booking actions share: the slot key of a query, the indexes they
// walk, instants compared to the millisecond and the widths of the query
// fields they read.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "base/text.h"
#include "frame/request.h"
#include "module/page_state.h"
#include "store/table.h"

namespace wo::booking {

// The widths of query fields.
inline constexpr size_t kFormFieldWidth = 50;  // user name, passwords, the form's button
inline constexpr size_t kJnoWidth = 10;        // a reservation's number as the query gives it
inline constexpr size_t kRemoteHostWidth = 80;

// Indexes of the slots (VaVuoro) and the reservations (VAVARAUS).
inline constexpr std::string_view kSlotsByKey = "Kausi;VuoroNo;VuoroNoSeq";
inline constexpr std::string_view kSlotsByResource = "ResNo;VuoroAika";
inline constexpr std::string_view kReservationsBySlot = "Kausi;VuoroNo;VuoroNoSeq;Jno";
inline constexpr std::string_view kReservationsByCustomer = "AsNo;Status";

// The slot key as the actions rebuild it from "Kau", "Vuo" and "Seq": Kau
// cut to 5, Vuo and Seq right-aligned by PadKey5 and cut to 5 (the form in
// which VaVuoro stores them).
struct SlotKey {
  std::string kau, vuo, seq;

  static SlotKey FromQuery(const Request& req) {
    return SlotKey{Cut(req.Field("Kau"), kCodeWidth), Cut(PadKey5(req.Field("Vuo")), kCodeWidth),
                   Cut(PadKey5(req.Field("Seq")), kCodeWidth)};
  }
  std::vector<store::Value> Values() const { return {store::Txt(kau), store::Txt(vuo), store::Txt(seq)}; }
};

// Date-times as whole milliseconds, so that a slot stored to the second
// compares exactly with a clock value and with "now + n hours".
inline int64_t Millis(DateTime t) { return std::llround(t * 86400000.0); }
inline constexpr int64_t kMillisPerHour = 3600000;
inline constexpr int64_t kMillisPerDay = 86400000;

// Opens `t` with index `index` unless it is open already (an open handle is
// re-ordered only when its index differs).
inline void OpenWithIndex(store::Table& t, std::string_view index) {
  if (!SameText(t.Index(), index)) t.SetIndex(index);
  if (!t.IsOpen()) t.Open();
}

// Announce a find of `key` (Table::PrefetchKey), or a walk of the range
// lo..hi (Table::PrefetchRange), that the closed handle `t` will make
// through `index` once opened with OpenWithIndex. Nothing for an open
// handle; the handle's index stays as it was.
inline void AnnounceFind(store::Table& t, std::string_view index, const std::vector<store::Value>& key) {
  if (t.IsOpen()) return;
  const std::string old = t.Index();
  t.SetIndex(index);
  t.PrefetchKey(key);
  t.SetIndex(old);
}
inline void AnnounceRange(store::Table& t, std::string_view index, const std::vector<store::Value>& lo,
                          const std::vector<store::Value>& hi) {
  if (t.IsOpen()) return;
  const std::string old = t.Index();
  t.SetIndex(index);
  t.PrefetchRange(lo, hi);
  t.SetIndex(old);
}

}  // namespace wo::booking
