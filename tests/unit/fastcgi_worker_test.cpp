// The program as a FastCGI worker: the same bytes as the CGI program
// through every change between requests, nothing of a failed request left
// behind, a memory and descriptor count that stay flat, and the end of a
// worker.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "frame/fastcgi.h"
#include "module_harness.h"
#include "store/sqlite_handle.h"
#include "support/centre_rows.h"

namespace wo::test {
namespace {

namespace fs = std::filesystem;

// Each step changes the site, then the same request goes to a CGI process
// and to one long-lived worker: the answers must be the same bytes. The
// worker saw the site as it was at the step before.
TEST(FastCgiWorker, SameBytesAsTheCgiProgramThroughEveryChange) {
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "<#YRITYS>|<#YROSOITE1>|<#LANG>");
  site.WriteTemplate("Eng", "index.html", "Eng <#YRITYS>");
  const std::string aside = site.root() + "/aside.db", closed = site.root() + "/data/maintenance";
  struct Step {
    std::string what;
    std::function<void()> change;
    std::string query;
    int status;
  };
  const std::vector<Step> steps = {
      {"served", [] {}, "Lang=FIN", 200},
      {"INI changed", [&] { site.WriteIni("[Site]\nCompanyName=Uusi Oy\n"); }, "", 200},
      {"same size", [&] { site.WriteIni("[Site]\nCompanyName=Vanh Oy\n"); }, "", 200},
      {"settings row", [&] { InsertRow(*site.Connect(), "WEBPARAM", {{"Numero", "01"}, {"OsoiteRivi1", "Katu"}}); },
       "", 200},
      {"template", [&] { site.WriteTemplate("Fin", "index.html", "uusi <#YRITYS>"); }, "", 200},
      {"bad query", [] {}, "Lang=%zz", 500},
      {"after a failure", [] {}, "Lang=Eng", 200},
      {"no database", [&] { fs::rename(site.dbFile(), aside); }, "", 500},
      {"still none", [] {}, "", 500},
      {"database back", [&] { fs::rename(aside, site.dbFile()); }, "", 200},
      {"another database", [&] { fs::copy_file(site.dbFile(), aside); fs::rename(aside, site.dbFile()); }, "", 200},
      {"closed", [&] { std::ofstream(closed) << "restoring\n"; }, "", 500},
      {"open again", [&] { fs::remove(closed); }, "", 200},
      {"no INI", [&] { fs::remove(site.iniFile()); }, "", 500},
      {"INI back", [&] { site.WriteIni(""); }, "Lang=Eng", 200},
  };
  for (const Step& s : steps) {
    s.change();
    const CgiResult fcgi = site.RunAsFastCgi("/Index", s.query);
    const CgiResult cgi = site.RunAsCgi("/Index", s.query);
    EXPECT_EQ(cgi.status, s.status) << s.what << "\n" << cgi.raw;
    EXPECT_EQ(fcgi.raw, cgi.raw) << s.what;
  }

  // A server named while the worker runs: the program linked statically
  // cannot load the client library, so it has the dynamic one answer this
  // request (as a CGI process hands over to it), then ends.
  site.WriteIni("ServerName=Test\nServerAddress=/nonexistent-socket-dir\n");
  const CgiResult fcgi = site.RunAsFastCgi("/Index", "");
  const CgiResult cgi = site.RunAsCgi("/Index", "");
  EXPECT_EQ(cgi.status, 500) << cgi.raw;
  EXPECT_NE(cgi.raw.find("/nonexistent-socket-dir"), std::string::npos) << cgi.raw;
  EXPECT_EQ(fcgi.raw, cgi.raw);
  if (kSanitized) return;
  EXPECT_EQ(site.Worker().WaitExit(0, 10), 0);
  // The next worker starts on a server's site and hands over at once; it
  // serves the embedded database too when the INI returns to it.
  site.StopWorker();
  site.WriteIni("ServerName=Test\nServerAddress=/nonexistent-socket-dir\n");
  EXPECT_EQ(site.RunAsFastCgi("/Index", "").raw, cgi.raw);
  site.WriteIni("");
  EXPECT_EQ(site.RunAsFastCgi("/Index", "").raw, site.RunAsCgi("/Index", "").raw);
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(site.Worker().pids()[0]) + "/exe"),
            fs::path(site.root()) / "lib/dynamic/WebOrvane.exe");
}

// A worker keeps the code tables it read while the database is unchanged,
// and the option lists made of them: a name another program changes shows
// on the next page as it does in a CGI process.
TEST(FastCgiWorker, CodeTablesChangedBetweenRequestsShow) {
  TempSite site(SiteOptions{true, true, ""});
  ASSERT_EQ(Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + site.iniFile() + "' demo >/dev/null").first, 0);
  const DateParts d = Decode(Now());
  const std::string day = "&PP=" + std::to_string(d.day) + "&KK=" + std::to_string(d.month) + "&VV=" +
                          std::to_string(d.year);
  const std::string week = "ID=0&Lang=Fin&Resurssi=102" + day, centre = "ID=0&Lang=Fin&Resurssi=RP" + day,
                    options = "ID=0&Lang=Fin";
  auto sql = [&](const std::string& text) {
    store::SqliteDb db = store::OpenSqliteDb(site.dbFile(), SQLITE_OPEN_READWRITE);
    ASSERT_EQ(sqlite3_exec(db.get(), text.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << text;
  };
  struct Step {
    std::string what, change, path, query, shown;
  };
  const std::vector<Step> steps = {
      {"served", "", "/Viikko", week, "Anna N."},
      {"instructor", "UPDATE VAOHJAAJA SET Lyhenne='Anna U.' WHERE Koodi='AN'", "/Viikko", week, "Anna U."},
      {"activity kind", "UPDATE VALAJI SET Lyhenne='Polku' WHERE Koodi='SPIN'", "/Viikko", week, "Polku"},
      {"resource", "UPDATE VARESNIMI SET ResNimi='Sali X' WHERE ResNo='102'", "/Viikko", week, "Sali X"},
      {"unchanged", "", "/Viikko", week, "Sali X"},
      {"option list", "", "/ResVal", options, "Sali X"},
      {"option renamed", "UPDATE VARESNIMI SET ResNimi='Sali Y' WHERE ResNo='102'", "/ResVal", options, "Sali Y"},
      {"centres listed", "UPDATE WEBPARAM SET ListanMuoto=2", "/ResVal", options, "Rantapuiston"},
      {"centre renamed", "UPDATE WEBKESKUS SET WebKeskusNimi='Keskus Z' WHERE WebKeskus='RP'", "/ResVal", options,
       "Keskus Z"},
      {"centre's list", "", "/Viikko", centre, "Sali Y"},
      {"centre's list again", "", "/Viikko", centre, "Sali Y"},
      {"resource hidden", "UPDATE VARESNIMI SET ResWebNayta=0 WHERE ResNo='102'", "/Viikko", centre, "Kuntosali"},
  };
  for (const Step& s : steps) {
    if (!s.change.empty()) sql(s.change);
    const CgiResult fcgi = site.RunAsFastCgi(s.path, s.query);
    const CgiResult cgi = site.RunAsCgi(s.path, s.query);
    EXPECT_NE(cgi.raw.find(s.shown), std::string::npos) << s.what;
    EXPECT_EQ(fcgi.raw, cgi.raw) << s.what;
  }
}

// A booking whose write fails ends in the status-500 page, and the worker
// holds no lock and no half-done change: the same booking, tried again
// once the database accepts it, is made once.
TEST(FastCgiWorker, AFailedCommitLeavesNothingBehind) {
  TempSite site;
  site.WriteTemplate("Fin", "error.html", "E:<#ERROR>");
  auto c = site.Connect();
  const std::string when = ToStoredDateTime(DateOf(Now()) + 2 + EncodeTime(18, 0, 0));
  InsertRow(*c, "WEBPARAM", {{"Numero", "01"}, {"MaxAsVaraus", "4"}, {"MaxVarausPv", "30"}});
  AddUser(*c, {.tunnus = "u", .asNo = "7", .id = "7O12345678901234", .aika = ToStoredDateTime(Now()),
               .more = {{"TmpSaldo", "0"}}});
  AddSlot(*c, {.kausi = "2030", .vuoroNo = "    1", .seq = "    1", .res = "R1", .at = when, .laji = "SP"});
  c.reset();
  const std::string query = "ID=7O12345678901234&Lang=Fin&Kau=2030&Vuo=1&Seq=1";
  EXPECT_EQ(site.RunAsFastCgi("/Index", "").status, 500);  // no template: the worker is up and connected

  ExecSql(site, "CREATE TRIGGER refuse BEFORE INSERT ON VAVARAUS BEGIN SELECT RAISE(ABORT, 'no room on disk'); END");
  const CgiResult failed = site.RunAsFastCgi("/Var", query);
  EXPECT_EQ(failed.status, 500) << failed.raw;
  EXPECT_NE(failed.body.find("no room on disk"), std::string::npos) << failed.raw;
  // No transaction of the worker holds the database: a writer gets it at once.
  ExecSql(site, "PRAGMA busy_timeout=0; BEGIN IMMEDIATE; DROP TRIGGER refuse; COMMIT");

  const CgiResult booked = site.RunAsFastCgi("/Var", query);
  EXPECT_EQ(booked.status, 302) << booked.raw;
  EXPECT_EQ(CountRows(site, "VAVARAUS", "Kausi;VuoroNo;VuoroNoSeq;Jno"), 1);
}

// Memory and descriptors of one worker over 10,000 requests of every kind
// (pages of both languages, the calendar, failed logins that write, a bad
// query): the resident size grows by less than 1 MB after the first
// hundred, and no descriptor is open that was not open after the first.
TEST(FastCgiWorker, TenThousandRequestsLeaveMemoryAndDescriptorsFlat) {
  TempSite site(SiteOptions{true, true, ""});
  for (const std::string& cmd : {std::string(" demo"), " translations import '" + std::string(WO_SOURCE_DIR) +
                                                            "/site/texts/eng.tsv'"})
    ASSERT_EQ(Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + site.iniFile() + "'" + cmd + " >/dev/null").first, 0);
  const DateParts d = Decode(Now());
  const std::string today =
      "PP=" + std::to_string(d.day) + "&KK=" + std::to_string(d.month) + "&VV=" + std::to_string(d.year);
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"/Index", ""},
      {"/Index", "Lang=Eng"},
      {"/ResVal", "ID=0&Lang=Fin"},
      {"/Viikko", "ID=0&Lang=Fin&Resurssi=102&" + today},
      {"/Viikko", "ID=0&Lang=Eng&Resurssi=201&" + today},
      {"/Login", "Lang=Eng"},
      {"/Omat", "ID=0&Lang=Fin"},
      {"/ChkLogin", "Lang=Fin&Tunnus=demo&Koodi=wrong"},
      {"/Index", "Lang=%zz"},
  };
  const pid_t pid = site.Worker().pids()[0];
  const std::string proc = "/proc/" + std::to_string(pid);
  auto descriptors = [&] {
    std::set<std::string> fds;
    for (const auto& e : fs::directory_iterator(proc + "/fd")) {
      std::error_code ec;
      fds.insert(e.path().filename().string() + " " + fs::read_symlink(e.path(), ec).string());
    }
    return fds;
  };
  auto residentKb = [&] {
    std::ifstream f(proc + "/status");
    for (std::string line; std::getline(f, line);)
      if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1L;
  };
  std::set<std::string> first;
  long warm = 0;
  int failures = 0;
  for (int i = 0; i < 10000; ++i) {
    const auto& [path, query] = requests[static_cast<size_t>(i) % requests.size()];
    const int status = site.RunAsFastCgi(path, query).status;
    if (status != (query == "Lang=%zz" ? 500 : 200) && failures++ < 5)
      ADD_FAILURE() << path << "?" << query << ": " << status;
    if (i == 0) first = descriptors();
    if (i == 99) warm = residentKb();
  }
  const long end = residentKb();
  if (!kSanitized) {
    EXPECT_LT(end - warm, 1024) << "kB resident after 100 requests: " << warm << ", after 10,000: " << end;
  }
  // The worker closes the last request's connection just after its answer
  // has been read: wait for that, up to a second.
  std::vector<std::string> opened;
  for (int tries = 0; tries < 50; ++tries) {
    opened.clear();
    for (const std::string& fd : descriptors())
      if (!first.count(fd)) opened.push_back(fd);
    if (opened.empty()) break;
    usleep(20000);
  }
  for (const std::string& fd : opened) ADD_FAILURE() << "opened since the first request: " << fd;
}

// A worker's own Unix socket, stopped, refuses new connections and still
// hands out those that wait; a socket systemd shares, or a TCP one, is
// left as it is.
TEST(FastCgiWorker, StopTakingConnectionsRefusesOnlyWhatIsNew) {
  const std::string path = std::filesystem::temp_directory_path() / ("wo-stop-" + std::to_string(getpid()));
  const struct {
    bool unixSocket, shared;
  } cases[] = {{true, false}, {true, true}, {false, false}};
  for (const auto& c : cases) {
    sockaddr_un un{};
    sockaddr_in in{};
    sockaddr* addr = reinterpret_cast<sockaddr*>(&un);
    socklen_t len = sizeof un;
    un.sun_family = AF_UNIX;
    std::snprintf(un.sun_path, sizeof un.sun_path, "%s", path.c_str());
    if (!c.unixSocket) {
      in.sin_family = AF_INET;
      in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      addr = reinterpret_cast<sockaddr*>(&in);
      len = sizeof in;
    }
    unlink(path.c_str());
    const int listening = socket(addr->sa_family, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listening, addr, len), 0);
    ASSERT_EQ(listen(listening, 8), 0);
    ASSERT_EQ(getsockname(listening, addr, &len), 0);
    auto connectOnce = [&] {
      const int s = socket(addr->sa_family, SOCK_STREAM, 0);
      const int r = connect(s, addr, len);
      close(s);
      return r == 0;
    };
    ASSERT_TRUE(connectOnce());  // waits to be accepted
    if (c.shared) setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    const bool stopped = StopTakingConnections(listening);
    unsetenv("LISTEN_PID");
    EXPECT_EQ(stopped, c.unixSocket && !c.shared);
    EXPECT_EQ(connectOnce(), !stopped);
    const int waiting = accept(listening, nullptr, nullptr);
    EXPECT_GE(waiting, 0);
    close(waiting);
    if (stopped) {
      EXPECT_LT(accept(listening, nullptr, nullptr), 0);  // at once, not waiting
    }
    close(listening);
  }
  unlink(path.c_str());
}

// The address of a process's vDSO: placed anew (ASLR) by every exec.
std::string VdsoOf(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find("[vdso]") != std::string::npos) return line.substr(0, line.find(' '));
  return "";
}

bool AddressesRandomized() {
  std::ifstream f("/proc/sys/kernel/randomize_va_space");
  int v = 0;
  return (f >> v) && v != 0;
}

// A worker that has served the number of requests its environment allows
// starts over in the same process, a new program image on the same
// socket: no request is refused or lost on the way, also those that
// connected while it was held stopped; it ends at once on SIGTERM.
TEST(FastCgiWorker, StartsOverAfterItsRequestsAndEndsOnTerm) {
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "ok");
  struct Case {
    const char* limit;
    int held;  // requests that connect while the worker is stopped
    int after;
  };
  for (const Case& c : {Case{"3", 0, 7}, Case{"1", 3, 2}}) {
    SCOPED_TRACE(c.limit);
    FastCgiWorkers w(site.program(), site.root() + "/max" + c.limit + ".sock", 1,
                     {std::string("WEBORVANE_MAX_REQUESTS=") + c.limit});
    const pid_t pid = w.pids()[0];
    EXPECT_EQ(ParseCgiOutput(w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}})).body, "ok");
    const std::string image = VdsoOf(pid);
    if (c.held > 0) {
      kill(pid, SIGSTOP);
      std::vector<std::future<std::string>> answers;
      for (int i = 0; i < c.held; ++i)
        answers.push_back(std::async(std::launch::async, [&w] { return w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}}); }));
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      kill(pid, SIGCONT);
      for (auto& a : answers) EXPECT_EQ(ParseCgiOutput(a.get()).body, "ok");
    }
    for (int i = 0; i < c.after; ++i) EXPECT_EQ(ParseCgiOutput(w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}})).body, "ok");
    EXPECT_EQ(kill(pid, 0), 0) << "the worker ended instead of starting over";
    if (AddressesRandomized()) {
      EXPECT_NE(VdsoOf(pid), image) << "the worker went on in its old image";
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(w.WaitExit(0, 10), 0);
  }
  FastCgiWorkers w(site.program(), site.root() + "/term.sock");
  EXPECT_EQ(ParseCgiOutput(w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}})).body, "ok");
  kill(w.pids()[0], SIGTERM);
  EXPECT_EQ(w.WaitExit(0, 10), 0);
}

}  // namespace
}  // namespace wo::test
