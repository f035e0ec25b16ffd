// The cost of WebOrvane's pages as a centre's web server pays it.
//
// Generates a large centre (50 resources, 100,000 slots, 200,000
// reservations, 5,000 web users) and one ten times larger (ten times the
// history: slots, reservations and users), installs the program with the
// default site's templates over each, and measures whole-process CGI runs
// side by side in one loop (floor, page, page on the larger database, in
// rotating order): medians, ratios to the floor — a minimal C program
// writing a fixed 5 KB page — and the change with ten times the data; peak
// memory of every request. Then requests per second of /Viikko through
// lighttpd under wrk against the floor program served the same way, and the
// pages on a PostgreSQL server against a minimal C++ program that connects
// over TCP and runs three queries. One table, and last the worst ratio.
//
//   centre_bench --cgi PROG --admin PROG --floor PROG --pg-floor PROG
//                --source DIR --work DIR [--runs N] [--wrk-seconds S]
//                [--no-large] [--no-pg] [--no-wrk]
//
// The data is written straight through SQLite (and COPY on PostgreSQL) into
// the schema that `weborvane-admin init` creates. The generated databases
// are kept in the work folder and reused on the same day.
#include <fcntl.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// ---- options -------------------------------------------------------------

struct Options {
  std::string cgi, admin, floor, pgFloor, source, work;
  int runs = 101;
  int wrkSeconds = 5;
  bool large = true, pg = true, wrk = true;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
      return argv[++i];
    };
    if (a == "--cgi") o.cgi = next();
    else if (a == "--admin") o.admin = next();
    else if (a == "--floor") o.floor = next();
    else if (a == "--pg-floor") o.pgFloor = next();
    else if (a == "--source") o.source = next();
    else if (a == "--work") o.work = next();
    else if (a == "--runs") o.runs = std::max(5, std::atoi(next().c_str()));
    else if (a == "--wrk-seconds") o.wrkSeconds = std::max(1, std::atoi(next().c_str()));
    else if (a == "--no-large") o.large = false;
    else if (a == "--no-pg") o.pg = false;
    else if (a == "--no-wrk") o.wrk = false;
    else throw std::runtime_error("unknown option " + a);
  }
  // Requests run in the program's own folder: every path is made absolute.
  for (std::string* p : {&o.cgi, &o.admin, &o.floor, &o.pgFloor, &o.source, &o.work})
    if (!p->empty()) *p = fs::absolute(*p).lexically_normal().string();
  if (o.cgi.empty() || o.admin.empty() || o.floor.empty() || o.source.empty() || o.work.empty())
    throw std::runtime_error("usage: centre_bench --cgi PROG --admin PROG --floor PROG --pg-floor PROG "
                             "--source DIR --work DIR [--runs N]");
  return o;
}

// ---- small helpers -------------------------------------------------------

std::string Sh(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + cmd);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  int rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (status) *status = rc;
  else if (rc != 0) throw std::runtime_error(cmd + " failed:\n" + out);
  return out;
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Pad(const std::string& s, size_t w) { return s.size() >= w ? s : std::string(w - s.size(), ' ') + s; }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// ---- the generated centre ------------------------------------------------

constexpr int kResources = 50;
constexpr int kCentres = 5;
constexpr int kSlotsPerDay = 10;  // per resource, 08:00 to 18:00
constexpr int kDaysAhead = 50;    // slots from today on
constexpr int kGeneratorVersion = 3;

// The users and keys the measured requests use.
const char* const kOmatUser = "benchomat";
const char* const kOmatId = "BENCHOMAT00001X";  // WEBREG.ID (15 characters)
const char* const kVarUser = "benchvar";
const char* const kVarId = "BENCHVAR000001X";
const char* const kOmatAsNo = "         900001";
const char* const kVarAsNo = "         900002";

struct Centre {
  int scale = 1;
  long long slots = 0, reservations = 0, users = 0;
  std::string commitKau, commitVuo, commitSeq;  // a free slot of R02 tomorrow at 12:00
};

// Receives the generated rows: a table, its columns, then rows of values
// (nullopt is null), texts in UTF-8.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Begin(const std::string& table, const std::vector<std::string>& cols) = 0;
  virtual void Row(const std::vector<std::optional<std::string>>& v) = 0;
  virtual void End() = 0;
};

class SqliteSink : public Sink {
 public:
  explicit SqliteSink(const std::string& file) {
    if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + file);
    Exec("PRAGMA synchronous=OFF");
    Exec("PRAGMA journal_mode=WAL");
    Exec("BEGIN");
  }
  ~SqliteSink() override {
    if (st_) sqlite3_finalize(st_);
    sqlite3_close(db_);
  }
  void Finish() {
    Exec("COMMIT");
    Exec("ANALYZE");
    Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string m = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error("sqlite: " + m + " in " + sql);
    }
  }
  void Begin(const std::string& table, const std::vector<std::string>& cols) override {
    std::string sql = "INSERT INTO " + table + "(", q;
    for (size_t i = 0; i < cols.size(); ++i) {
      sql += (i ? "," : "") + cols[i];
      q += i ? ",?" : "?";
    }
    sql += ") VALUES(" + q + ")";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st_, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_) + " in " + sql);
  }
  void Row(const std::vector<std::optional<std::string>>& v) override {
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i]) sqlite3_bind_text(st_, static_cast<int>(i + 1), v[i]->c_str(), static_cast<int>(v[i]->size()), SQLITE_TRANSIENT);
      else sqlite3_bind_null(st_, static_cast<int>(i + 1));
    }
    if (sqlite3_step(st_) != SQLITE_DONE) throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_));
    sqlite3_reset(st_);
  }
  void End() override {
    sqlite3_finalize(st_);
    st_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* st_ = nullptr;
};

class PgSink : public Sink {
 public:
  explicit PgSink(PGconn* c) : c_(c) {}
  void Begin(const std::string& table, const std::vector<std::string>& cols) override {
    std::string sql = "COPY " + table + "(";
    for (size_t i = 0; i < cols.size(); ++i) sql += (i ? "," : "") + cols[i];
    sql += ") FROM STDIN";
    PGresult* r = PQexec(c_, sql.c_str());
    if (PQresultStatus(r) != PGRES_COPY_IN) throw std::runtime_error(std::string("pg: ") + PQerrorMessage(c_));
    PQclear(r);
  }
  void Row(const std::vector<std::optional<std::string>>& v) override {
    for (size_t i = 0; i < v.size(); ++i) {
      if (i) buf_ += '\t';
      if (!v[i]) {
        buf_ += "\\N";
        continue;
      }
      for (char ch : *v[i]) {
        if (ch == '\\' || ch == '\t' || ch == '\n' || ch == '\r') buf_ += '\\';
        buf_ += ch;
      }
    }
    buf_ += '\n';
    if (buf_.size() > (1 << 16)) Flush();
  }
  void End() override {
    Flush();
    if (PQputCopyEnd(c_, nullptr) != 1) throw std::runtime_error(std::string("pg: ") + PQerrorMessage(c_));
    PGresult* r = PQgetResult(c_);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) throw std::runtime_error(std::string("pg copy: ") + PQerrorMessage(c_));
    PQclear(r);
  }

 private:
  void Flush() {
    if (!buf_.empty() && PQputCopyData(c_, buf_.data(), static_cast<int>(buf_.size())) != 1)
      throw std::runtime_error(std::string("pg: ") + PQerrorMessage(c_));
    buf_.clear();
  }
  PGconn* c_;
  std::string buf_;
};

using Row = std::vector<std::optional<std::string>>;

std::string Num(long long v) { return std::to_string(v); }
// A prefix and a number ("R" and 7: "R7").
std::string P(const char* prefix, long long v) { return std::string(prefix).append(Num(v)); }
std::string Key5(long long n) { return Pad(std::to_string(n), 5); }
std::string Stored(wo::DateTime t) { return wo::ToStoredDateTime(t); }

// A small deterministic generator: the same centre every time.
struct Lcg {
  unsigned long long s;
  unsigned Next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(s >> 33);
  }
};

// Writes the whole centre at `scale` (1: 100,000 slots) into `out`.
Centre Generate(Sink& out, int scale) {
  Centre c;
  c.scale = scale;
  const wo::DateTime today = wo::DateOf(wo::Now());
  const int days = 200 * scale;               // history grows with the scale
  const wo::DateTime first = today + kDaysAhead - days;
  const long long users = 5000LL * scale;
  Lcg rng{12345};

  out.Begin("WEBPARAM", {"Numero", "OsoiteRivi1", "OsoiteRivi2", "Puhelin", "EMail", "LnkKoti", "MaxAsVaraus",
                         "ListanMuoto", "PoistaEnnenPv", "LnkSaanto", "MaxVarausPv", "MaxVanhatPv",
                         "MaxVanhatVaraukset", "Varausmaksu", "Luottoraja", "VarMaksuKaytossa", "Logo", "NaytaOhjaaja"});
  out.Row({"01", "Rantatie 1", "00100 Helsinki", "09 123 4567", "info@example.org", "http://www.example.org/",
           "4", "0", "2", "http://www.example.org/saannot", "30", "180", "3", "2", "-100", "1", "logo.svg", "1"});
  out.End();

  out.Begin("WEBKESKUS", {"WebKeskus", "WebKeskusNimi", "WebNayta"});
  for (int k = 1; k <= kCentres; ++k) out.Row({P("C", k), P("Keskus ", k), "1"});
  out.End();

  out.Begin("VARESNIMI", {"ResNo", "ResNimi", "ResPaikka", "ResSarja", "ResWebNayta", "ResNeeded", "ResKeskus"});
  for (int r = 1; r <= kResources; ++r) {
    char no[8];
    std::snprintf(no, sizeof no, "R%02d", r);
    out.Row({no, P("Resurssi ", r) + (r % 3 ? " sali" : " kentt\xc3\xa4"), P("P", r), Num(r), "1", "0",
             P("C", (r - 1) / (kResources / kCentres) + 1)});
  }
  out.End();

  out.Begin("VALAJI", {"Koodi", "Lyhenne", "Selite"});
  for (int k = 1; k <= 30; ++k) out.Row({P("L", k), P("Laji ", k), P("Lajin ", k) + " kuvaus"});
  out.End();

  out.Begin("VAOHJAAJA", {"Koodi", "Lyhenne", "Nimi", "Kaytettavissa"});
  for (int k = 1; k <= 20; ++k) out.Row({P("O", k), P("Ohj ", k), P("Ohjaaja Numero ", k), "K"});
  out.End();

  out.Begin("WEBKOODI", {"ResNo", "WebKoodi", "WebSelite", "WebNumero"});
  for (int r = 1; r <= 5; ++r)
    for (int k = 1; k <= 3; ++k) out.Row({P("R0", r), P("W", k), P("Koodi ", k), Num(k)});
  out.End();

  out.Begin("PARAM", {"Avain", "ArvoInt32", "ArvoStr"});
  out.Row({"WebAsNo", Num(200000 + users), std::nullopt});
  out.End();

  const std::string longAgo = Stored(today - 30);
  out.Begin("WEBREG", {"Tunnus", "PinKoodi", "AsNo", "KorttiLyh", "Sukunimi", "EtuNimi", "PuhNo", "KatuOsoite1",
                       "PostiNo", "PostiToimiPaikka", "EMail1", "ID", "Aika", "Status", "RemoteHost", "MatkaPuh",
                       "TmpSaldo"});
  auto asNo = [](long long i) { return Pad(Num(200000 + i), 15); };
  for (long long i = 1; i <= users; ++i) {
    char t[16];
    std::snprintf(t, sizeof t, "u%07lld", i);
    out.Row({t, "x", asNo(i), i % 4 ? "" : P("K", i), P("Sukunimi", i), "Etunimi", P("040 ", i), "Katu 1",
             "00100", "Helsinki", Num(i) + "@example.org", "0", longAgo, "1", "127.0.0.1", "", "0"});
  }
  const std::string now = Stored(wo::Now());
  out.Row({kOmatUser, "x", kOmatAsNo, "", "Penkki", "Olli", "040 1", "Katu 2", "00100", "Helsinki",
           "o@example.org", kOmatId, now, "1", "127.0.0.1", "", "0"});
  out.Row({kVarUser, "x", kVarAsNo, "", "Penkki", "Ville", "040 2", "Katu 3", "00100", "Helsinki",
           "v@example.org", kVarId, now, "1", "127.0.0.1", "", "0"});
  out.End();
  c.users = users + 2;

  out.Begin("Asiakas", {"AsNo", "AsNimi", "PuhNo", "Laskutettu"});
  for (long long i = 2; i <= users; i += 2) out.Row({asNo(i), P("Asiakas ", i), P("040 ", i), "0"});
  out.End();

  // Slots: ten a day for every resource; one season ("Kausi") per 100 days,
  // numbered within it.
  struct SlotRef {
    std::string kau, vuo;
    int maara, reserved;
    wo::DateTime start;
  };
  std::vector<SlotRef> refs;
  refs.reserve(static_cast<size_t>(days) * kResources * kSlotsPerDay);
  out.Begin("VaVuoro", {"VuoroNo", "VuoroNoSeq", "ResNo", "VuoroAika", "Kesto", "Maara", "Ohjaaja", "Laji", "Tyyppi",
                        "Kausi"});
  for (int d = 0; d < days; ++d) {
    char kau[8];
    std::snprintf(kau, sizeof kau, "K%03d", d / 100);
    for (int r = 1; r <= kResources; ++r) {
      char res[8];
      std::snprintf(res, sizeof res, "R%02d", r);
      for (int h = 0; h < kSlotsPerDay; ++h) {
        long long inSeason = static_cast<long long>(d % 100) * kResources * kSlotsPerDay + (r - 1) * kSlotsPerDay + h + 1;
        long long n = static_cast<long long>(refs.size());
        wo::DateTime start = first + d + wo::EncodeTime(8 + h, 0, 0);
        int maara = 4 + static_cast<int>(n % 9);
        int reserved = static_cast<int>(n % 5);
        bool commit = r == 2 && start == today + 1 + wo::EncodeTime(12, 0, 0);
        if (commit) {
          maara = 12;
          reserved = 0;
          c.commitKau = kau;
          c.commitVuo = Num(inSeason);
          c.commitSeq.assign(1, '1');
        }
        const char* tyyppi = h == 4 ? "S" : (h == 7 ? "A" : "");
        out.Row({Key5(inSeason), Key5(1), res, Stored(start), "01:00:00", Num(maara),
                 n % 3 == 0 ? std::optional<std::string>(P("O", n % 20 + 1)) : std::nullopt, P("L", n % 30 + 1),
                 tyyppi, kau});
        refs.push_back({kau, Key5(inSeason), maara, std::min(reserved, maara), start});
      }
    }
  }
  out.End();
  c.slots = static_cast<long long>(refs.size());

  out.Begin("VAVARAUS", {"VuoroNo", "VuoroNoSeq", "Jno", "AsNo", "AsNimi", "KorttiLyh", "PuhNo", "Status",
                         "Varausaika", "Kaytettyaika", "AikaLeima", "Kausi", "Huom"});
  for (const SlotRef& s : refs) {
    for (int j = 1; j <= s.reserved; ++j) {
      long long u = rng.Next() % users + 1;
      bool past = s.start < today;
      std::string made = Stored(s.start - 3);
      out.Row({s.vuo, Key5(1), Num(j), asNo(u), P("Sukunimi", u) + " Etunimi", "", P("040 ", u),
               past && u % 10 ? "1" : "0", made, past ? std::optional<std::string>(Stored(s.start)) : std::nullopt, made,
               s.kau, "Web"});
      ++c.reservations;
    }
  }
  // The own reservations of the /Omat user: four open ones, on R01 at
  // 10:00 on the coming days (as extra places beyond the generated ones).
  int own = 0;
  for (const SlotRef& s : refs) {
    if (own == 4) break;
    if (s.start > today + 1 && s.vuo.size() && wo::Decode(s.start).hour == 10 && s.kau.size() &&
        s.maara > s.reserved) {
      out.Row({s.vuo, Key5(1), Num(s.reserved + 1), kOmatAsNo, "Penkki Olli", "", "040 1", "0", now, std::nullopt, now,
               s.kau, "Web"});
      ++own;
      ++c.reservations;
    }
  }
  out.End();
  if (c.commitVuo.empty()) throw std::runtime_error("no slot for the commit");
  return c;
}

// ---- install trees --------------------------------------------------------

struct Site {
  std::string name;
  fs::path root;
  Centre centre;
  fs::path cgiDir() const { return root / "www/cgi-bin"; }
  fs::path db() const { return root / "data/VELMORI.db"; }
  fs::path ini() const { return root / "bin/Velmori.ini"; }
};

void LayOut(const Options& o, const Site& s, const std::string& iniDb) {
  for (const char* d : {"www/cgi-bin", "www/htdocs", "bin", "log", "data"}) fs::create_directories(s.root / d);
  for (const char* lang : {"Fin", "Eng"}) {
    fs::remove_all(s.root / "www/WebOrvane" / lang);
    fs::create_directories(s.root / "www/WebOrvane" / lang);
    fs::copy(fs::path(o.source) / "site" / lang, s.root / "www/WebOrvane" / lang, fs::copy_options::recursive);
  }
  fs::copy(fs::path(o.source) / "site/htdocs", s.root / "www/htdocs",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  // The program under test is always the one just built.
  fs::copy_file(o.cgi, s.cgiDir() / "WebOrvane.exe", fs::copy_options::overwrite_existing);
  fs::copy_file(o.floor, s.cgiDir() / "Floor.exe", fs::copy_options::overwrite_existing);
  WriteFile(s.ini(), "[DataBase]\n" + iniDb + "\n[Site]\nCompanyName=Liikuntakeskus Penkki\n");
}

std::string Admin(const Options& o, const Site& s, const std::string& args) {
  return Sh("'" + o.admin + "' --ini '" + s.ini().string() + "' " + args + " 2>&1");
}

Site SqliteSite(const Options& o, const std::string& name, int scale) {
  Site s{name, fs::path(o.work) / name, {}};
  LayOut(o, s, "ServerName=\nServerAddress=\nDatabaseFile=../data/VELMORI.db");
  // The data is made for today: reuse it only when made today.
  char day[16];
  std::time_t t = std::time(nullptr);
  std::strftime(day, sizeof day, "%Y-%m-%d", std::localtime(&t));
  const fs::path mark = s.root / "data/generated";
  const std::string stamp = std::string(day) + " v" + std::to_string(kGeneratorVersion) + " x" + std::to_string(scale);
  std::string saved = ReadFile(mark);
  if (saved.rfind(stamp + "\n", 0) == 0 && fs::exists(s.db())) {
    char kau[16], vuo[16];
    if (std::sscanf(saved.c_str() + stamp.size() + 1, "%lld %lld %lld %15s %15s", &s.centre.slots,
                    &s.centre.reservations, &s.centre.users, kau, vuo) == 5) {
      s.centre.commitKau = kau;
      s.centre.commitVuo = vuo;
      s.centre.commitSeq = "1";
      s.centre.scale = scale;
      std::printf("%s: reusing today's database (%lld slots)\n", name.c_str(), s.centre.slots);
      return s;
    }
  }
  auto t0 = Clock::now();
  for (const char* ext : {"", "-wal", "-shm"}) fs::remove(s.db().string() + ext);
  Admin(o, s, "init");
  {
    SqliteSink sink(s.db().string());
    s.centre = Generate(sink, scale);
    sink.Finish();
  }
  Admin(o, s, "translations import '" + (fs::path(o.source) / "site/texts/eng.tsv").string() + "'");
  WriteFile(mark, stamp + "\n" + std::to_string(s.centre.slots) + " " + std::to_string(s.centre.reservations) + " " +
                      std::to_string(s.centre.users) + " " + s.centre.commitKau + " " + s.centre.commitVuo + "\n");
  std::printf("%s: %lld slots, %lld reservations, %lld web users, %.0f MB (%.1f s to generate)\n", name.c_str(),
              s.centre.slots, s.centre.reservations, s.centre.users, fs::file_size(s.db()) / 1048576.0,
              std::chrono::duration<double>(Clock::now() - t0).count());
  return s;
}

// ---- running requests -------------------------------------------------------

struct RunResult {
  double ms = 0;
  long maxRssKb = 0;
  std::string out;
};

// One request as the web server makes it: a fresh process in the program's
// folder with the CGI variables, its output read through a pipe.
RunResult RunCgi(const fs::path& program, const std::string& path, const std::string& query,
                 const std::vector<std::string>& argv = {}) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const std::string dir = program.parent_path().string(), prog = program.string();
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::string e1 = "SERVER_PROTOCOL=HTTP/1.1", e2 = "REQUEST_METHOD=GET", e3 = "PATH_INFO=" + path,
                e4 = "QUERY_STRING=" + query, e5 = "REMOTE_ADDR=127.0.0.1", e6 = "GATEWAY_INTERFACE=CGI/1.1";
    char* envp[] = {e1.data(), e2.data(), e3.data(), e4.data(), e5.data(), e6.data(), nullptr};
    std::vector<char*> av{const_cast<char*>(prog.c_str())};
    for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    execve(prog.c_str(), av.data(), envp);
    _exit(127);
  }
  close(fds[1]);
  RunResult r;
  char buf[65536];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  r.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  r.maxRssKb = ru.ru_maxrss;
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) throw std::runtime_error(prog + " " + path + " failed:\n" + r.out);
  return r;
}

// A request of the benchmark: what runs, and what must be undone after it
// (outside the measured time).
struct Request {
  std::function<RunResult()> run;
  std::function<void()> undo;
};

struct Samples {
  std::vector<double> ms;
  long peakKb = 0;
  double median() const { return Median(ms); }
};

// Runs the requests in turn, `runs` times, rotating their order so that
// each sees the same machine.
std::vector<Samples> SideBySide(const std::vector<Request>& reqs, int runs) {
  std::vector<Samples> s(reqs.size());
  for (int w = 0; w < 3; ++w)  // warm the page cache
    for (const Request& r : reqs) {
      r.run();
      if (r.undo) r.undo();
    }
  for (int i = 0; i < runs; ++i) {
    for (size_t k = 0; k < reqs.size(); ++k) {
      size_t j = (k + static_cast<size_t>(i)) % reqs.size();
      RunResult rr = reqs[j].run();
      if (reqs[j].undo) reqs[j].undo();
      s[j].ms.push_back(rr.ms);
      s[j].peakKb = std::max(s[j].peakKb, rr.maxRssKb);
    }
  }
  return s;
}

// ---- the database between runs ----------------------------------------------

void SqliteExec(const fs::path& db, const std::string& sql) {
  sqlite3* h = nullptr;
  if (sqlite3_open(db.string().c_str(), &h) != SQLITE_OK) throw std::runtime_error("open " + db.string());
  sqlite3_busy_timeout(h, 5000);
  char* err = nullptr;
  int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &err);
  std::string m = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(h);
  if (rc != SQLITE_OK) throw std::runtime_error("sqlite: " + m);
}

std::string UndoCommitSql() {
  return "DELETE FROM VAVARAUS WHERE AsNo='" + std::string(kVarAsNo) + "'; UPDATE WEBREG SET TmpSaldo=0, Aika='" +
         Stored(wo::Now()) + "' WHERE Tunnus='" + kVarUser + "';";
}

// ---- pages -------------------------------------------------------------------

struct Page {
  std::string label, path, query;
  int listForm = 0;   // ListanMuoto while measured
  double goal = 2.5;  // ratio to the floor
  bool commit = false;
  std::string mustContain;  // a sign that the page is the real one
  size_t minCount = 1;
};

std::vector<Page> Pages(const Centre& c) {
  wo::DateParts d = wo::Decode(wo::DateOf(wo::Now()) + 1);
  std::string day = P("&PP=", d.day) + P("&KK=", d.month) + P("&VV=", d.year);
  std::string id = std::string(kOmatId) + "Y";  // links carry more than the stored 15 characters
  return {
      {"/Index", "/Index", "ID=0&Lang=Fin", 0, 1.6, false, "<#", 0},
      {"/ResVal", "/ResVal", "ID=" + id + "&Lang=Fin", 0, 2.5, false, "<option", kResources},
      {"/Viikko week grid", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=R01" + day, 0, 2.5, false, "/Varaa?", 40},
      {"/Viikko resource list", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=R01" + day, 1, 2.5, false, "/Varaa?", 5},
      {"/Viikko centre list", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=C1" + day, 2, 2.5, false, "/Varaa?", 50},
      {"/Omat (4 reservations)", "/Omat", "ID=" + id + "&Lang=Fin", 0, 2.5, false, "/Poista?", 4},
      {"/Var commit", "/Var",
       "ID=" + std::string(kVarId) + "Z&Lang=Fin&Kau=" + c.commitKau + "&Vuo=" + c.commitVuo + "&Seq=" + c.commitSeq +
           "&Koodi=W1",
       0, 2.5, true, "Location: /cgi-bin/WebOrvane.exe/VarOk?", 1},
  };
}

void SetListForm(const Site& s, int form, PGconn* pg) {
  std::string sql = P("UPDATE WEBPARAM SET ListanMuoto=", form) + " WHERE Numero='01'";
  if (pg) {
    PGresult* r = PQexec(pg, sql.c_str());
    PQclear(r);
  } else {
    SqliteExec(s.db(), sql);
  }
}

// The page must be the real one before it is timed.
void Verify(const Page& p, const RunResult& r, const std::string& where) {
  bool ok = r.out.rfind("Status: " + std::string(p.commit ? "302" : "200"), 0) == 0;
  if (p.mustContain == "<#") ok = ok && r.out.find("<#") == std::string::npos && r.out.size() > 2000;
  else ok = ok && Count(r.out, p.mustContain) >= p.minCount;
  if (!ok)
    throw std::runtime_error(p.label + " on " + where + " is not the page to measure:\n" + r.out.substr(0, 1500));
}

// ---- lighttpd with wrk ---------------------------------------------------------

struct Server {
  pid_t pid = -1;
  int port = 0;
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

void StartLighttpd(const Options& o, const Site& s, Server& srv) {
  srv.port = FreePort();
  const fs::path conf = s.root / "lighttpd.conf";
  WriteFile(conf, Sh("'" + o.source + "/scripts/lighttpd-conf' '" + s.root.string() + P("' ", srv.port) + " 127.0.0.1"));
  srv.pid = fork();
  if (srv.pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    execlp("lighttpd", "lighttpd", "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
    execl("/usr/sbin/lighttpd", "lighttpd", "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    int st = 0;
    Sh(P("curl -fsS -o /dev/null http://127.0.0.1:", srv.port) + "/weborvane.css 2>/dev/null", &st);
    if (st == 0) return;
    usleep(100000);
  }
  throw std::runtime_error("lighttpd did not start");
}

double WrkRps(const std::string& url, int seconds, std::string* problems) {
  std::string out = Sh(P("wrk -t2 -c8 -d", seconds) + "s --timeout 10s '" + url + "' 2>&1");
  double rps = 0;
  size_t at = out.find("Requests/sec:");
  if (at != std::string::npos) rps = std::atof(out.c_str() + at + 13);
  if (out.find("Non-2xx") != std::string::npos || out.find("Socket errors") != std::string::npos)
    *problems += "wrk " + url + ":\n" + out;
  return rps;
}

// ---- PostgreSQL -------------------------------------------------------------------

struct PgServer {
  bool startedHere = false;
  std::string script;
  std::string host = "127.0.0.1", user = "weborvane";
  int port = 16000;
  ~PgServer() {
    if (startedHere) {
      int st;
      Sh("'" + script + "' stop >/dev/null 2>&1", &st);
    }
  }
  std::string Conninfo(const std::string& db) const {
    return "host=" + host + P(" port=", port) + " user=" + user + " dbname=" + db;
  }
};

PGconn* PgConnect(const std::string& conninfo) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    std::string m = PQerrorMessage(c);
    PQfinish(c);
    throw std::runtime_error("cannot connect: " + m);
  }
  return c;
}

void PgExec(PGconn* c, const std::string& sql) {
  PGresult* r = PQexec(c, sql.c_str());
  ExecStatusType st = PQresultStatus(r);
  PQclear(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
    throw std::runtime_error("pg: " + std::string(PQerrorMessage(c)) + " in " + sql);
}

Site PgSite(const Options& o, PgServer& server) {
  server.script = o.source + "/tests/pg/pg-server.sh";
  {
    PGconn* probe = PQconnectdb(server.Conninfo("postgres").c_str());
    bool up = PQstatus(probe) == CONNECTION_OK;
    PQfinish(probe);
    if (!up) {
      Sh("'" + server.script + "' start 2>&1");
      server.startedHere = true;
    }
  }
  PGconn* admin = PgConnect(server.Conninfo("postgres"));
  PgExec(admin, "DROP DATABASE IF EXISTS \"VELMORI\" WITH (FORCE)");
  PgExec(admin, "CREATE DATABASE \"VELMORI\"");
  PQfinish(admin);
  Site s{"pg", fs::path(o.work) / "pg", {}};
  LayOut(o, s, "ServerName=bench\nServerAddress=" + server.host + "\nUser=" + server.user + "\nPassword=");
  auto t0 = Clock::now();
  Admin(o, s, "init");
  PGconn* c = PgConnect(server.Conninfo("VELMORI"));
  PgExec(c, "BEGIN");
  PgSink sink(c);
  s.centre = Generate(sink, 1);
  PgExec(c, "COMMIT");
  PgExec(c, "ANALYZE webparam, varesnimi, vavuoro, valaji, webreg, vavaraus, asiakas, webkoodi, webkeskus, vaohjaaja");
  PQfinish(c);
  Admin(o, s, "translations import '" + (fs::path(o.source) / "site/texts/eng.tsv").string() + "'");
  std::printf("pg: %lld slots, %lld reservations on the server (%.1f s to load)\n", s.centre.slots,
              s.centre.reservations, std::chrono::duration<double>(Clock::now() - t0).count());
  return s;
}

// ---- the report ---------------------------------------------------------------------

struct Line {
  std::string label;
  double floor, page, ratio, goal;
  double large = 0, growth = 0;
  double peakMb = 0, floorPeakMb = 0;
};

// "" when every goal of a line is met, else which ones were missed.
std::string Missed(bool ratio, bool growth, bool memory) {
  std::string m;
  if (ratio) m += " ratio";
  if (growth) m += " growth";
  if (memory) m += " memory";
  return m.empty() ? m : "  MISSED:" + m;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    o = ParseOptions(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  fs::create_directories(o.work);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string problems;
  try {
    Site small = SqliteSite(o, "x1", 1);
    std::optional<Site> large;
    if (o.large) large = SqliteSite(o, "x10", 10);
    std::vector<Page> pages = Pages(small.centre);
    const fs::path floorProg = small.cgiDir() / "Floor.exe";

    std::vector<Line> lines;
    for (const Page& p : pages) {
      SetListForm(small, p.listForm, nullptr);
      if (large) SetListForm(*large, p.listForm, nullptr);
      std::vector<Request> reqs;
      reqs.push_back({[&] { return RunCgi(floorProg, p.path, p.query); }, nullptr});
      auto site = [&](const Site& s) {
        const fs::path prog = s.cgiDir() / "WebOrvane.exe";
        const std::string query = p.path == "/Var" ? Pages(s.centre)[6].query : p.query;
        Request r{[prog, p, query] { return RunCgi(prog, p.path, query); }, nullptr};
        if (p.commit) {
          const fs::path db = s.db();
          r.undo = [db] { SqliteExec(db, UndoCommitSql()); };
          SqliteExec(db, UndoCommitSql());
        }
        RunResult check = RunCgi(prog, p.path, query);
        Verify(p, check, s.name);
        if (r.undo) r.undo();
        return r;
      };
      reqs.push_back(site(small));
      if (large) reqs.push_back(site(*large));
      std::vector<Samples> s = SideBySide(reqs, o.runs);
      Line l{p.label, s[0].median(), s[1].median(), s[1].median() / s[0].median(), p.goal};
      l.peakMb = s[1].peakKb / 1024.0;
      l.floorPeakMb = s[0].peakKb / 1024.0;
      if (large) {
        l.large = s[2].median();
        l.growth = s[2].median() / s[1].median() - 1;
        l.peakMb = std::max(l.peakMb, s[2].peakKb / 1024.0);
      }
      std::printf("  measured %s\n", p.label.c_str());
      lines.push_back(l);
    }
    SetListForm(small, 0, nullptr);
    if (large) SetListForm(*large, 0, nullptr);

    // Through lighttpd: /Viikko against the floor program served alike.
    double rpsFloor = 0, rpsViikko = 0;
    if (o.wrk) {
      Server srv;
      StartLighttpd(o, small, srv);
      const std::string base = P("http://127.0.0.1:", srv.port) + "/cgi-bin/";
      const std::string viikko = base + "WebOrvane.exe/Viikko?" + pages[2].query;
      WrkRps(base + "Floor.exe/Viikko", 1, &problems);  // warm-up
      for (int i = 0; i < 2; ++i) {
        rpsFloor += WrkRps(base + "Floor.exe/Viikko", o.wrkSeconds, &problems) / 2;
        rpsViikko += WrkRps(viikko, o.wrkSeconds, &problems) / 2;
      }
    }

    // On a PostgreSQL server, against a program that connects over TCP and
    // runs three queries.
    std::vector<Line> pgLines;
    if (o.pg) {
      PgServer server;
      Site pgs = PgSite(o, server);
      PGconn* c = PgConnect(server.Conninfo("VELMORI"));
      const std::string conninfo = server.Conninfo("VELMORI") + " application_name=floor";
      const fs::path pgFloor = o.pgFloor;
      for (const Page& p : Pages(pgs.centre)) {
        SetListForm(pgs, p.listForm, c);
        std::vector<Request> reqs;
        reqs.push_back({[&] { return RunCgi(pgFloor, p.path, p.query, {conninfo}); }, nullptr});
        const fs::path prog = pgs.cgiDir() / "WebOrvane.exe";
        Request r{[prog, p] { return RunCgi(prog, p.path, p.query); }, nullptr};
        if (p.commit) r.undo = [c] { PgExec(c, UndoCommitSql()); };
        if (r.undo) r.undo();
        Verify(p, RunCgi(prog, p.path, p.query), "pg");
        if (r.undo) r.undo();
        reqs.push_back(r);
        std::vector<Samples> s = SideBySide(reqs, std::max(5, o.runs / 2));
        Line l{p.label, s[0].median(), s[1].median(), s[1].median() / s[0].median(), 1.2};
        l.peakMb = s[1].peakKb / 1024.0;
        l.floorPeakMb = s[0].peakKb / 1024.0;
        pgLines.push_back(l);
        std::printf("  measured %s on PostgreSQL\n", p.label.c_str());
      }
      SetListForm(pgs, 0, c);
      PQfinish(c);
    }

    // The table.
    std::printf("\nWebOrvane pages, whole-process CGI runs, medians of %d side by side\n", o.runs);
    std::printf("%-24s %9s %9s %7s %6s %10s %8s %8s\n", "page", "floor ms", "page ms", "ratio", "goal",
                "x10 ms", "growth", "peak MB");
    double worst = 0;
    std::string worstLabel;
    int missed = 0;
    for (const Line& l : lines) {
      char growth[32] = "-", big[32] = "-";
      if (large) {
        std::snprintf(big, sizeof big, "%.2f", l.large);
        std::snprintf(growth, sizeof growth, "%+.1f%%", l.growth * 100);
      }
      std::string miss = Missed(l.ratio > l.goal, large && l.growth > 0.10, l.peakMb >= 8);
      missed += !miss.empty();
      std::printf("%-24s %9.2f %9.2f %7.2f %6.1f %10s %8s %8.1f%s\n", l.label.c_str(), l.floor, l.page, l.ratio,
                  l.goal, big, growth, l.peakMb, miss.c_str());
      if (l.ratio > worst) {
        worst = l.ratio;
        worstLabel = l.label;
      }
    }
    if (o.wrk) {
      double r = rpsFloor > 0 ? rpsViikko / rpsFloor : 0;
      missed += r < 0.5;
      std::printf("%-24s %9.0f %9.0f %7.2f %6s   requests/s through lighttpd, wrk 8 connections%s\n",
                  "lighttpd /Viikko", rpsFloor, rpsViikko, r, ">=0.5", r < 0.5 ? "  MISSED" : "");
    }
    for (const Line& l : pgLines) {
      std::string miss = Missed(l.ratio > l.goal, false, l.peakMb >= 8);
      missed += !miss.empty();
      std::printf("%-24s %9.2f %9.2f %7.2f %6.1f %10s %8s %8.1f%s\n", ("pg " + l.label).c_str(), l.floor, l.page,
                  l.ratio, l.goal, "-", "-", l.peakMb, miss.c_str());
    }
    double floorPeak = 0, pgFloorPeak = 0;
    for (const Line& l : lines) floorPeak = std::max(floorPeak, l.floorPeakMb);
    for (const Line& l : pgLines) pgFloorPeak = std::max(pgFloorPeak, l.floorPeakMb);
    std::printf("peak memory of the floor programs: C floor %.1f MB", floorPeak);
    if (o.pg) std::printf(", PostgreSQL floor %.1f MB (the client library alone)", pgFloorPeak);
    std::printf("\n");
    if (!problems.empty()) std::printf("\nproblems:\n%s\n", problems.c_str());
    double load[1] = {0};
    if (getloadavg(load, 1) == 1 && load[0] > 1.5)
      std::printf("(load average %.1f while measuring: other work shared the cores)\n", load[0]);
    std::printf("%d line(s) with a missed goal\n", missed);
    std::printf("worst ratio: %.2f (%s, embedded database)\n", worst, worstLabel.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "centre_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
