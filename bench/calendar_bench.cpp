// Cost of the week grid page as the web server sees it: whole-process wall
// time of the installed CGI program rendering /Viikko for one resource
// (logged in, week grid form, ~300 slots in its 32-day window and thousands
// of reservations), as a ratio to the same program rendering a page without
// tags. Measured on a database of 100,000 slots and, in the same loop, on a
// copy grown to 1,000,000 slots and a million reservations outside the
// window: the ratio should not move.
//
// Usage: calendar_bench CGI_PROGRAM [RUNS]
// The data is written straight through SQLite (one transaction per batch);
// the schema is made by the store's own CreateSchema.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/database.h"
#include "base/datetime.h"

namespace fs = std::filesystem;

namespace {

constexpr int kResources = 50;
const char* const kTarget = "R01";
const char* const kSession = "BENCH0000000042";  // 15 characters: logged in

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

class Db {
 public:
  explicit Db(const std::string& file) {
    Check(sqlite3_open(file.c_str(), &db_), db_, "open");
    Exec("PRAGMA synchronous=OFF");
  }
  ~Db() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error("sql: " + msg);
    }
  }
  sqlite3* get() { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(Db& db, const char* sql) : db_(db.get()) { Check(sqlite3_prepare_v2(db_, sql, -1, &st_, nullptr), db_, sql); }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt& Text(int i, const std::string& v) {
    sqlite3_bind_text(st_, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Int(int i, long long v) {
    sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  void Run() {
    Check(sqlite3_step(st_), db_, "step");
    sqlite3_reset(st_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* st_ = nullptr;
};

std::string Key5(long long n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%5lld", n % 100000);
  return buf;
}

// Slot numbers: VuoroNo runs 0..99999, VuoroNoSeq counts the hundred
// thousands, so a million slots keep the key (Kausi, VuoroNo, VuoroNoSeq)
// unique.
struct SlotWriter {
  Db& db;
  Stmt slot{db, "INSERT INTO VaVuoro(VuoroNo,VuoroNoSeq,ResNo,VuoroAika,Kesto,Maara,Ohjaaja,Laji,Tyyppi,Kausi) "
                "VALUES(?,?,?,?,?,?,?,?,?,'2025')"};
  Stmt reservation{db, "INSERT INTO VAVARAUS(VuoroNo,VuoroNoSeq,Jno,AsNo,Status,Kausi) VALUES(?,?,?,?,0,'2025')"};
  long long next = 0;

  // Writes one slot and `reserved` reservations of it.
  void Add(const std::string& res, wo::DateTime start, const char* tyyppi, int maara, int reserved, int kind) {
    const long long n = next++;
    const std::string no = Key5(n), seq = Key5(n / 100000 + 1);
    slot.Text(1, no).Text(2, seq).Text(3, res).Text(4, wo::ToStoredDateTime(start)).Text(5, "01:00:00")
        .Int(6, maara).Text(7, kind % 3 == 0 ? "O1" : "").Text(8, std::string("K") + std::to_string(kind % 12)).Text(9, tyyppi);
    slot.Run();
    for (int j = 1; j <= reserved; ++j) reservation.Text(1, no).Text(2, seq).Int(3, j).Text(4, std::to_string(1000 + j)).Run();
  }
};

// Slots of the other resources and of the target outside the window: days
// spread over ten years before and after it, never inside it.
void AddOutside(SlotWriter& w, long long count, wo::DateTime windowStart, std::mt19937& rng) {
  std::uniform_int_distribution<int> res(1, kResources), day(1, 3650), hour(6, 21), reserved(0, 2);
  for (long long i = 0; i < count; ++i) {
    const int r = res(rng);
    char name[8];
    std::snprintf(name, sizeof name, "R%02d", r);
    const int d = day(rng);
    // Other resources may have slots inside the window as well; the target
    // only outside it.
    const wo::DateTime date = (r != 1 && i % 50 == 0) ? windowStart + d % 32
                              : (d % 2 ? windowStart - d : windowStart + 32 + d);
    w.Add(name, date + wo::EncodeTime(hour(rng), 0, 0), i % 7 == 0 ? "S" : "", 10, reserved(rng), static_cast<int>(i));
  }
}

// Runs the program once as the web server would; `cpuMs` receives the
// child's user + system time.
std::string RunCgi(const fs::path& root, const std::string& path, const std::string& query, double* cpuMs = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const std::string cgiDir = (root / "www/cgi-bin").string();
  const std::string prog = cgiDir + "/WebOrvane.exe";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (chdir(cgiDir.c_str()) != 0) _exit(127);
    std::string e1 = "SERVER_PROTOCOL=HTTP/1.1", e2 = "REQUEST_METHOD=GET", e3 = "PATH_INFO=" + path,
                e4 = "QUERY_STRING=" + query, e5 = "REMOTE_ADDR=127.0.0.1";
    char* envp[] = {e1.data(), e2.data(), e3.data(), e4.data(), e5.data(), nullptr};
    char* argv[] = {const_cast<char*>(prog.c_str()), nullptr};
    execve(prog.c_str(), argv, envp);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  if (cpuMs)
    *cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Samples of one site: /Viikko and /Index, wall and CPU time.
struct Samples {
  fs::path root;
  std::vector<double> viikko, index, viikkoCpu, indexCpu;
  double Ratio() const { return Median(viikko) / Median(index); }
  double CpuRatio() const { return Median(viikkoCpu) / Median(indexCpu); }
};

double TimedRun(const fs::path& root, const std::string& path, const std::string& query, std::vector<double>& wall,
                std::vector<double>& cpuTimes) {
  using Clock = std::chrono::steady_clock;
  double cpu = 0;
  auto t0 = Clock::now();
  RunCgi(root, path, query, &cpu);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  wall.push_back(ms);
  cpuTimes.push_back(cpu);
  return ms;
}

// Alternates the two pages on both sites in one loop, so that both sites
// see the same load of the machine.
void Measure(std::vector<Samples*> sites, const std::string& viikkoQuery, int runs) {
  for (Samples* s : sites)
    for (int i = 0; i < 5; ++i) {  // warm the page cache
      RunCgi(s->root, "/Viikko", viikkoQuery);
      RunCgi(s->root, "/Index", "Lang=FIN");
    }
  for (int i = 0; i < runs; ++i)
    for (Samples* s : sites) {
      TimedRun(s->root, "/Viikko", viikkoQuery, s->viikko, s->viikkoCpu);
      TimedRun(s->root, "/Index", "Lang=FIN", s->index, s->indexCpu);
    }
}

long long Count(Db& db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db.get(), sql, -1, &st, nullptr), db.get(), sql);
  sqlite3_step(st);
  long long n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return n;
}

size_t Occurrences(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CGI_PROGRAM [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(5, std::atoi(argv[2])) : 150;
  char tmpl[] = "/tmp/wo-calendar-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const fs::path root = tmpl;
  int rc = 0;
  try {
    // The install tree: program, INI, templates, database.
    fs::create_directories(root / "www/cgi-bin");
    fs::create_directories(root / "log");
    fs::create_directories(root / "data");
    fs::copy_file(argv[1], root / "www/cgi-bin/WebOrvane.exe");
    WriteFile(root / "bin/Velmori.ini", "[DataBase]\nServerName=\nServerAddress=\nDatabaseFile=../data/VELMORI.db\n");
    const std::string frame = "<html><head><title>WebOrvane</title></head><body>\r\n";
    WriteFile(root / "www/WebOrvane/Fin/viikko.html", frame + "<table border=1>\r\n<#VUOROLISTA>\r\n</table></body></html>\r\n");
    WriteFile(root / "www/WebOrvane/Fin/index.html", frame + "<p>Tervetuloa</p></body></html>\r\n");
    const std::string dbFile = (root / "data/VELMORI.db").string();
    {
      wo::store::ConnectionSettings s;
      s.databaseFile = dbFile;
      s.createIfMissing = true;
      wo::store::Connection::Open(s)->CreateSchema();
    }

    // The window starts tomorrow, so every slot in it is still bookable.
    const wo::DateTime windowStart = wo::DateOf(wo::Now()) + 1;
    const wo::DateParts d = wo::Decode(windowStart);
    const std::string viikkoQuery = "ID=" + std::string(kSession) + "&Lang=FIN&Resurssi=" + kTarget +
                                    "&PP=" + std::to_string(d.day) + "&KK=" + std::to_string(d.month) +
                                    "&VV=" + std::to_string(d.year);
    std::mt19937 rng(42);
    auto t0 = std::chrono::steady_clock::now();
    {
      Db db(dbFile);
      db.Exec("BEGIN");
      db.Exec("INSERT INTO WEBPARAM(Numero,ListanMuoto,NaytaOhjaaja) VALUES('01',0,1)");
      db.Exec("INSERT INTO WEBREG(Tunnus,PinKoodi,AsNo,ID,Aika,Status) VALUES('bench','x','1001','" +
              std::string(kSession) + "','" + wo::ToStoredDateTime(wo::Now()) + "',1)");
      db.Exec("INSERT INTO VAOHJAAJA(Koodi,Lyhenne,Nimi) VALUES('O1','MV','Matti Virtanen')");
      for (int k = 0; k < 12; ++k)
        db.Exec("INSERT INTO VALAJI(Koodi,Lyhenne,Selite) VALUES('K" + std::to_string(k) + "','Laji" + std::to_string(k) + "','')");
      for (int r = 1; r <= kResources; ++r) {
        char sql[200];
        std::snprintf(sql, sizeof sql, "INSERT INTO VARESNIMI(ResNo,ResNimi,ResWebNayta) VALUES('R%02d','Resurssi %d',1)", r, r);
        db.Exec(sql);
      }
      SlotWriter w{db};
      // The target's month: ten slots a day from 08:00 for 30 days, two of
      // them fixed-time, with about ten reservations each.
      std::uniform_int_distribution<int> reserved(5, 15);
      for (int day = 0; day < 30; ++day)
        for (int h = 8; h < 18; ++h)
          w.Add(kTarget, windowStart + day + wo::EncodeTime(h, 0, 0), (h == 12 || h == 17) ? "S" : (h == 9 ? "A" : ""),
                20, reserved(rng), h);
      AddOutside(w, 100000 - w.next, windowStart, rng);
      db.Exec("COMMIT");
      db.Exec("ANALYZE");
      db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
      std::printf("database: %lld slots, %lld reservations, %lld slots of %s in the window (%.1f s to build)\n",
                  Count(db, "SELECT COUNT(*) FROM VaVuoro"), Count(db, "SELECT COUNT(*) FROM VAVARAUS"),
                  Count(db, ("SELECT COUNT(*) FROM VaVuoro WHERE ResNo='R01' AND VuoroAika>='" +
                             wo::ToStoredDateTime(windowStart) + "' AND VuoroAika<='" +
                             wo::ToStoredDateTime(windowStart + 31 + wo::EncodeTime(23, 59, 0)) + "'").c_str()),
                  kTarget, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }

    // The page must be the real one: seven day columns and booking links.
    const std::string page = RunCgi(root, "/Viikko", viikkoQuery);
    const size_t days = Occurrences(page, "<TH>"), links = Occurrences(page, "/Varaa?");
    if (days != 7 || links < 50) {
      std::fprintf(stderr, "unexpected /Viikko page (%zu day columns, %zu links):\n%s\n", days, links,
                   page.substr(0, 2000).c_str());
      throw std::runtime_error("the week grid page is not what the benchmark measures");
    }
    std::printf("/Viikko page: %zu bytes, %zu day columns, %zu booking links\n", page.size(), days, links);

    // A copy of the site whose database grows to ten times the slots, all
    // outside the window, with a reservation count to match.
    const fs::path bigRoot = root.string() + "-big";
    fs::copy(root, bigRoot, fs::copy_options::recursive);
    t0 = std::chrono::steady_clock::now();
    {
      Db db((bigRoot / "data/VELMORI.db").string());
      SlotWriter w{db};
      w.next = 100000;
      db.Exec("BEGIN");
      AddOutside(w, 900000, windowStart, rng);
      db.Exec("COMMIT");
      db.Exec("ANALYZE");
      db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
      std::printf("grown copy: %lld slots, %lld reservations (%.1f s to grow)\n", Count(db, "SELECT COUNT(*) FROM VaVuoro"),
                  Count(db, "SELECT COUNT(*) FROM VAVARAUS"),
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    if (RunCgi(bigRoot, "/Viikko", viikkoQuery) != page)
      throw std::runtime_error("the /Viikko page differs on the grown database");

    Samples small, large;
    small.root = root;
    large.root = bigRoot;
    Measure({&small, &large}, viikkoQuery, runs);
    auto report = [runs](const char* label, const Samples& t) {
      std::printf("%s wall /Viikko %.2f ms, /Index %.2f ms, ratio %.2f | cpu /Viikko %.2f ms, /Index %.2f ms, ratio %.2f"
                  " (medians of %d)\n",
                  label, Median(t.viikko), Median(t.index), t.Ratio(), Median(t.viikkoCpu), Median(t.indexCpu),
                  t.CpuRatio(), runs);
    };
    report("  100,000 slots:", small);
    report("1,000,000 slots:", large);
    std::printf("ratio change with ten times the slots: wall %+.1f%%, cpu %+.1f%%\n",
                (large.Ratio() / small.Ratio() - 1) * 100, (large.CpuRatio() / small.CpuRatio() - 1) * 100);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1 && load[0] > 1.5)
      std::printf("(load average %.1f while measuring: wall times include waiting for a core)\n", load[0]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "calendar_bench: %s\n", e.what());
    rc = 1;
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::remove_all(root.string() + "-big", ec);
  return rc;
}
