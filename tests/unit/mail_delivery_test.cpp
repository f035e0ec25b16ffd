// The mail sender end to end: mails queued by bookings and cancellations made
// through the program, `weborvane-admin mail send` run as a process, and a real SMTP server on
// loopback (Debian's python3-aiosmtpd) that stores what it receives; the
// messages are read back with Python's email and icalendar packages.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "base/text.h"
#include "mail/mail_queue.h"
#include "module/ini.h"
#include "store/outbox.h"
#include "store/schema.h"
#include "support/site.h"

namespace wo::mail {
namespace {

using Block = std::map<std::string, std::string>;

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    ADD_FAILURE() << "no free port";
  close(s);
  return ntohs(a.sin_port);
}

bool Listening(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// aiosmtpd on 127.0.0.1:port, storing every message in the Maildir `dir`.
class SmtpServer {
 public:
  SmtpServer(int port, const std::string& dir) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    pid_ = fork();
    if (pid_ == 0) {
      execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), "-c",
            "aiosmtpd.handlers.Mailbox", dir.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200 && !Listening(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!Listening(port)) ADD_FAILURE() << "aiosmtpd did not start (scripts/install-deps installs python3-aiosmtpd)";
  }
  ~SmtpServer() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

class MailDelivery : public ::testing::Test {
 protected:
  MailDelivery() {
    port_ = FreePort();
    test::SiteOptions o;
    o.copySiteTemplates = true;
    o.extraIni = "[Site]\nCompanyName=Liikuntakeskus Rantapuisto\n[Features]\nMail=1\n[Mail]\nSmtpUrl=smtp://127.0.0.1:" +
                 std::to_string(port_) +
                 "\nFrom=Rantapuisto <varaukset@example.org>\nSiteUrl=https://booking.example.org\n";
    site_ = std::make_unique<test::TempSite>(o);
    maildir_ = site_->root() + "/maildir";
    conn_ = site_->Connect();
    ini_ = ReadSiteIni(site_->iniFile());
    test::InsertRow(*conn_, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali 1"}, {"ResWebNayta", "1"}});
    test::InsertRow(*conn_, "VALAJI", {{"Koodi", "SP"}, {"Selite", "Sulkapallo"}});
    test::InsertRow(*conn_, "WEBREG", {{"Tunnus", "maija"}, {"PinKoodi", "x"}, {"AsNo", "1001"},
                                       {"EtuNimi", "Maija"}, {"Sukunimi", "M\xe4kinen"},
                                       {"EMail1", "maija@example.org"}, {"Status", "0"},
                                       {"ID", kSession.substr(0, 15)}, {"Aika", ToStoredDateTime(Now())}});
    test::InsertRow(*conn_, "WEBPARAM", {{"Numero", "01"}, {"MaxAsVaraus", "4"}, {"MaxVarausPv", "30"},
                                         {"MaxVanhatPv", "30"}, {"MaxVanhatVaraukset", "3"}, {"PoistaEnnenPv", "2"}});
  }

  // Booked or cancelled (`path` /Var or /PoisVar) by Maija through the
  // program, in `lang`; the answer's status.
  int Through(const char* path, const Slot& s, const char* lang) {
    const std::string query = "ID=" + kSession + "&Lang=" + lang + "&Kau=" + s.kausi + "&Vuo=" + Trim(s.vuoroNo) +
                              "&Seq=" + Trim(s.vuoroNoSeq) + (std::string(path) == "/PoisVar" ? "&JNo=1" : "");
    return site_->RunInProcess(path, query).status;
  }
  int64_t LatestId() {
    const std::vector<store::OutboxMessage> box = store::ListMessages(*conn_);
    return box.empty() ? 0 : box.back().id;
  }

  // A slot `days` from today at 18:00 (or `hours` from now), booked by 1001.
  Slot AddSlot(const std::string& no, DateTime start, bool booked) {
    const Slot s{"2030", PadTo5(no), "    1"};
    test::InsertRow(*conn_, "VaVuoro", {{"Kausi", s.kausi}, {"VuoroNo", s.vuoroNo}, {"VuoroNoSeq", s.vuoroNoSeq},
                                        {"ResNo", "R1"}, {"VuoroAika", ToStoredDateTime(start)},
                                        {"Kesto", "01:00:00"}, {"Maara", "10"}, {"Laji", "SP"}});
    if (booked)
      test::InsertRow(*conn_, "VAVARAUS", {{"Kausi", s.kausi}, {"VuoroNo", s.vuoroNo}, {"VuoroNoSeq", s.vuoroNoSeq},
                                           {"Jno", "1"}, {"AsNo", "1001"}, {"Status", "0"}});
    return s;
  }
  static std::string PadTo5(const std::string& s) { return std::string(5 - s.size(), ' ') + s; }

  Recipient Maija() {
    store::Table reg(*conn_, store::TableNamed("WEBREG"), "", "Tunnus");
    reg.Open();
    EXPECT_TRUE(reg.FindKey({store::Txt("maija")}));
    return RecipientOf(reg);
  }
  std::pair<int, std::string> Admin(const std::string& command) const {
    return test::Shell(std::string(WO_ADMIN_PROGRAM) + " --ini " + site_->iniFile() + " " + command + " 2>&1");
  }
  std::vector<Block> Received() const {
    std::vector<Block> out;
    auto [rc, text] = test::Shell("/usr/bin/python3 " + std::string(WO_SOURCE_DIR) + "/tests/mail/read_mailbox.py " +
                                  maildir_ + " 2>&1");
    EXPECT_EQ(rc, 0) << text;
    Block b;
    size_t start = 0;
    while (start < text.size()) {
      size_t lf = text.find('\n', start);
      if (lf == std::string::npos) lf = text.size();
      const std::string line = text.substr(start, lf - start);
      start = lf + 1;
      if (line == "end") {
        out.push_back(b);
        b.clear();
      } else if (const size_t tab = line.find('\t'); tab != std::string::npos) {
        b.emplace(line.substr(0, tab), line.substr(tab + 1));
      }
    }
    return out;
  }
  // The outbox row of `id`.
  store::OutboxMessage Row(int64_t id) {
    for (const store::OutboxMessage& m : store::ListMessages(*conn_))
      if (m.id == id) return m;
    ADD_FAILURE() << "no message " << id;
    return {};
  }

  const std::string kSession = "maijaO0000000000077";
  int port_;
  std::unique_ptr<test::TempSite> site_;
  std::string maildir_;
  std::unique_ptr<store::Connection> conn_;
  SiteIni ini_;
};

TEST_F(MailDelivery, BookingCancellationAndReminderArriveOnceInTheirLanguage) {
  const DateTime startA = DateOf(Now()) + 3 + EncodeTime(18, 0, 0);
  const Slot a = AddSlot("12", startA, false);
  const DateTime startB = DateOf(Now() + 5.0 / 24) + EncodeTime(Decode(Now() + 5.0 / 24).hour, 0, 0);
  AddSlot("13", startB, true);  // booked at the desk: no confirmation, so a reminder
  // A booking that fails after queueing leaves nothing behind.
  EXPECT_THROW(store::InWriteTransaction(*conn_,
                                         [&] {
                                           QueueReservationMail(*conn_, ini_, store::MailKind::Confirmation, a,
                                                                Maija(), "Eng", Now());
                                           throw store::DatabaseError("the slot is full");
                                         }),
               store::DatabaseError);
  // Booked in English and cancelled in Finnish, through the program.
  ASSERT_EQ(Through("/Var", a, "Eng"), 302);
  const int64_t booked = LatestId();
  ASSERT_EQ(Through("/PoisVar", a, "Fin"), 302);
  const int64_t cancelled = LatestId();
  ASSERT_GT(booked, 0);
  ASSERT_GT(cancelled, booked);

  SmtpServer server(port_, maildir_);
  auto [rc, out] = Admin("mail send");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("queued 1 reminder(s)"), std::string::npos) << out;
  EXPECT_NE(out.find("3 sent"), std::string::npos) << out;
  auto [rc2, out2] = Admin("mail send");
  EXPECT_EQ(rc2, 0) << out2;
  EXPECT_NE(out2.find("0 sent"), std::string::npos) << out2;

  const std::vector<Block> got = Received();
  ASSERT_EQ(got.size(), 3u);
  std::map<std::string, Block> bySubject;
  for (const Block& b : got) bySubject[b.at("subject").substr(0, 12)] = b;
  const Block& conf = bySubject["Booking conf"];
  const Block& canc = bySubject["Varaus perut"];
  const Block& remind = bySubject["Muistutus: S"];
  const char* weekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  const std::string day = ToStoredDateTime(startA).substr(0, 10);

  EXPECT_EQ(conf.at("to"), "maija@example.org");
  EXPECT_EQ(conf.at("type"), "multipart/mixed");
  EXPECT_EQ(conf.at("charset"), "utf-8");
  EXPECT_NE(conf.at("subject").find(weekdays[DayOfWeek(startA) - 1]), std::string::npos) << conf.at("subject");
  EXPECT_NE(conf.at("text").find("Hello Maija,"), std::string::npos) << conf.at("text");
  EXPECT_NE(conf.at("text").find("Where: Sali 1"), std::string::npos);
  EXPECT_EQ(conf.at("calendar-param"), "REQUEST");
  EXPECT_EQ(conf.at("calendar-method"), "REQUEST");
  EXPECT_EQ(conf.at("status"), "CONFIRMED");
  EXPECT_EQ(conf.at("tzid"), "Europe/Helsinki");
  EXPECT_EQ(conf.at("start"), day + " 18:00:00 Europe/Helsinki");
  EXPECT_EQ(conf.at("summary"), "Sulkapallo");

  EXPECT_NE(canc.at("text").find("varauksesi on peruttu"), std::string::npos) << canc.at("text");
  EXPECT_EQ(canc.at("calendar-method"), "CANCEL");
  EXPECT_EQ(canc.at("status"), "CANCELLED");
  EXPECT_EQ(canc.at("uid"), conf.at("uid")) << "the cancellation names the booked event";
  EXPECT_GT(std::stoi(canc.at("sequence")), std::stoi(conf.at("sequence")));
  EXPECT_EQ(canc.at("start"), conf.at("start"));

  EXPECT_EQ(remind.at("type"), "text/plain");
  EXPECT_EQ(remind.count("uid"), 0u);
  EXPECT_NE(remind.at("text").find("muistutamme"), std::string::npos);
  for (const store::OutboxMessage& m : store::ListMessages(*conn_)) EXPECT_EQ(m.state, store::MailState::Sent);
}

TEST_F(MailDelivery, ASenderFindingNoServerKeepsTheMailForLater) {
  // No server answers: the booking is made at once all the same.
  const Slot a = AddSlot("12", DateOf(Now()) + 3 + EncodeTime(18, 0, 0), false);
  ASSERT_EQ(Through("/Var", a, "Fin"), 302);
  const int64_t id = LatestId();
  ASSERT_GT(id, 0);
  auto [rc, out] = Admin("mail send");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("not sent (attempt 1), trying again in 1 min"), std::string::npos) << out;
  store::OutboxMessage m = Row(id);
  EXPECT_EQ(m.state, store::MailState::Queued);
  EXPECT_EQ(m.attempts, 1);
  EXPECT_FALSE(m.lastError.empty());
  EXPECT_GT(m.nextAttempt, Now());
  auto [lrc, list] = Admin("mail list");
  EXPECT_EQ(lrc, 0);
  EXPECT_NE(list.find("queued"), std::string::npos) << list;
  EXPECT_NE(list.find(m.lastError.substr(0, 20)), std::string::npos) << list;

  // The server is back and the retry is due: delivered, once.
  SmtpServer server(port_, maildir_);
  Admin("mail send");
  EXPECT_TRUE(Received().empty()) << "sent before it was due";
  store::InWriteTransaction(*conn_, [&] {
    store::Table t(*conn_, store::TableNamed("WEBPOSTI"), "", "Id");
    t.Open();
    ASSERT_TRUE(t.FindKey({store::Int(id)}));
    t.Edit();
    t["Seuraava"].SetDateTime(Now() - 1.0 / 1440);
    t.Post();
  });
  Admin("mail send");
  Admin("mail send");
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_EQ(Row(id).state, store::MailState::Sent);
  EXPECT_EQ(Row(id).attempts, 2);
}

TEST_F(MailDelivery, TwoSendersAtOnceDeliverEachMessageOnce) {
  const int kMessages = 30;
  for (int i = 0; i < kMessages; ++i)
    store::InWriteTransaction(*conn_, [&] {
      QueueResetMail(*conn_, ini_, Maija(), i % 2 ? "Eng" : "Fin", "token" + std::to_string(i), 60, Now());
    });
  SmtpServer server(port_, maildir_);
  const std::string send =
      std::string(WO_ADMIN_PROGRAM) + " --ini " + site_->iniFile() + " mail send >/dev/null 2>&1";
  auto [rc, out] = test::Shell("(" + send + ") & (" + send + ") & wait");
  EXPECT_EQ(rc, 0) << out;
  const std::vector<Block> got = Received();
  std::set<std::string> ids;
  for (const Block& b : got) ids.insert(b.at("message-id"));
  EXPECT_EQ(got.size(), static_cast<size_t>(kMessages));
  EXPECT_EQ(ids.size(), static_cast<size_t>(kMessages));
  for (const store::OutboxMessage& m : store::ListMessages(*conn_)) {
    EXPECT_EQ(m.state, store::MailState::Sent);
    EXPECT_EQ(m.facts, "") << "a sent reset link stays in the outbox";
  }
}

}  // namespace
}  // namespace wo::mail
