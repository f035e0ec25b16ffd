// Simultaneous commits through the installed program: many processes
// released at the same instant commit reservations on one site, and the
// outcome must be what serial commits would give — never more rows on a slot
// than places, never more reservations than a customer's limit, no Jno
// twice, every refusal an error page and no request failing.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "concurrency/at_once.h"
#include "concurrency/backends.h"
#include "concurrency/centre_site.h"
#include "store/database.h"
#include "base/datetime.h"
#include "store/table.h"
#include "support/site.h"

namespace wo::test {
namespace {

class SimultaneousCommits : public CentreSite {
 protected:
  void SetUp() override { MakeSite(); }
};

TEST_P(SimultaneousCommits, TwentyUsersForThreePlaces) {
  Params(4);
  Slot("1", 3);
  std::vector<std::string> queries;
  for (int i = 0; i < 20; ++i) queries.push_back("ID=" + User(i) + "&Lang=Fin&Kau=2030&Vuo=1&Seq=1");

  const std::vector<CgiResult> answers = RunAllAtOnce(*site_, "/Var", queries);

  std::set<std::string> booked;  // AsNo of the users who were told yes
  int refused = 0;
  for (int i = 0; i < 20; ++i) {
    const CgiResult& a = answers[i];
    ASSERT_NE(a.status, 500) << a.raw;
    if (a.status == 302) {
      EXPECT_EQ(a.Header("Location").rfind("/cgi-bin/WebOrvane.exe/VarOk?ID=", 0), 0u);
      booked.insert(std::to_string(100 + i));
    } else {
      EXPECT_EQ(a.status, 200) << a.raw;
      EXPECT_EQ(a.body, "E:Vuoroa ei voi en\xe4\xe4 varata!");
      ++refused;
    }
  }
  EXPECT_EQ(booked.size(), 3u);
  EXPECT_EQ(refused, 17);

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  std::vector<int64_t> jnos;
  std::set<std::string> holders;
  for (const auto& [asNo, jno] : rows) {
    jnos.push_back(jno);
    holders.insert(asNo);
  }
  EXPECT_EQ(jnos, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(holders, booked);
  // Each fee was taken once, and only from the three who got a place.
  for (int i = 0; i < 20; ++i)
    EXPECT_DOUBLE_EQ(WebBalance(i), booked.count(std::to_string(100 + i)) ? -1.0 : 0.0) << i;
}

TEST_P(SimultaneousCommits, OneUserFiveSlotsWithLimitTwo) {
  Params(2);
  const std::string id = User(0);
  std::vector<std::string> queries;
  for (int s = 1; s <= 5; ++s) {
    Slot(std::to_string(s), 10);
    queries.push_back("ID=" + id + "&Lang=Fin&Kau=2030&Vuo=" + std::to_string(s) + "&Seq=1");
  }

  const std::vector<CgiResult> answers = RunAllAtOnce(*site_, "/Var", queries);

  int made = 0, refused = 0;
  for (const CgiResult& a : answers) {
    ASSERT_NE(a.status, 500) << a.raw;
    if (a.status == 302) {
      ++made;
    } else {
      EXPECT_EQ(a.body, "E:K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain 2 kpl!");
      ++refused;
    }
  }
  EXPECT_EQ(made, 2);
  EXPECT_EQ(refused, 3);
  EXPECT_EQ(Rows().size(), 2u);
  EXPECT_DOUBLE_EQ(WebBalance(0), -2.0);
}

INSTANTIATE_TEST_SUITE_P(Backends, SimultaneousCommits, ::testing::ValuesIn(AllBackends()),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

// A FastCGI worker keeps its connection to the server between requests.
// When the server ends it (a restart, an administrator), the next request
// is answered on a new connection, with the bytes it had before.
class KeptConnection : public BackendSite {};

TEST_P(KeptConnection, EndedByTheServerIsMadeAgain) {
  MakeSite();
  site_->WriteTemplate("Fin", "index.html", "<#YRITYS>|<#LANG>");
  const CgiResult before = site_->RunAsFastCgi("/Index", "");
  ASSERT_EQ(before.status, 200) << before.raw;

  // Only the site's database: other test runs on the server keep theirs.
  const std::string others =
      "FROM pg_stat_activity WHERE application_name = 'WebOrvaneTest' AND datname = current_database() "
      "AND pid <> pg_backend_pid()";
  conn_->backend().ExecScript("SELECT pg_terminate_backend(pid) " + others);
  bool gone = false;
  for (int tries = 0; tries < 250 && !gone; ++tries) {
    store::StoredRow row;
    gone = conn_->backend().Query("SELECT pid " + others, {})->Next(row) == store::Rows::Step::End;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(gone) << "the server did not end the worker's connection";

  EXPECT_EQ(site_->RunAsFastCgi("/Index", "").raw, before.raw);
  EXPECT_EQ(site_->Worker().WaitExit(0, 0), -1) << "the worker ended instead of connecting again";
}

// The code tables a worker keeps between requests: a change that another
// connection commits shows in the next page, as the CGI program shows it.
TEST_P(KeptConnection, CodeTablesChangedByAnotherConnectionShow) {
  MakeSite();
  site_->WriteTemplate("Fin", "viikko.html", "<#RESURSSI>|<#VUOROLISTA>");
  ASSERT_EQ(Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + site_->iniFile() + "' demo >/dev/null").first, 0);
  const DateParts d = Decode(Now());
  const std::string week = "ID=0&Lang=Fin&Resurssi=102&PP=" + std::to_string(d.day) + "&KK=" + std::to_string(d.month) +
                           "&VV=" + std::to_string(d.year);
  const struct {
    const char *what, *change, *shown;
  } steps[] = {
      {"served", "", "Anna N."},
      {"instructor", "UPDATE VAOHJAAJA SET Lyhenne='Anna U.' WHERE Koodi='AN'", "Anna U."},
      {"activity kind", "UPDATE VALAJI SET Lyhenne='Polku' WHERE Koodi='SPIN'", "Polku"},
      {"resource", "UPDATE VARESNIMI SET ResNimi='Sali X' WHERE ResNo='102'", "Sali X"},
      {"unchanged", "", "Sali X"},
  };
  for (const auto& s : steps) {
    if (*s.change) conn_->backend().ExecScript(s.change);
    const CgiResult fcgi = site_->RunAsFastCgi("/Viikko", week);
    const CgiResult cgi = site_->RunAsCgi("/Viikko", week);
    EXPECT_NE(cgi.raw.find(s.shown), std::string::npos) << s.what;
    EXPECT_EQ(fcgi.raw, cgi.raw) << s.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Server, KeptConnection, ::testing::Values(&kPostgres),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

}  // namespace
}  // namespace wo::test
