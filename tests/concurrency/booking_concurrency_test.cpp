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

#include "concurrency/backends.h"
#include "store/database.h"
#include "base/datetime.h"
#include "store/table.h"
#include "support/site.h"

namespace wo::test {
namespace {

// Runs one CGI request per query, all at once: every child is forked first
// and waits on a pipe, and closing the pipe releases them together. Returns
// the answers in query order.
std::vector<CgiResult> RunAtOnce(const TempSite& site, std::string_view path, const std::vector<std::string>& queries) {
  const std::string prog = site.program();
  const std::string cwd = site.cgiDir();
  const size_t n = queries.size();
  // Everything the children need is built before the first fork.
  std::vector<std::vector<std::string>> envs(n);
  std::vector<std::vector<char*>> envps(n);
  std::vector<std::string> outFiles(n);
  for (size_t i = 0; i < n; ++i) {
    envs[i] = {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET", "PATH_INFO=" + std::string(path),
               "QUERY_STRING=" + queries[i], "REMOTE_ADDR=127.0.0.1"};
    for (std::string& e : envs[i]) envps[i].push_back(e.data());
    envps[i].push_back(nullptr);
    outFiles[i] = site.root() + "/answer-" + std::to_string(i);
  }
  std::vector<char> progBuf(prog.begin(), prog.end());
  progBuf.push_back('\0');
  char* argv[] = {progBuf.data(), nullptr};

  int gate[2];
  if (pipe(gate) != 0) throw std::runtime_error("pipe failed");
  std::vector<pid_t> pids;
  for (size_t i = 0; i < n; ++i) {
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      close(gate[1]);
      char c;
      while (read(gate[0], &c, 1) > 0) {
      }
      int out = open(outFiles[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open("/dev/null", O_RDONLY);
      if (out < 0 || in < 0 || chdir(cwd.c_str()) != 0) _exit(126);
      dup2(out, 1);
      dup2(in, 0);
      execve(argv[0], argv, envps[i].data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);  // go
  for (pid_t pid : pids) {
    int st = 0;
    waitpid(pid, &st, 0);
  }
  std::vector<CgiResult> answers;
  for (const std::string& f : outFiles) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    answers.push_back(ParseCgiOutput(ss.str()));
  }
  return answers;
}

// The same through FastCGI: four workers accept on one socket (as
// spawn-fcgi starts them), and every request has a connection of its own,
// all sent at once. Each worker serves its share one after the other on
// the connection it keeps.
std::vector<CgiResult> RunAtOnceThroughFastCgi(const TempSite& site, std::string_view path,
                                               const std::vector<std::string>& queries) {
  FastCgiWorkers workers(site.program(), site.root() + "/pool.sock", 4, {}, site.cgiDir());
  std::vector<std::string> raw(queries.size());
  std::atomic<size_t> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> clients;
  for (size_t i = 0; i < queries.size(); ++i)
    clients.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      raw[i] = workers.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", "GET"},
                                {"PATH_INFO", std::string(path)}, {"QUERY_STRING", queries[i]},
                                {"REMOTE_ADDR", "127.0.0.1"}});
    });
  while (ready < queries.size()) std::this_thread::yield();
  go = true;
  for (std::thread& t : clients) t.join();
  std::vector<CgiResult> answers;
  for (std::string& r : raw) answers.push_back(ParseCgiOutput(std::move(r)));
  return answers;
}

std::vector<CgiResult> RunAllAtOnce(const TempSite& site, std::string_view path,
                                    const std::vector<std::string>& queries) {
  return ThroughFastCgi() ? RunAtOnceThroughFastCgi(site, path, queries) : RunAtOnce(site, path, queries);
}

class SimultaneousCommits : public BackendSite {
 protected:
  void SetUp() override { MakeSite(); }

  void Params(int maxAsVaraus) {
    Insert("WEBPARAM", {{"Numero", "01"},
                        {"MaxAsVaraus", std::to_string(maxAsVaraus)},
                        {"MaxVarausPv", "30"},
                        {"MaxVanhatPv", "30"},
                        {"MaxVanhatVaraukset", "3"},
                        {"VarMaksuKaytossa", "1"},
                        {"Varausmaksu", "1.0"}});
  }
  // A user with a session that is live now; returns the session ID.
  std::string User(int n) {
    const std::string asNo = std::to_string(100 + n);
    const std::string id = asNo + "O12345678901234";
    Insert("WEBREG", {{"Tunnus", "user" + std::to_string(n)},
                      {"PinKoodi", "x"},
                      {"AsNo", asNo},
                      {"KorttiLyh", ""},
                      {"Sukunimi", "Kilpa"},
                      {"EtuNimi", std::to_string(n)},
                      {"ID", id},
                      {"Aika", ToStoredDateTime(Now())},
                      {"TmpSaldo", "0"}});
    return id;
  }
  void Slot(const std::string& vuoroNo, int places) {
    Insert("VaVuoro", {{"Kausi", "2030"},
                       {"VuoroNo", std::string(5 - vuoroNo.size(), ' ') + vuoroNo},
                       {"VuoroNoSeq", "    1"},
                       {"ResNo", "R1"},
                       {"VuoroAika", ToStoredDateTime(DateOf(Now()) + 2 + EncodeTime(18, 0, 0))},
                       {"Kesto", "01:00:00"},
                       {"Maara", std::to_string(places)},
                       {"Laji", "SP"}});
  }
  // (AsNo, Jno) of every VAVARAUS row, in index order.
  std::vector<std::pair<std::string, int64_t>> Rows() {
    std::vector<std::pair<std::string, int64_t>> out;
    store::Table t(*conn_, store::TableNamed("VAVARAUS"), "", "Kausi;VuoroNo;VuoroNoSeq;Jno");
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) out.emplace_back(t.Text("AsNo"), t.Int("Jno"));
    t.Close();
    return out;
  }
  double WebBalance(int n) {
    store::Table t(*conn_, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    double v = t.FindKey({store::Txt("user" + std::to_string(n))}) ? t.Float("TmpSaldo") : 1e9;
    t.Close();
    return v;
  }
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

  const std::string others = "FROM pg_stat_activity WHERE application_name = 'WebOrvaneTest' AND pid <> pg_backend_pid()";
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

INSTANTIATE_TEST_SUITE_P(Server, KeptConnection, ::testing::Values(&kPostgres),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

}  // namespace
}  // namespace wo::test
