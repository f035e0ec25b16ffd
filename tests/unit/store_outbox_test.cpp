// The outbox on both engines: a message exists only when the transaction
// that queued it committed, claims keep senders apart and lapse, and the
// reminders of a window are queued once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "mail/mail_queue.h"
#include "store/outbox.h"
#include "support/engine_test.h"
#include "support/site.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

constexpr double kMinute = 1.0 / 1440;
const DateTime kT0 = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);

OutboxMessage Msg(std::string to, DateTime created, MailKind kind = MailKind::Confirmation) {
  OutboxMessage m;
  m.kind = kind;
  m.recipient = std::move(to);
  m.language = "Eng";
  m.facts = "MITA=Sulkapallo \xe4\n";
  m.key = {"2030", "   12", "    1", "1001"};
  m.created = created;
  return m;
}

class StoreOutbox : public test::EngineTest {
 protected:
  int64_t Queue(const OutboxMessage& m) { return InWriteTransaction(*c, [&] { return QueueMessage(*c, m); }); }
};

TEST_P(StoreOutbox, AMessageExistsOnlyIfItsTransactionCommitted) {
  EXPECT_THROW(QueueMessage(*c, Msg("a@example.org", kT0)), DatabaseError) << "queued outside a transaction";
  EXPECT_THROW(InWriteTransaction(*c,
                                  [&] {
                                    QueueMessage(*c, Msg("a@example.org", kT0));
                                    throw DatabaseError("the booking failed after queueing");
                                  }),
               DatabaseError);
  EXPECT_THROW(Queue(Msg(std::string(81, 'a'), kT0)), DatabaseError) << "an address longer than the column";
  EXPECT_TRUE(ListMessages(*c).empty());

  EXPECT_EQ(Queue(Msg("a@example.org", kT0)), 1);
  EXPECT_EQ(Queue(Msg("b@example.org", kT0, MailKind::Reset)), 2);
  const std::vector<OutboxMessage> all = ListMessages(*c);
  ASSERT_EQ(all.size(), 2u);
  const OutboxMessage& m = all[0];
  EXPECT_EQ(m.kind, MailKind::Confirmation);
  EXPECT_EQ(m.recipient, "a@example.org");
  EXPECT_EQ(m.facts, "MITA=Sulkapallo \xe4\n");
  EXPECT_EQ(m.key, (ReservationKey{"2030", "   12", "    1", "1001"}));
  EXPECT_EQ(m.state, MailState::Queued);
  EXPECT_EQ(m.attempts, 0);
  EXPECT_DOUBLE_EQ(m.nextAttempt, kT0);
  EXPECT_EQ(all[1].kind, MailKind::Reset);
}

TEST_P(StoreOutbox, ClaimsAreHeldUntilTheyLapse) {
  const int64_t first = Queue(Msg("a@example.org", kT0));
  const int64_t later = Queue(Msg("b@example.org", kT0 + kMinute));

  std::optional<OutboxMessage> a = ClaimNextMessage(*c, "A", kT0, kT0 + 10 * kMinute);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->id, first);
  EXPECT_EQ(a->state, MailState::Sending);
  EXPECT_EQ(a->attempts, 1);
  EXPECT_FALSE(ClaimNextMessage(*c, "B", kT0, kT0 + 10 * kMinute)) << "held, and the other is not due yet";
  EXPECT_FALSE(FinishMessage(*c, first, "B", {Delivery::Sent, kT0, ""})) << "only the holder records it";

  // Past the lease: the due queued message comes first, then the lapsed claim.
  const DateTime t = kT0 + 11 * kMinute;
  std::optional<OutboxMessage> b = ClaimNextMessage(*c, "B", t, t + 10 * kMinute);
  std::optional<OutboxMessage> lapsed = ClaimNextMessage(*c, "C", t, t + 10 * kMinute);
  ASSERT_TRUE(b && lapsed);
  EXPECT_EQ(b->id, later);
  EXPECT_EQ(lapsed->id, first);
  EXPECT_EQ(lapsed->attempts, 2);
  EXPECT_FALSE(FinishMessage(*c, first, "A", {Delivery::Sent, t, ""})) << "A's claim lapsed";

  EXPECT_TRUE(FinishMessage(*c, first, "C", {Delivery::Retry, t + 4 * kMinute, "421 try later"}));
  EXPECT_TRUE(FinishMessage(*c, later, "B", {Delivery::Sent, t, ""}));
  EXPECT_FALSE(ClaimNextMessage(*c, "D", t + 3 * kMinute, t + 13 * kMinute)) << "the retry is not due yet";
  std::map<int64_t, OutboxMessage> byId;
  for (OutboxMessage& m : ListMessages(*c)) byId[m.id] = m;
  EXPECT_EQ(byId[first].state, MailState::Queued);
  EXPECT_EQ(byId[first].lastError, "421 try later");
  EXPECT_EQ(byId[later].state, MailState::Sent);
  EXPECT_EQ(LatestMessageFor(*c, byId[first].key, MailKind::Confirmation, kT0)->id, later);

  // Old sent and failed messages go; a queued one stays however old.
  EXPECT_EQ(PruneMessages(*c, kT0 + 1), 1);
  ASSERT_EQ(ListMessages(*c).size(), 1u);
  EXPECT_EQ(ListMessages(*c)[0].id, first);
}

TEST_P(StoreOutbox, SendersAtOnceClaimEachMessageOnce) {
  const int kMessages = 40, kSenders = 3;
  for (int i = 0; i < kMessages; ++i) Queue(Msg(std::to_string(i) + "@example.org", kT0));
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  std::vector<pid_t> kids;
  for (int s = 0; s < kSenders; ++s) {
    pid_t pid = fork();
    if (pid == 0) {
      int status = 0;
      try {
        std::unique_ptr<Connection> own = db->Connect();
        const std::string holder = "sender" + std::to_string(s);
        while (std::optional<OutboxMessage> m = ClaimNextMessage(*own, holder, kT0, kT0 + 10 * kMinute)) {
          const int64_t id = m->id;
          if (write(out[1], &id, sizeof id) != sizeof id) throw DatabaseError("pipe");
          if (!FinishMessage(*own, id, holder, {Delivery::Sent, kT0, ""})) throw DatabaseError("lost a claim");
        }
      } catch (const std::exception& e) {
        fprintf(stderr, "sender %d: %s\n", s, e.what());
        status = 1;
      }
      _exit(status);
    }
    kids.push_back(pid);
  }
  close(out[1]);
  std::map<int64_t, int> claimed;
  int64_t id;
  while (read(out[0], &id, sizeof id) == sizeof id) ++claimed[id];
  close(out[0]);
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(claimed.size(), static_cast<size_t>(kMessages));
  for (const auto& [msg, times] : claimed) EXPECT_EQ(times, 1) << "message " << msg;
  for (const OutboxMessage& m : ListMessages(*c)) EXPECT_EQ(m.state, MailState::Sent);
}

// Reminders: the window, the users who can have one, and once only.
TEST_P(StoreOutbox, RemindersOfTheWindowAreQueuedOnce) {
  using test::InsertRow;
  auto at = [](double hours) { return ToStoredDateTime(kT0 + hours / 24); };
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali 1"}, {"ResWebNayta", "1"}});
  InsertRow(*c, "VALAJI", {{"Koodi", "SP"}, {"Selite", "Sulkapallo"}});
  const std::map<std::string, double> slots = {{"1", 3}, {"2", 30}, {"3", 2}, {"4", -1}, {"5", 20}};
  for (const auto& [no, hours] : slots)
    InsertRow(*c, "VaVuoro", {{"Kausi", "2030"}, {"VuoroNo", "    " + no}, {"VuoroNoSeq", "    1"}, {"ResNo", "R1"},
                              {"VuoroAika", at(hours)}, {"Kesto", "01:00:00"}, {"Maara", "10"}, {"Laji", "SP"}});
  InsertRow(*c, "WEBREG", {{"Tunnus", "maija"}, {"PinKoodi", "x"}, {"AsNo", "1001"}, {"EtuNimi", "Maija"},
                           {"EMail1", "maija@example.org"}, {"Status", "0"}});
  InsertRow(*c, "WEBREG", {{"Tunnus", "noaddress"}, {"PinKoodi", "x"}, {"AsNo", "1002"}, {"EMail1", ""}});
  InsertRow(*c, "WEBREG", {{"Tunnus", "blocked"}, {"PinKoodi", "x"}, {"AsNo", "1003"},
                           {"EMail1", "b@example.org"}, {"Status", "4"}});
  int jno = 0;
  auto reserve = [&](const std::string& no, const char* asNo, const char* status) {
    InsertRow(*c, "VAVARAUS", {{"Kausi", "2030"}, {"VuoroNo", "    " + no}, {"VuoroNoSeq", "    1"},
                               {"Jno", std::to_string(++jno)}, {"AsNo", asNo}, {"Status", status}});
  };
  reserve("1", "1001", "0");  // the one reminder
  reserve("1", "1002", "0");  // no address
  reserve("1", "1003", "0");  // blocked
  reserve("1", "9999", "0");  // no web user
  reserve("2", "1001", "0");  // beyond the window
  reserve("3", "1001", "1");  // not an open reservation
  reserve("4", "1001", "0");  // started
  reserve("5", "1001", "0");  // confirmed when it was already this close
  InWriteTransaction(*c, [&] {
    OutboxMessage conf = Msg("maija@example.org", kT0 - 1.0 / 24);
    conf.key = {"2030", "    5", "    1", "1001"};
    QueueMessage(*c, conf);
  });

  SiteIni ini;
  ini.ReminderHours = 24;
  EXPECT_EQ(mail::QueueReminders(*c, ini, kT0), 0) << "mail is off";
  ini.Mail = true;
  EXPECT_EQ(mail::QueueReminders(*c, ini, kT0), 1);
  EXPECT_EQ(mail::QueueReminders(*c, ini, kT0 + kMinute), 0) << "it has had one";
  const std::vector<OutboxMessage> all = ListMessages(*c);
  ASSERT_EQ(all.size(), 2u);
  const OutboxMessage& r = all[1];
  EXPECT_EQ(r.kind, MailKind::Reminder);
  EXPECT_EQ(r.recipient, "maija@example.org");
  EXPECT_EQ(r.key, (ReservationKey{"2030", "    1", "    1", "1001"}));
  const mail::Facts f = mail::DecodeFacts(r.facts);
  EXPECT_EQ(mail::FactOf(f, mail::fact::kWhat), "Sulkapallo");
  EXPECT_EQ(mail::FactOf(f, mail::fact::kStart), at(3));
  EXPECT_EQ(mail::FactOf(f, mail::fact::kFirstName), "Maija");
}

WO_INSTANTIATE_PER_ENGINE(StoreOutbox);

}  // namespace
}  // namespace wo::store
