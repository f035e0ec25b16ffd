// The places taken in a resource's slots, counted with each slot the walk
// reads, on both engines: the window's edges, every Status counted, the
// customer's own rows and the first of them still open.
#include <gtest/gtest.h>

#include "base/text.h"
#include "store/backend.h"
#include "store/slot_counts.h"
#include "store/table.h"
#include "support/centre_rows.h"
#include "support/engine_test.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

class StoreSlotCounts : public test::EngineTest {
 protected:
  void Slot(const std::string& no, const std::string& at, const std::string& res = "R1") {
    test::AddSlot(*c, {.kausi = "2030", .vuoroNo = no, .seq = "    1", .res = res, .at = at, .laji = "K1"});
  }
  void Reserve(const std::string& no, int jno, const std::string& asNo, int status = 0) {
    test::AddReservation(*c, {.kausi = "2030", .vuoroNo = no, .seq = "    1", .jno = jno, .asNo = asNo, .status = status});
  }
};

TEST_P(StoreSlotCounts, TheWalksQueryCountsEachSlotsPlacesByKey) {
  Slot("    1", "2030-06-10 08:00:00");  // the window's first second
  Slot("    2", "2030-06-12 12:00:00");
  Slot("    3", "2030-06-16 23:59:00");  // its last
  Slot("    4", "2030-06-17 00:00:00");  // after it
  Slot("    5", "2030-06-12 12:00:00", "R2");
  Slot("    6", "2030-06-13 12:00:00");  // no reservations
  Reserve("    1", 1, "100");
  Reserve("    1", 2, "200", 1);  // any Status takes a place
  Reserve("    2", 1, "200", 2);  // the customer's, no longer open
  Reserve("    2", 4, "200");
  Reserve("    2", 3, "200");
  Reserve("    3", 1, "100");
  Reserve("    4", 1, "200");
  Reserve("    5", 1, "200");

  const DateTime from = EncodeDate(2030, 6, 10) + EncodeTime(8, 0, 0);
  const DateTime to = EncodeDate(2030, 6, 16) + EncodeTime(23, 59, 0);
  struct Want {
    const char* no;
    int rows, own;
    int64_t ownOpenJno;
  };
  // Walks `res` over the window counting for `asNo`: the slots in start
  // order with their places, in the walk's one query.
  auto walk = [&](const std::string& res, const std::string& asNo) {
    Table slots(*c, TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
    CountPlacesWithEachSlot(slots, asNo);
    std::vector<std::string> trace;
    c->backend().trace = &trace;
    slots.Open();
    slots.SetRange({Txt(res), Dt(from)}, {Txt(res), Dt(to)});
    std::vector<std::pair<std::string, SlotTaken>> out;
    for (; !slots.Eof(); slots.Next()) out.emplace_back(slots.Text("VuoroNo"), PlacesTaken(slots));
    c->backend().trace = nullptr;
    EXPECT_EQ(trace.size(), 1u);
    slots.Close();
    return out;
  };
  const struct {
    const char* res;
    const char* asNo;
    std::vector<Want> want;
  } cases[] = {
      {"R1", "200", {{"    1", 2, 1, -1}, {"    2", 3, 3, 3}, {"    6", 0, 0, -1}, {"    3", 1, 0, -1}}},
      // Without a customer nothing is anyone's own.
      {"R1", "", {{"    1", 2, 0, -1}, {"    2", 3, 0, -1}, {"    6", 0, 0, -1}, {"    3", 1, 0, -1}}},
      {"R2", "200", {{"    5", 1, 1, 1}}},
      {"R9", "200", {}},
  };
  for (const auto& k : cases) {
    const auto got = walk(k.res, k.asNo);
    ASSERT_EQ(got.size(), k.want.size()) << k.res << " " << k.asNo;
    for (size_t i = 0; i < got.size(); ++i) {
      const Want& w = k.want[i];
      EXPECT_EQ(got[i].first, w.no) << k.res << " " << k.asNo;
      EXPECT_EQ(got[i].second.rows, w.rows) << w.no;
      EXPECT_EQ(got[i].second.own, w.own) << w.no;
      EXPECT_EQ(got[i].second.ownOpenJno, w.ownOpenJno) << w.no;
    }
  }

  // A walk that did not ask for the places has none to give.
  Table plain(*c, TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
  plain.Open();
  ASSERT_FALSE(plain.Eof());
  EXPECT_THROW(PlacesTaken(plain), DatabaseError);
  EXPECT_THROW(CountPlacesWithEachSlot(plain, ""), DatabaseError);
}

// A walk of the first days that have slots: every slot of those days, in
// order, counted as before, and none of a later day in the window; a
// window with fewer such days is read whole.
TEST_P(StoreSlotCounts, AWalkOfTheFirstDaysWithSlotsEndsBeforeTheNext) {
  Slot("    1", "2030-06-10 00:00:00");  // a day's first second
  Slot("    2", "2030-06-10 23:59:59");  // and its last
  Slot("    3", "2030-06-13 08:00:00");  // days without slots in between
  Slot("    4", "2030-06-13 08:00:00");  // the same start
  Slot("    5", "2030-06-14 00:00:00");
  Slot("    6", "2030-06-15 09:00:00", "R2");  // another resource's day
  Slot("    7", "2030-06-20 09:00:00");
  Reserve("    3", 1, "100");
  const DateTime from = EncodeDate(2030, 6, 10), to = EncodeDate(2030, 6, 30);
  auto walk = [&](int days) {
    Table slots(*c, TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
    CountPlacesWithEachSlot(slots, "");
    OnlyFirstDaysWithSlots(*c, slots, "R1", from, to, days);
    slots.Open();
    slots.SetRange({Txt("R1"), Dt(from)}, {Txt("R1"), Dt(to)});
    std::string out;
    for (; !slots.Eof(); slots.Next())
      out += Trim(slots.Text("VuoroNo")) + ":" + std::to_string(PlacesTaken(slots).rows) + " ";
    return out;
  };
  const struct {
    int days;
    const char* slots;
  } cases[] = {{1, "1:0 2:0 "}, {2, "1:0 2:0 3:1 4:0 "}, {3, "1:0 2:0 3:1 4:0 5:0 "},
               {4, "1:0 2:0 3:1 4:0 5:0 7:0 "}, {7, "1:0 2:0 3:1 4:0 5:0 7:0 "}};
  for (const auto& k : cases) EXPECT_EQ(walk(k.days), k.slots) << k.days << " day(s)";

  // The walk of the first days gives the same slots, stops where `each`
  // says, and asks a server a second time only when dates lack slots.
  Slot("    8", "2030-06-11 10:00:00");
  Slot("    9", "2030-06-12 10:00:00");
  auto walkDays = [&](int start, int days, const std::string& stopAt) {
    Table slots(*c, TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
    std::vector<std::string> trace;
    c->backend().trace = &trace;
    std::string out;
    const std::string counted;
    WalkSlotsOfFirstDays(*c, slots, "R1", EncodeDate(2030, 6, start), to, days, &counted, [&](Table& t) {
      const std::string no = Trim(t.Text("VuoroNo"));
      out += no + ":" + std::to_string(PlacesTaken(t).rows) + " ";
      return no != stopAt;
    });
    c->backend().trace = nullptr;
    return out + "/ " + std::to_string(trace.size());
  };
  const bool server = GetParam() == Engine::Postgres;
  const struct {
    int start, days;
    std::string stopAt, slots;
    size_t serverQueries;
  } walks[] = {
      {10, 1, "", "1:0 2:0 ", 1},
      {10, 5, "", "1:0 2:0 8:0 9:0 3:1 4:0 5:0 ", 1},  // a slot on each date
      {13, 2, "", "3:1 4:0 5:0 ", 1},
      {13, 3, "", "3:1 4:0 5:0 7:0 ", 2},            // 15 to 19 June without
      {7, 7, "", "1:0 2:0 8:0 9:0 3:1 4:0 5:0 7:0 ", 2},  // 14 June 00:00 starts the second part
      {10, 9, "", "1:0 2:0 8:0 9:0 3:1 4:0 5:0 7:0 ", 2},
      {10, 0, "", "1:0 2:0 8:0 9:0 3:1 4:0 5:0 7:0 ", 1},
      {10, 7, "8", "1:0 2:0 8:0 ", 1},
      {21, 7, "", "", 2},
  };
  for (const auto& k : walks)
    EXPECT_EQ(walkDays(k.start, k.days, k.stopAt), k.slots + "/ " + std::to_string(server ? k.serverQueries : 1))
        << k.days << " day(s) from " << k.start << " June, stopping at " << k.stopAt;
}

WO_INSTANTIATE_PER_ENGINE(StoreSlotCounts);

}  // namespace
}  // namespace wo::store
