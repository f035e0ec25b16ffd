// The parts of `make bench` whose faults would print wrong figures rather
// than fail: the probe that decides whether a program serves FastCGI (a CGI
// program must never be measured as a FastCGI worker), and the two
// three-query pages, which must write the same bytes for their figures to
// be compared.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "servers.h"

namespace {

namespace fs = std::filesystem;

using bench::Quote;
using bench::Sh;

// A database with the four tables the pages read, a resource whose name
// and settings need escaping, and a week of slots with reservations.
void MakeDatabase(const std::string& file) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  const char* sql =
      "CREATE TABLE WEBPARAM(Numero TEXT, OsoiteRivi1 TEXT, OsoiteRivi2 TEXT, Puhelin TEXT);"
      "INSERT INTO WEBPARAM VALUES('01', 'Ranta & Tie 1', '<00100>', '09 \"123\"');"
      "CREATE TABLE VARESNIMI(ResNo TEXT, ResNimi TEXT);"
      "INSERT INTO VARESNIMI VALUES('R01', 'Sali ''A'' & <B>');"
      "CREATE TABLE VaVuoro(VuoroNo TEXT, VuoroNoSeq TEXT, ResNo TEXT, VuoroAika TEXT, Maara INTEGER, Kausi TEXT);"
      "CREATE INDEX VaVuoro_ResNo_VuoroAika ON VaVuoro(ResNo, VuoroAika);"
      "CREATE TABLE VAVARAUS(VuoroNo TEXT, VuoroNoSeq TEXT, Jno INTEGER, Kausi TEXT);"
      "INSERT INTO VaVuoro VALUES('    1', '    1', 'R01', '2030-01-07 08:00:00', 4, 'K001');"
      "INSERT INTO VaVuoro VALUES('    2', '    1', 'R01', '2030-01-08 09:00:00', 6, 'K001');"
      "INSERT INTO VaVuoro VALUES('    3', '    1', 'R01', '2030-01-20 09:00:00', 6, 'K001');"  // a week on
      "INSERT INTO VaVuoro VALUES('    4', '    1', 'R02', '2030-01-07 10:00:00', 6, 'K001');"  // another resource
      "INSERT INTO VAVARAUS VALUES('    2', '    1', 1, 'K001');"
      "INSERT INTO VAVARAUS VALUES('    2', '    1', 2, 'K001');";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

const char* const kQuery = "Resurssi=R01&Alku=2030-01-07&Loppu=2030-01-14";

class BenchHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    MakeDatabase(dir_.File("centre.db"));
    bench::WriteFile(dir_.File("week.html"),
                     "<p>@ADDRESS@</p>\n<h1>@RESOURCE@</h1>\n<table>\n@ROWS@</table>\n<footer>\n</footer>\n");
    bench::WriteFile(dir_.File("week.tpl.php"),
                     "<p><?= $address ?></p>\n<h1><?= $resource ?></h1>\n<table>\n<?= $rows ?></table>\n"
                     "<footer>\n</footer>\n");
  }
  void TearDown() override { fs::remove_all(dir_.path()); }
  std::vector<std::string> WorkerEnv() const {
    return {"BENCH_DB=" + dir_.File("centre.db"), "BENCH_TEMPLATE=" + dir_.File("week.html")};
  }

  // A fresh folder, short enough for unix socket paths.
  struct Dir {
    std::string p = [] {
      char t[] = "/tmp/wo-harness-XXXXXX";
      return std::string(mkdtemp(t) ? t : "");
    }();
    const std::string& path() const { return p; }
    std::string File(const std::string& name) const { return p + "/" + name; }
  } dir_;
};

std::string Body(const std::string& answer) {
  size_t at = answer.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

TEST_F(BenchHarness, ProbeServesOnlyWhenTheProgramAnswersFastCgi) {
  const std::vector<std::string> request{"REQUEST_METHOD=GET", "SCRIPT_NAME=/limit",
                                         std::string("QUERY_STRING=") + kQuery};
  struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> env;
    bool serves;
    std::string why;
  } cases[] = {
      {"a CGI program writes its page and ends", WO_BENCH_FLOOR, {}, false, "ended at once (exit status 0)"},
      {"a worker that cannot start ends", WO_BENCH_FCGI_LIMIT, {}, false, "ended at once (exit status 2)"},
      {"a libfcgi worker answers", WO_BENCH_FCGI_LIMIT, WorkerEnv(), true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench::FastCgiProbe p = bench::ProbeFastCgi(c.program, request, dir_.path(), c.env);
    EXPECT_EQ(p.serves, c.serves) << p.why;
    EXPECT_NE(p.why.find(c.why), std::string::npos) << p.why;
    if (c.serves) {
      EXPECT_EQ(p.answer.rfind("Status: 200 OK\r\n", 0), 0u) << p.answer;
      EXPECT_NE(p.answer.find("Varaa?Kau=K001&amp;Vuo=    2\">"), std::string::npos) << p.answer;
    }
  }
}

// The same page, byte for byte: the libfcgi program run once as a CGI
// program, and the PHP page under php-fpm asked through cgi-fcgi.
TEST_F(BenchHarness, PhpPageAndLibfcgiPageWriteTheSameBytes) {
  std::string cmd = "env -i";
  for (const std::string& e : WorkerEnv()) cmd.append(" ").append(Quote(e));
  cmd.append(" ").append(Quote(std::string("QUERY_STRING=") + kQuery)).append(" ").append(WO_BENCH_FCGI_LIMIT);
  const std::string limit = Sh(cmd);
  const std::string page = Body(limit);
  EXPECT_EQ(limit.rfind("Status: 200 OK\r\n", 0), 0u) << limit;
  EXPECT_EQ(page,
            "<p>Ranta &amp; Tie 1, &lt;00100&gt;, 09 &quot;123&quot;</p>\n"
            "<h1>Sali &#039;A&#039; &amp; &lt;B&gt;</h1>\n<table>\n"
            "<tr><td>2030-01-07 08:00:00</td><td>4</td><td>0</td><td><a "
            "href=\"/cgi-bin/WebOrvane.exe/Varaa?Kau=K001&amp;Vuo=    1\">Varaa</a></td></tr>\n"
            "<tr><td>2030-01-08 09:00:00</td><td>6</td><td>2</td><td><a "
            "href=\"/cgi-bin/WebOrvane.exe/Varaa?Kau=K001&amp;Vuo=    2\">Varaa</a></td></tr>\n"
            "</table>\n<footer>\n</footer>\n");
  const std::string length = "Content-Length: " + std::to_string(page.size()) + "\r\n";
  EXPECT_NE(limit.find(length), std::string::npos);

  bench::Child fpm;
  const std::string sock = dir_.File("php-fpm.sock");
  bench::StartPhpFpm(fpm, dir_.path(), sock, 1,
                     {{"BENCH_DB", dir_.File("centre.db")}, {"BENCH_TEMPLATE", dir_.File("week.tpl.php")}});
  const std::string php = Sh("env -i REQUEST_METHOD=GET " + Quote(std::string("SCRIPT_FILENAME=") + WO_BENCH_PEER_PHP) +
                             " " + Quote(std::string("QUERY_STRING=") + kQuery) + " cgi-fcgi -bind -connect " +
                             Quote(sock) + " </dev/null");
  EXPECT_EQ(Body(php), page) << php;
  EXPECT_NE(php.find(length), std::string::npos) << php;
}

}  // namespace
