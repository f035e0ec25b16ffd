// The cost of WebOrvane's pages as a centre's web server pays it.
//
// Generates a large centre (50 resources, 100,000 slots, 200,000
// reservations, 5,000 web users) and one ten times larger (ten times the
// history: slots, reservations and users), installs the program with the
// default site's templates over each, and measures whole-process CGI runs
// side by side in one loop (floor, page, page on the larger database, in
// rotating order): medians, ratios to the floor — a minimal C program
// writing a fixed 5 KB page — and the change with ten times the data; peak
// memory of every request. The same pages on a PostgreSQL server against a
// minimal C++ program that connects over TCP and runs three queries.
//
// Then, through lighttpd on loopback with wrk (8 connections): requests per
// second of /Viikko as a CGI program and as FastCGI workers that lighttpd
// starts (on the embedded database and on the PostgreSQL server), of the
// floor program served as CGI, and of two pages of the same size: the
// peers' runtime — a PHP page under php-fpm with opcache running three
// indexed queries (bench/peer_week.php) — and the limit — a libfcgi program
// keeping the database open with the same three prepared queries
// (bench/fcgi_limit.c). Every page as FastCGI on both databases, one request
// at a time. The FastCGI rows are "not available" while WebOrvane.exe does
// not serve FastCGI (a probe request through cgi-fcgi tells).
//
// One table with every row, its goal and whether it was met; the machine's
// load; last, the worst CGI ratio.
//
//   centre_bench --cgi PROG --admin PROG --floor PROG --pg-floor PROG
//                --source DIR --work DIR [--fcgi-limit PROG] [--peer-php FILE]
//                [--fastcgi-worker PROG] [--runs N] [--wrk-seconds S]
//                [--no-large] [--no-pg] [--no-wrk]
//
// --fastcgi-worker runs another program than the installed WebOrvane.exe
// as the FastCGI worker of both sites.
//
// The data is written straight through SQLite (and COPY on PostgreSQL) into
// the schema that `weborvane-admin init` creates. The generated databases
// are kept in the work folder and reused on the same day.
#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "servers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// ---- options -------------------------------------------------------------

struct Options {
  std::string cgi, admin, floor, pgFloor, source, work;
  std::string fcgiLimit, peerPhp, fastcgiWorker;
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
    else if (a == "--fcgi-limit") o.fcgiLimit = next();
    else if (a == "--peer-php") o.peerPhp = next();
    else if (a == "--fastcgi-worker") o.fastcgiWorker = next();
    else if (a == "--runs") o.runs = std::max(5, std::atoi(next().c_str()));
    else if (a == "--wrk-seconds") o.wrkSeconds = std::max(1, std::atoi(next().c_str()));
    else if (a == "--no-large") o.large = false;
    else if (a == "--no-pg") o.pg = false;
    else if (a == "--no-wrk") o.wrk = false;
    else throw std::runtime_error("unknown option " + a);
  }
  // Requests run in the program's own folder: every path is made absolute.
  for (std::string* p : {&o.cgi, &o.admin, &o.floor, &o.pgFloor, &o.source, &o.work, &o.fcgiLimit, &o.peerPhp,
                         &o.fastcgiWorker})
    if (!p->empty()) *p = fs::absolute(*p).lexically_normal().string();
  if (o.cgi.empty() || o.admin.empty() || o.floor.empty() || o.source.empty() || o.work.empty())
    throw std::runtime_error(
        "usage: centre_bench --cgi PROG --admin PROG --floor PROG --pg-floor PROG --source DIR --work DIR\n"
        "                    [--fcgi-limit PROG] [--peer-php FILE] [--fastcgi-worker PROG] [--runs N]\n"
        "                    [--wrk-seconds S] [--no-large] [--no-pg] [--no-wrk]");
  return o;
}

// ---- small helpers -------------------------------------------------------

using bench::Quote;
using bench::ReadFile;
using bench::Sh;
using bench::WriteFile;

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
  // The static program hands a server's site to its dynamic sibling.
  const fs::path sibling = fs::path(o.cgi).parent_path() / "dynamic/WebOrvane.exe";
  if (fs::exists(sibling)) {
    fs::create_directories(s.root / "lib/dynamic");
    fs::copy_file(sibling, s.root / "lib/dynamic/WebOrvane.exe", fs::copy_options::overwrite_existing);
  }
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
                 const std::vector<std::string>& argv = {}, const std::vector<std::string>& env = {}) {
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
    std::vector<char*> envp{e1.data(), e2.data(), e3.data(), e4.data(), e5.data(), e6.data()};
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::vector<char*> av{const_cast<char*>(prog.c_str())};
    for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    execve(prog.c_str(), av.data(), envp.data());
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

// Leaves the write-ahead log as the program does: kept, and moved into the
// database by the program's commits rather than by this connection's close
// (which would also delete it, so that each measured commit would pay for
// making a new one).
void SqliteExec(const fs::path& db, const std::string& sql) {
  sqlite3* h = nullptr;
  if (sqlite3_open(db.string().c_str(), &h) != SQLITE_OK) throw std::runtime_error("open " + db.string());
  sqlite3_busy_timeout(h, 5000);
  int persist = 1;
  sqlite3_file_control(h, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
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
  double goal = 2.0;  // ratio to the floor
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
      {"/ResVal", "/ResVal", "ID=" + id + "&Lang=Fin", 0, 2.0, false, "<option", kResources},
      {"/Viikko week grid", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=R01" + day, 0, 2.0, false, "/Varaa?", 40},
      {"/Viikko resource list", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=R01" + day, 1, 2.0, false, "/Varaa?", 5},
      {"/Viikko centre list", "/Viikko", "ID=" + id + "&Lang=Fin&Resurssi=C1" + day, 2, 2.0, false, "/Varaa?", 50},
      {"/Omat (4 reservations)", "/Omat", "ID=" + id + "&Lang=Fin", 0, 2.0, false, "/Poista?", 4},
      {"/Var commit", "/Var",
       "ID=" + std::string(kVarId) + "Z&Lang=Fin&Kau=" + c.commitKau + "&Vuo=" + c.commitVuo + "&Seq=" + c.commitSeq +
           "&Koodi=W1",
       0, 2.0, true, "Location: /cgi-bin/WebOrvane.exe/VarOk?", 1},
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

// The status of an answer in CGI form ("Status: 302 Found") or HTTP form
// ("HTTP/1.0 302 Found"); 0 for anything else.
int StatusOf(const std::string& out) {
  if (out.rfind("Status: ", 0) == 0) return std::atoi(out.c_str() + 8);
  if (out.rfind("HTTP/1.", 0) == 0 && out.size() > 12) return std::atoi(out.c_str() + 9);
  return 0;
}

// The body of an answer, after its headers.
std::string BodyOf(const std::string& out) {
  size_t at = out.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : out.substr(at + 4);
}

// "" when `out` (a CGI or an HTTP answer) is the page to measure, else why not.
std::string NotThePage(const Page& p, const std::string& out) {
  bool ok = StatusOf(out) == (p.commit ? 302 : 200);
  if (p.mustContain == "<#") ok = ok && out.find("<#") == std::string::npos && out.size() > 2000;
  else ok = ok && Count(out, p.mustContain) >= p.minCount;
  return ok ? std::string() : p.label + " is not the page to measure:\n" + out.substr(0, 1500);
}

// The page must be the real one before it is timed.
void Verify(const Page& p, const RunResult& r, const std::string& where) {
  std::string why = NotThePage(p, r.out);
  if (!why.empty()) throw std::runtime_error("on " + where + ": " + why);
}

// ---- PostgreSQL -------------------------------------------------------------------

std::string Env(const char* name, const char* def) {
  const char* v = std::getenv(name);
  return v && *v ? v : def;
}

// The server the tests use: WO_PG_HOST and WO_PG_PORT as in
// tests/support/pg.h. The program itself always connects to port 16000;
// another server for a private run listens on another loopback address.
struct PgServer {
  bool startedHere = false;
  std::string script;
  std::string host = Env("WO_PG_HOST", "127.0.0.1"), user = "weborvane";
  int port = std::atoi(Env("WO_PG_PORT", "16000").c_str());
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
  // As the server's routine maintenance leaves a centre's tables: counted
  // for the planner, and their pages marked all-visible, so that an index
  // walk reads no table page to check a row -- and no autovacuum of the
  // fresh rows runs into the measurements.
  PgExec(c,
         "VACUUM ANALYZE webparam, varesnimi, vavuoro, valaji, webreg, vavaraus, asiakas, webkoodi, webkeskus, "
         "vaohjaaja");
  PQfinish(c);
  Admin(o, s, "translations import '" + (fs::path(o.source) / "site/texts/eng.tsv").string() + "'");
  std::printf("pg: %lld slots, %lld reservations on the server (%.1f s to load)\n", s.centre.slots,
              s.centre.reservations, std::chrono::duration<double>(Clock::now() - t0).count());
  return s;
}

// ---- the anchor pages -------------------------------------------------------------

// FastCGI workers of each backend and php-fpm's children: two per core.
// WebOrvane's workers run as site/server/lighttpd-fastcgi.conf starts
// them: four, each ending after 10,000 requests.
constexpr int kFastCgiProcs = 4;
constexpr int kConnections = 8;

// A short folder for unix sockets (their paths are limited to 107 bytes),
// removed with what is in it.
struct SocketDir {
  fs::path path;
  SocketDir() {
    char t[] = "/tmp/weborvane-bench-XXXXXX";
    if (!mkdtemp(t)) throw std::runtime_error("mkdtemp");
    path = t;
  }
  ~SocketDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

// The page of the anchors, with its three holes. The footer's text pads it
// to `filler` more bytes, so that the filled page is as large as the week
// grid page. Every hole is followed by a tag (PHP would eat a newline
// after its closing tag).
std::string AnchorTemplate(size_t filler) {
  std::string t =
      "<!DOCTYPE html>\n<html lang=\"fi\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Vuorot</title>\n"
      "<link rel=\"stylesheet\" href=\"/weborvane.css\">\n</head>\n<body>\n"
      "<header><p class=\"address\">@ADDRESS@</p></header>\n<main>\n<h1>@RESOURCE@</h1>\n<table class=\"week\">\n"
      "<thead><tr><th>Aika</th><th>Paikat</th><th>Varattu</th><th></th></tr></thead>\n<tbody>\n@ROWS@</tbody>\n"
      "</table>\n</main>\n<footer>\n";
  static const std::string line = "<p>Varausehdot, aukioloajat ja yhteystiedot.</p>\n";
  std::string f;
  while (f.size() + line.size() <= filler) f += line;
  f.resize(filler, ' ');
  return t + f + "</footer>\n</body>\n</html>\n";
}

std::string Replace(std::string s, const std::string& what, const std::string& with) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
  return s;
}

// The two anchor pages over the site's database: the same three queries,
// the same template, the same bytes. `why*` say why one is not there.
struct Anchors {
  std::string query;    // Resurssi=R01&Alku=...&Loppu=... (tomorrow and a week on)
  fs::path templ;       // the template of the libfcgi program
  fs::path templPhp;    // the same as PHP, for the php-fpm page
  std::string page;     // the filled page (body), as the libfcgi program wrote it
  std::string limitWhy, peerWhy;
};

// Writes the templates into WORK/anchor, padded to the `size` bytes of the
// week grid page: the libfcgi program, run once as a CGI program, fills the
// unpadded one, and the difference becomes the footer.
Anchors SetUpAnchors(const Options& o, const Site& s, size_t size) {
  Anchors a;
  const fs::path dir = fs::path(o.work) / "anchor";
  fs::create_directories(dir);
  a.templ = dir / "week.html";
  a.templPhp = dir / "week.tpl.php";
  const wo::DateTime tomorrow = wo::DateOf(wo::Now()) + 1;
  a.query = "Resurssi=R01&Alku=" + Stored(tomorrow).substr(0, 10) + "&Loppu=" + Stored(tomorrow + 7).substr(0, 10);
  size_t filler = 0;
  if (o.fcgiLimit.empty()) {
    a.limitWhy = "the libfcgi program was not built (libfcgi-dev missing when configured)";
  } else {
    const std::vector<std::string> env{"BENCH_DB=" + s.db().string(), "BENCH_TEMPLATE=" + a.templ.string()};
    WriteFile(a.templ, AnchorTemplate(0));
    size_t bare = BodyOf(RunCgi(o.fcgiLimit, "", a.query, {}, env).out).size();
    filler = size > bare ? size - bare : 0;
    WriteFile(a.templ, AnchorTemplate(filler));
    RunResult r = RunCgi(o.fcgiLimit, "", a.query, {}, env);
    a.page = BodyOf(r.out);
    if (StatusOf(r.out) != 200 || Count(a.page, "/Varaa?") < 10)
      throw std::runtime_error("the libfcgi page is not the page to measure:\n" + r.out.substr(0, 1500));
  }
  if (o.peerPhp.empty()) {
    a.peerWhy = "no PHP page given (--peer-php)";
  } else {
    std::string php = AnchorTemplate(filler);
    php = Replace(php, "@ADDRESS@", "<?= $address ?>");
    php = Replace(php, "@RESOURCE@", "<?= $resource ?>");
    php = Replace(php, "@ROWS@", "<?= $rows ?>");
    WriteFile(a.templPhp, php);
    fs::copy_file(o.peerPhp, s.root / "www/htdocs/peer_week.php", fs::copy_options::overwrite_existing);
  }
  return a;
}

// ---- WebOrvane as FastCGI workers ----------------------------------------------------

// The CGI variables of a request for `p` on the site `s`.
std::vector<std::string> CgiRequest(const Site& s, const Page& p) {
  return {"GATEWAY_INTERFACE=CGI/1.1",
          "SERVER_PROTOCOL=HTTP/1.1",
          "SERVER_SOFTWARE=bench",
          "SERVER_NAME=127.0.0.1",
          "SERVER_PORT=80",
          "REQUEST_METHOD=GET",
          "SCRIPT_NAME=/cgi-bin/WebOrvane.exe",
          "PATH_INFO=" + p.path,
          "QUERY_STRING=" + p.query,
          "REQUEST_URI=/cgi-bin/WebOrvane.exe" + p.path + "?" + p.query,
          "REMOTE_ADDR=127.0.0.1",
          "DOCUMENT_ROOT=" + (s.root / "www/htdocs").string()};
}

// A lighttpd that serves /cgi-bin/WebOrvane.exe of a site through FastCGI
// workers it starts itself — once a probe request showed that the program
// serves FastCGI and answers with the page. Otherwise `why` says why not.
struct FastCgiSite {
  std::string why;
  bench::Child server;
  int port = 0;
  bool up() const { return why.empty(); }
};

void StartFastCgiSite(FastCgiSite& f, const Options& o, const Site& s, const Page& probePage,
                      const fs::path& sockets) {
  const fs::path worker = o.fastcgiWorker.empty() ? s.cgiDir() / "WebOrvane.exe" : fs::path(o.fastcgiWorker);
  bench::FastCgiProbe probe = bench::ProbeFastCgi(worker, CgiRequest(s, probePage), sockets);
  if (!probe.serves) {
    f.why = worker.filename().string() + " does not serve FastCGI: " + probe.why;
    return;
  }
  std::string wrong = NotThePage(probePage, probe.answer);
  if (!wrong.empty()) {
    f.why = worker.filename().string() + " answers FastCGI, but " + wrong.substr(0, wrong.find('\n'));
    return;
  }
  f.port = bench::FreePort();
  const fs::path conf = s.root / "lighttpd-fastcgi.conf";
  WriteFile(conf, bench::FastCgiOnlyConf(s.root / "www/htdocs", f.port, s.root / "log/lighttpd-fastcgi.log",
                                         {{"/cgi-bin/WebOrvane.exe", sockets / (s.name + ".sock"), worker,
                                           kFastCgiProcs, {{"WEBORVANE_MAX_REQUESTS", "10000"}}}}));
  bench::StartLighttpd(f.server, conf, f.port, "/weborvane.css", s.root / "log/lighttpd-fastcgi.out");
  // Through lighttpd too the page must be the real one.
  bench::HttpResult r = bench::HttpGet(f.port, "/cgi-bin/WebOrvane.exe" + probePage.path + "?" + probePage.query);
  std::string why = NotThePage(probePage, r.out);
  if (!why.empty()) throw std::runtime_error("FastCGI through lighttpd on " + s.name + ": " + why);
}

// ---- the report ---------------------------------------------------------------------

// One row of the table: what was measured, against what, the ratio, its
// goal and the goals it missed.
struct Line {
  Line(std::string l, std::string m, std::string a)
      : label(std::move(l)), measured(std::move(m)), against(std::move(a)) {}
  std::string label, measured, against;
  double ratio = -1;  // < 0: none
  std::string goal;   // "": the row has no goal
  std::vector<std::string> missed = {};
  bool available = true;
  std::string notes;

  void Check(bool miss, const char* what) {
    if (miss) missed.push_back(what);
  }
  std::string Result() const {
    if (!available) return "not available";
    if (goal.empty()) return "-";
    if (missed.empty()) return "met";
    std::string m = "MISSED";
    for (const std::string& w : missed) m += " " + w;
    return m;
  }
};

struct Section {
  std::string title;
  std::vector<Line> rows = {};
};

std::string Fmt(const char* format, double v) {
  char b[64];
  std::snprintf(b, sizeof b, format, v);
  return b;
}

Line Unavailable(const std::string& label, const std::string& goal, const std::string& notes = {}) {
  Line r{label, "-", "-"};
  r.goal = goal;
  r.available = false;
  r.notes = notes;
  return r;
}

void PrintTable(const std::vector<Section>& sections) {
  std::printf("\n%-30s %12s %12s %6s  %-20s %-17s %s\n", "row", "measured", "against", "ratio", "goal", "result",
              "notes");
  for (const Section& s : sections) {
    if (s.rows.empty()) continue;
    for (size_t at = 0; at < s.title.size();) {
      size_t end = std::min(s.title.find('\n', at), s.title.size());
      std::printf("-- %s\n", s.title.substr(at, end - at).c_str());
      at = end + 1;
    }
    for (const Line& r : s.rows) {
      std::string ratio = r.ratio < 0 ? "-" : Fmt("%.2f", r.ratio);
      std::printf("%-30s %12s %12s %6s  %-20s %-17s %s\n", r.label.c_str(), r.measured.c_str(), r.against.c_str(),
                  ratio.c_str(), r.goal.empty() ? "-" : r.goal.c_str(), r.Result().c_str(), r.notes.c_str());
    }
  }
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
  std::string problems, unavailable;
  std::vector<Section> sections;
  try {
    Site small = SqliteSite(o, "x1", 1);
    std::optional<Site> large;
    if (o.large) large = SqliteSite(o, "x10", 10);
    const std::vector<Page> pages = Pages(small.centre);
    const Page& week = pages[2];
    const fs::path floorProg = small.cgiDir() / "Floor.exe";

    // CGI on the embedded database, against the floor.
    Section cgi{"CGI on SQLite: ms per request, median of " + std::to_string(o.runs) +
                " whole-process runs side by side, against the C floor program (a fixed 5 KB page)\n" +
                "goals also: ten times the data within +10% (x10), peak memory under 8 MB"};
    double worst = 0;
    std::string worstLabel;
    size_t weekSize = 0;
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
        if (&p == &week && &s == &small) weekSize = BodyOf(check.out).size();
        if (r.undo) r.undo();
        return r;
      };
      reqs.push_back(site(small));
      if (large) reqs.push_back(site(*large));
      std::vector<Samples> s = SideBySide(reqs, o.runs);
      Line r{p.label, Fmt("%.2f ms", s[1].median()), Fmt("%.2f ms", s[0].median())};
      r.ratio = s[1].median() / s[0].median();
      r.goal = Fmt("<= %.1f", p.goal);
      r.Check(r.ratio > p.goal, "ratio");
      double peakMb = s[1].peakKb / 1024.0;
      if (large) {
        double growth = s[2].median() / s[1].median() - 1;
        peakMb = std::max(peakMb, s[2].peakKb / 1024.0);
        r.Check(growth > 0.10, "growth");
        r.notes = Fmt("x10 %.2f ms ", s[2].median()) + Fmt("(%+.1f%%), ", growth * 100);
      }
      r.Check(peakMb >= 8, "memory");
      r.notes += Fmt("peak %.1f MB", peakMb) + Fmt(" (floor %.1f MB)", s[0].peakKb / 1024.0);
      if (r.ratio > worst) {
        worst = r.ratio;
        worstLabel = p.label;
      }
      std::printf("  measured %s\n", p.label.c_str());
      cgi.rows.push_back(r);
    }
    SetListForm(small, 0, nullptr);
    if (large) SetListForm(*large, 0, nullptr);
    sections.push_back(cgi);

    // On a PostgreSQL server, against a program that connects over TCP and
    // runs three queries.
    std::optional<PgServer> pgServer;
    std::optional<Site> pgs;
    PGconn* pgc = nullptr;
    int pageRuns = std::max(5, o.runs / 2);
    if (o.pg) {
      pgServer.emplace();
      pgs = PgSite(o, *pgServer);
      pgc = PgConnect(pgServer->Conninfo("VELMORI"));
      Section pgCgi{"CGI on PostgreSQL: ms per request, median of " + std::to_string(pageRuns) +
                    ", against the PostgreSQL floor program (TCP connect, three queries, a 5 KB page)"};
      const std::string conninfo = pgServer->Conninfo("VELMORI") + " application_name=floor";
      const fs::path pgFloor = o.pgFloor;
      for (const Page& p : Pages(pgs->centre)) {
        SetListForm(*pgs, p.listForm, pgc);
        std::vector<Request> reqs;
        reqs.push_back({[&] { return RunCgi(pgFloor, p.path, p.query, {conninfo}); }, nullptr});
        const fs::path prog = pgs->cgiDir() / "WebOrvane.exe";
        Request r{[prog, p] { return RunCgi(prog, p.path, p.query); }, nullptr};
        if (p.commit) r.undo = [pgc] { PgExec(pgc, UndoCommitSql()); };
        if (r.undo) r.undo();
        Verify(p, RunCgi(prog, p.path, p.query), "pg");
        if (r.undo) r.undo();
        reqs.push_back(r);
        std::vector<Samples> s = SideBySide(reqs, pageRuns);
        Line row{p.label, Fmt("%.2f ms", s[1].median()), Fmt("%.2f ms", s[0].median())};
        row.ratio = s[1].median() / s[0].median();
        row.goal = "<= 1.2";
        row.Check(row.ratio > 1.2, "ratio");
        row.notes = Fmt("peak %.1f MB", s[1].peakKb / 1024.0) + Fmt(" (floor %.1f MB)", s[0].peakKb / 1024.0);
        pgCgi.rows.push_back(row);
        std::printf("  measured %s on PostgreSQL\n", p.label.c_str());
      }
      SetListForm(*pgs, 0, pgc);
      sections.push_back(pgCgi);
    }

    if (o.wrk) {
      SocketDir sockets;
      // The anchors beside the CGI programs in one lighttpd: the floor and
      // /Viikko as CGI, the php-fpm page and the libfcgi page as FastCGI.
      Anchors anchors = SetUpAnchors(o, small, weekSize);
      bench::Child fpm, cgiServer;
      std::vector<bench::FastCgiBackend> backends;
      if (anchors.peerWhy.empty()) {
        try {
          const fs::path sock = sockets.path / "php-fpm.sock";
          bench::StartPhpFpm(fpm, fs::path(o.work) / "anchor", sock, kFastCgiProcs,
                             {{"BENCH_DB", small.db().string()}, {"BENCH_TEMPLATE", anchors.templPhp.string()}});
          backends.push_back({".php", sock, {}, 1, {}});
        } catch (const std::exception& e) {
          anchors.peerWhy = e.what();
        }
      }
      if (anchors.limitWhy.empty())
        backends.push_back({"/limit", sockets.path / "limit.sock", o.fcgiLimit, kFastCgiProcs,
                            {{"BENCH_DB", small.db().string()}, {"BENCH_TEMPLATE", anchors.templ.string()}}});
      const int port = bench::FreePort();
      const fs::path conf = small.root / "lighttpd.conf";
      std::string c = Sh(Quote(o.source + "/scripts/lighttpd-conf") + " " + Quote(small.root.string()) + " " +
                         std::to_string(port) + " 127.0.0.1");
      if (!backends.empty()) c += "\nserver.modules += ( \"mod_fastcgi\" )\n" + bench::FastCgiServer(backends);
      WriteFile(conf, c);
      bench::StartLighttpd(cgiServer, conf, port, "/weborvane.css", small.root / "log/lighttpd.out");

      // Both anchors must write the same page, as large as the week grid.
      const std::string base = "http://127.0.0.1:" + std::to_string(port);
      if (anchors.limitWhy.empty()) {
        bench::HttpResult r = bench::HttpGet(port, "/limit?" + anchors.query);
        if (r.status != 200 || BodyOf(r.out) != anchors.page)
          throw std::runtime_error("the libfcgi page through lighttpd is not the one it wrote as CGI:\n" +
                                   r.out.substr(0, 1500));
      }
      if (anchors.peerWhy.empty()) {
        bench::HttpResult r = bench::HttpGet(port, "/peer_week.php?" + anchors.query);
        std::string body = BodyOf(r.out);
        if (r.status != 200 || Count(body, "/Varaa?") < 10)
          throw std::runtime_error("the php-fpm page is not the page to measure:\n" + r.out.substr(0, 1500));
        if (anchors.limitWhy.empty() && body != anchors.page)
          problems += "the php-fpm page differs from the libfcgi page (" + std::to_string(body.size()) + " and " +
                      std::to_string(anchors.page.size()) + " bytes)\n";
      }

      // WebOrvane as FastCGI workers, on each database.
      FastCgiSite onSqlite, onPg;
      StartFastCgiSite(onSqlite, o, small, week, sockets.path);
      if (pgs) StartFastCgiSite(onPg, o, *pgs, Pages(pgs->centre)[2], sockets.path);
      else onPg.why = "no PostgreSQL server (--no-pg)";

      // wrk on every server in turn, twice (the second round backwards).
      struct Target {
        std::string url, why;
        bench::WrkResult r = {};
      };
      auto fcgiUrl = [&](const FastCgiSite& f) {
        return "http://127.0.0.1:" + std::to_string(f.port) + "/cgi-bin/WebOrvane.exe/Viikko?" + week.query;
      };
      std::vector<Target> t{
          {base + "/cgi-bin/Floor.exe/Viikko", ""},
          {base + "/cgi-bin/WebOrvane.exe/Viikko?" + week.query, ""},
          {base + "/peer_week.php?" + anchors.query, anchors.peerWhy},
          {base + "/limit?" + anchors.query, anchors.limitWhy},
          {onSqlite.up() ? fcgiUrl(onSqlite) : "", onSqlite.why},
          {onPg.up() ? fcgiUrl(onPg) : "", onPg.why},
      };
      for (Target& x : t)
        if (x.why.empty()) bench::Wrk(x.url, 1, kConnections, &problems);  // warm-up
      for (int round = 0; round < 2; ++round) {
        for (size_t k = 0; k < t.size(); ++k) {
          Target& x = t[round ? t.size() - 1 - k : k];
          if (!x.why.empty()) continue;
          bench::WrkResult r = bench::Wrk(x.url, o.wrkSeconds, kConnections, &problems);
          x.r.rps += r.rps / 2;
          x.r.p99Ms += r.p99Ms / 2;
        }
      }
      std::printf("  measured requests per second through lighttpd\n");
      const double floorRps = t[0].r.rps;
      Section web{"Through lighttpd: requests/s with wrk, " + std::to_string(kConnections) +
                  " connections on loopback, mean of two rounds, against the CGI floor program\n" +
                  "FastCGI: " + std::to_string(kFastCgiProcs) + " workers each; the three-query pages are as large " +
                  "as the week grid (" + std::to_string(weekSize) + " bytes)"};
      auto rpsRow = [&](const std::string& label, const Target& x, const std::string& goal, double min,
                        const std::string& note) {
        if (!x.why.empty()) return Unavailable(label, goal, note);
        Line r{label, Fmt("%.0f rps", x.r.rps), Fmt("%.0f rps", floorRps)};
        r.ratio = floorRps > 0 ? x.r.rps / floorRps : 0;
        r.goal = goal;
        if (min > 0) r.Check(r.ratio < min, "ratio");
        r.notes = Fmt("p99 %.1f ms", x.r.p99Ms) + (note.empty() ? "" : "; " + note);
        return r;
      };
      web.rows.push_back(rpsRow("CGI floor program", t[0], "", 0, "fixed 5 KB page"));
      web.rows.push_back(rpsRow("CGI /Viikko week grid", t[1], ">= 0.5", 0.5, ""));
      web.rows.push_back(rpsRow("php-fpm three-query page", t[2], "", 0, "the peers' runtime"));
      web.rows.push_back(rpsRow("libfcgi three-query page", t[3], "", 0, "the limit"));
      for (int k : {4, 5}) {
        Line r = rpsRow(k == 4 ? "FastCGI /Viikko on SQLite" : "FastCGI /Viikko on PostgreSQL", t[k],
                       k == 4 ? ">= 3.0, p99 < 20 ms" : ">= 2.5, p99 < 20 ms", k == 4 ? 3.0 : 2.5, "");
        if (r.available) r.Check(t[k].r.p99Ms >= 20, "p99");
        web.rows.push_back(r);
      }
      if (t[4].why.empty() && t[2].why.empty()) {
        Line r{"FastCGI /Viikko vs php-fpm", Fmt("%.0f rps", t[4].r.rps), Fmt("%.0f rps", t[2].r.rps)};
        r.ratio = t[2].r.rps > 0 ? t[4].r.rps / t[2].r.rps : 0;
        r.goal = ">= 1.3";
        r.Check(r.ratio < 1.3, "ratio");
        r.notes = "on SQLite, against the php-fpm page";
        web.rows.push_back(r);
      } else {
        web.rows.push_back(Unavailable("FastCGI /Viikko vs php-fpm", ">= 1.3"));
      }
      sections.push_back(web);

      // Every page as FastCGI, one request at a time: PostgreSQL against
      // SQLite, side by side.
      Section each{"FastCGI through lighttpd, every page: ms per request, median of " + std::to_string(pageRuns) +
                   " one at a time, on PostgreSQL against SQLite"};
      for (const Page& p : pages) {
        if (!onSqlite.up() || !onPg.up()) {
          each.rows.push_back(Unavailable(p.label, "<= 1.5"));
          continue;
        }
        SetListForm(small, p.listForm, nullptr);
        SetListForm(*pgs, p.listForm, pgc);
        auto request = [&](const FastCgiSite& f, const Page& pp, std::function<void()> undo) {
          const int fport = f.port;
          const std::string target = "/cgi-bin/WebOrvane.exe" + pp.path + "?" + pp.query;
          Request r{[fport, target] {
                      bench::HttpResult h = bench::HttpGet(fport, target);
                      return RunResult{h.ms, 0, h.out};
                    },
                    undo};
          if (undo) undo();
          Verify(pp, r.run(), "FastCGI");
          if (undo) undo();
          return r;
        };
        const fs::path db = small.db();
        std::function<void()> undoSqlite, undoPg;
        if (p.commit) {
          undoSqlite = [db] { SqliteExec(db, UndoCommitSql()); };
          undoPg = [pgc] { PgExec(pgc, UndoCommitSql()); };
        }
        std::vector<Request> reqs{request(onSqlite, p, undoSqlite),
                                  request(onPg, Pages(pgs->centre)[static_cast<size_t>(&p - pages.data())], undoPg)};
        std::vector<Samples> s = SideBySide(reqs, pageRuns);
        Line r{p.label, Fmt("%.2f ms", s[1].median()), Fmt("%.2f ms", s[0].median())};
        r.ratio = s[1].median() / s[0].median();
        r.goal = "<= 1.5";
        r.Check(r.ratio > 1.5, "ratio");
        each.rows.push_back(r);
        std::printf("  measured %s as FastCGI\n", p.label.c_str());
      }
      SetListForm(small, 0, nullptr);
      if (pgs) SetListForm(*pgs, 0, pgc);
      sections.push_back(each);
      for (const FastCgiSite* f : {&onSqlite, &onPg})
        if (!f->up() && unavailable.find(f->why) == std::string::npos) unavailable += "  " + f->why + "\n";
      if (!anchors.peerWhy.empty()) unavailable += "  php-fpm page: " + anchors.peerWhy + "\n";
      if (!anchors.limitWhy.empty()) unavailable += "  libfcgi page: " + anchors.limitWhy + "\n";
    }
    if (pgc) PQfinish(pgc);

    // The table, what was not available and why, the load, the worst ratio.
    PrintTable(sections);
    int missed = 0, notThere = 0;
    for (const Section& s : sections)
      for (const Line& r : s.rows) {
        missed += r.available && !r.missed.empty();
        notThere += !r.available;
      }
    if (!unavailable.empty()) std::printf("\nnot available:\n%s", unavailable.c_str());
    if (!problems.empty()) std::printf("\nproblems:\n%s\n", problems.c_str());
    double load[3] = {0, 0, 0};
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (getloadavg(load, 3) == 3)
      std::printf("\nload average %.2f %.2f %.2f (1, 5, 15 minutes) on %ld cores%s\n", load[0], load[1], load[2],
                  cores, load[0] > 0.75 * static_cast<double>(cores) ? ": other work shared the cores" : "");
    std::printf("%d row(s) with a missed goal, %d not available\n", missed, notThere);
    std::printf("worst CGI ratio: %.2f (%s, embedded database)\n", worst, worstLabel.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "centre_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
