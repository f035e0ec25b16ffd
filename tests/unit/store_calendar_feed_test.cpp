// The calendar feeds' queries on both engines: the token finds its user's
// reservations and recorded cancellations and nobody else's, a reservation
// made again hides its cancellation, and the public feed counts places.
#include <gtest/gtest.h>

#include "store/calendar_feed.h"
#include "support/centre_rows.h"
#include "support/engine_test.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

constexpr double kHour = 1.0 / 24;
const DateTime kNow = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);
const std::string kHashA(64, 'a'), kHashB(64, 'b');

class StoreCalendarFeed : public test::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!c) return;
    test::InsertRow(*c, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali \xe4"}, {"ResWebNayta", "1"}});
    test::InsertRow(*c, "VARESNIMI", {{"ResNo", "R2"}, {"ResNimi", "Piilo"}, {"ResWebNayta", "0"}});
    test::InsertRow(*c, "VALAJI", {{"Koodi", "SP"}, {"Lyhenne", "Spin"}, {"Selite", "Spinning"}});
    test::InsertRow(*c, "VAOHJAAJA", {{"Koodi", "O1"}, {"Lyhenne", "Ohj"}, {"Nimi", "Olli"}});
    test::AddUser(*c, {.tunnus = "anna", .asNo = "70"});
    test::AddUser(*c, {.tunnus = "bert", .asNo = "71"});
    // Slots 1..4 at now + n days, slot 5 long ago.
    for (int n = 1; n <= 5; ++n)
      test::AddSlot(*c, {.kausi = "2030", .vuoroNo = "    " + std::to_string(n), .seq = "    1", .res = "R1",
                         .at = ToStoredDateTime(n == 5 ? kNow - 90 : kNow + n), .maara = 2, .laji = "SP",
                         .ohjaaja = "O1"});
    InWriteTransaction(*c, [&] {
      SetFeedToken(*c, "anna", kHashA, kNow);
      SetFeedToken(*c, "bert", kHashB, kNow);
    });
  }
  void Book(int slot, const std::string& asNo, int jno = 1) {
    test::AddReservation(*c, {.kausi = "2030", .vuoroNo = "    " + std::to_string(slot), .seq = "    1",
                              .jno = jno, .asNo = asNo, .more = {{"Varausaika", ToStoredDateTime(kNow)}}});
  }
  std::vector<FeedEntry> Feed(const std::string& hash) {
    auto f = ReadOwnFeed(*c, hash, kNow - 30, kNow + 31, kNow - 30);
    EXPECT_TRUE(f.has_value()) << hash;
    return f.value_or(std::vector<FeedEntry>{});
  }
};

TEST_P(StoreCalendarFeed, OwnFeedHoldsOnlyTheTokensUserAndCancellations) {
  EXPECT_TRUE(Feed(kHashA).empty()) << "a user without reservations still has a feed";
  Book(1, "70");
  Book(2, "70");
  Book(2, "71", 2);
  Book(5, "70");  // outside the span
  InWriteTransaction(*c, [&] {
    RecordCancellation(*c, {"2030", "    3", "    1", "70"}, 1, kNow - kHour, kNow - 30);
    RecordCancellation(*c, {"2030", "    1", "    1", "70"}, 4, kNow - kHour, kNow - 30);  // booked again
    RecordCancellation(*c, {"2030", "    4", "    1", "71"}, 1, kNow - kHour, kNow - 30);
  });

  const std::vector<FeedEntry> a = Feed(kHashA);
  ASSERT_EQ(a.size(), 3u);
  const struct {
    const char* vuoroNo;
    bool cancelled;
  } want[] = {{"    1", false}, {"    2", false}, {"    3", true}};
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].key.vuoroNo, want[i].vuoroNo) << i;
    EXPECT_EQ(a[i].key.asNo, "70") << i;
    EXPECT_EQ(a[i].cancelled, want[i].cancelled) << i;
  }
  EXPECT_DOUBLE_EQ(a[0].start, kNow + 1);
  EXPECT_NEAR(a[0].end - a[0].start, kHour, 1e-9);
  EXPECT_EQ(a[0].resource, "Sali \xe4");
  EXPECT_EQ(a[0].kindName, "Spinning");
  EXPECT_EQ(a[0].instructorName, "Olli");
  EXPECT_NEAR(a[2].changed, kNow - kHour, 1e-9);

  const std::vector<FeedEntry> b = Feed(kHashB);
  ASSERT_EQ(b.size(), 2u);
  for (const FeedEntry& e : b) EXPECT_EQ(e.key.asNo, "71");

  // A new token ends the old one; a dropped one ends it too.
  InWriteTransaction(*c, [&] { SetFeedToken(*c, "anna", std::string(64, 'c'), kNow); });
  EXPECT_FALSE(ReadOwnFeed(*c, kHashA, kNow - 30, kNow + 31, kNow - 30));
  EXPECT_TRUE(HasFeedToken(*c, "anna"));
  InWriteTransaction(*c, [&] { EXPECT_TRUE(DropFeedToken(*c, "anna")); });
  EXPECT_FALSE(ReadOwnFeed(*c, std::string(64, 'c'), kNow - 30, kNow + 31, kNow - 30));
  EXPECT_FALSE(HasFeedToken(*c, "anna"));
  EXPECT_THROW(SetFeedToken(*c, "anna", kHashA, kNow), DatabaseError) << "outside a transaction";
}

TEST_P(StoreCalendarFeed, OldCancellationsAreForgotten) {
  InWriteTransaction(*c, [&] { RecordCancellation(*c, {"2030", "    3", "    1", "70"}, 1, kNow - 40, kNow - 70); });
  EXPECT_TRUE(Feed(kHashA).empty()) << "cancelled before the feed's span";
  InWriteTransaction(*c, [&] { RecordCancellation(*c, {"2030", "    4", "    1", "70"}, 1, kNow, kNow - 30); });
  ASSERT_EQ(Feed(kHashA).size(), 1u);
  auto all = ReadOwnFeed(*c, kHashA, kNow - 30, kNow + 31, kNow - 365);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 1u) << "the record older than the forget limit is gone";
}

TEST_P(StoreCalendarFeed, FreeFeedCountsPlacesOfShownResources) {
  Book(1, "70");
  Book(1, "71", 2);  // full
  Book(2, "70");
  const std::optional<FreeFeed> f = ReadFreeFeed(*c, "R1", kNow, kNow + 31);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->resource, "Sali \xe4");
  ASSERT_EQ(f->slots.size(), 3u);
  EXPECT_EQ(f->slots[0].slot.key.vuoroNo, "    2");
  EXPECT_EQ(f->slots[0].places - f->slots[0].taken, 1);
  EXPECT_EQ(f->slots[1].taken, 0);
  EXPECT_FALSE(ReadFreeFeed(*c, "R2", kNow, kNow + 31)) << "not shown on the web";
  EXPECT_FALSE(ReadFreeFeed(*c, "R9", kNow, kNow + 31));
  const std::optional<FreeFeed> none = ReadFreeFeed(*c, "R1", kNow + 40, kNow + 50);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->slots.empty());
  EXPECT_EQ(none->resource, "Sali \xe4");
}

WO_INSTANTIATE_PER_ENGINE(StoreCalendarFeed);

}  // namespace
}  // namespace wo::store
