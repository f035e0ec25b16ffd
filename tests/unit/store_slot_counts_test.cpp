// The grouped count of the places taken in a resource's slots, on both
// engines: the window's edges, every Status counted, the customer's own
// rows and the first of them still open.
#include <gtest/gtest.h>

#include "store/backend.h"
#include "store/slot_counts.h"
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

TEST_P(StoreSlotCounts, OneQueryCountsTheWindowsSlotsByKey) {
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
  std::vector<std::string> trace;
  c->backend().trace = &trace;
  const auto counts = CountSlotReservations(*c, "R1", from, to, "200");
  c->backend().trace = nullptr;
  EXPECT_EQ(trace.size(), 1u);

  struct Want {
    const char* no;
    int rows, own;
    int64_t ownOpenJno;
  };
  const Want want[] = {{"    1", 2, 1, -1}, {"    2", 3, 3, 3}, {"    3", 1, 0, -1}};
  ASSERT_EQ(counts.size(), std::size(want));
  for (const Want& w : want) {
    auto it = counts.find({"2030", w.no, "    1"});
    ASSERT_NE(it, counts.end()) << w.no;
    EXPECT_EQ(it->second.rows, w.rows) << w.no;
    EXPECT_EQ(it->second.own, w.own) << w.no;
    EXPECT_EQ(it->second.ownOpenJno, w.ownOpenJno) << w.no;
  }

  // Without a customer nothing is anyone's own.
  const auto anyone = CountSlotReservations(*c, "R1", from, to, "");
  ASSERT_EQ(anyone.size(), 3u);
  EXPECT_EQ(anyone.at({"2030", "    2", "    1"}).rows, 3);
  EXPECT_EQ(anyone.at({"2030", "    2", "    1"}).own, 0);
  EXPECT_EQ(anyone.at({"2030", "    2", "    1"}).ownOpenJno, -1);
  EXPECT_TRUE(CountSlotReservations(*c, "R9", from, to, "200").empty());

  // Several resources in one query: each slot once, whichever resource.
  const std::vector<std::string> both{"R1", "R2", "R9"};
  const auto centre = CountSlotReservations(*c, both, from, to, "200");
  ASSERT_EQ(centre.size(), 4u);
  EXPECT_EQ(centre.at({"2030", "    5", "    1"}).own, 1);
  EXPECT_EQ(centre.at({"2030", "    2", "    1"}).rows, 3);
  EXPECT_TRUE(CountSlotReservations(*c, std::vector<std::string>{}, from, to, "200").empty());
}

#ifdef WO_PG_TESTS
INSTANTIATE_TEST_SUITE_P(Postgres, StoreSlotCounts, ::testing::Values(Engine::Postgres),
                         [](const auto& i) { return test::EngineName(i.param); });
#else
INSTANTIATE_TEST_SUITE_P(Sqlite, StoreSlotCounts, ::testing::Values(Engine::Sqlite),
                         [](const auto& i) { return test::EngineName(i.param); });
#endif

}  // namespace
}  // namespace wo::store
