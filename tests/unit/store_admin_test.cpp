// `weborvane-admin init` and `translations import / export`, run as the
// built command against a temporary INI file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include "store/sqlite_handle.h"
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "store/backend.h"
#include "store/database.h"
#include "store/handles.h"
#include "store/table.h"
#include "support/dump.h"
#include "support/pg.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

struct CmdResult {
  int rc = -1;
  std::string out;  // standard output and error
};

CmdResult Shell(const std::string& cmd) {
  CmdResult r;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// The tables, columns and unique indexes that the centre's other tools rely
// on, as the shared interface lists them, and the web front's own table.
const std::map<std::string, std::string> kColumns = {
    {"WEBPARAM",
     "Numero TEXT, OsoiteRivi1 TEXT, OsoiteRivi2 TEXT, Puhelin TEXT, EMail TEXT, LnkKoti TEXT, "
     "MaxAsVaraus INTEGER, ListanMuoto INTEGER, PoistaEnnenPv INTEGER, LnkSaanto TEXT, MaxVarausPv INTEGER, "
     "MaxVanhatPv INTEGER, MaxVanhatVaraukset INTEGER, Varausmaksu REAL, Luottoraja REAL, "
     "VarMaksuKaytossa INTEGER, Logo TEXT, OtsikkoYla TEXT, OtsikkoAla TEXT, NaytaOhjaaja INTEGER"},
    {"VARESNIMI",
     "ResNo TEXT, ResNimi TEXT, ResPaikka TEXT, ResSarja INTEGER, ResWebNayta INTEGER, ResNeeded INTEGER, "
     "ResKeskus TEXT"},
    {"VaVuoro",
     "VuoroNo TEXT, VuoroNoSeq TEXT, ResNo TEXT, VuoroAika TEXT, Kesto TEXT, Maara INTEGER, Ohjaaja TEXT, "
     "Laji TEXT, Tyyppi TEXT, Kausi TEXT"},
    {"VALAJI", "Koodi TEXT, Lyhenne TEXT, Selite TEXT"},
    {"WEBREG",
     "Tunnus TEXT, PinKoodi TEXT, AsNo TEXT, KorttiLyh TEXT, Sukunimi TEXT, EtuNimi TEXT, PuhNo TEXT, "
     "KatuOsoite1 TEXT, PostiNo TEXT, PostiToimiPaikka TEXT, EMail1 TEXT, ID TEXT, Aika TEXT, Status INTEGER, "
     "RemoteHost TEXT, MatkaPuh TEXT, TmpSaldo REAL"},
    {"VAVARAUS",
     "VuoroNo TEXT, VuoroNoSeq TEXT, Jno INTEGER, AsNo TEXT, AsNimi TEXT, KorttiLyh TEXT, PuhNo TEXT, "
     "Status INTEGER, Varausaika TEXT, Kaytettyaika TEXT, AikaLeima TEXT, Kausi TEXT, Huom TEXT, "
     "KoTyyppi INTEGER"},
    {"Asiakas", "AsNo TEXT, AsNimi TEXT, PuhNo TEXT, Laskutettu REAL"},
    {"PARAM", "Avain TEXT, ArvoInt32 INTEGER, ArvoStr TEXT"},
    {"WEBKOODI", "ResNo TEXT, WebKoodi TEXT, WebSelite TEXT, WebNumero INTEGER"},
    {"WEBKESKUS", "WebKeskus TEXT, WebKeskusNimi TEXT, WebNayta INTEGER"},
    {"VAOHJAAJA", "Koodi TEXT, Lyhenne TEXT, Nimi TEXT, Kaytettavissa TEXT"},
    {"KAANNOS", "LGKieli TEXT, LGSovellus TEXT, LGAvain TEXT, LGTeksti TEXT, LGKaytossa INTEGER"},
    // The web front's own tables (failed logins, the outbox, reset links,
    // the calendar feeds' tokens and cancellations, the waiting lists).
    {"WEBLOGINFAIL", "Tunnus TEXT, Osoite TEXT, Aika TEXT"},
    {"WEBPOSTI",
     "Id INTEGER, Laji TEXT, Vastaanottaja TEXT, Kieli TEXT, Tiedot TEXT, Kausi TEXT, VuoroNo TEXT, "
     "VuoroNoSeq TEXT, AsNo TEXT, Luotu TEXT, Yritykset INTEGER, Seuraava TEXT, Tila TEXT, Haltija TEXT, "
     "Lahetetty TEXT, Virhe TEXT"},
    {"WEBPALAUTUS", "Tiiviste TEXT, Tunnus TEXT, Luotu TEXT, Voimassa TEXT"},
    {"WEBKALENTERI", "Tunnus TEXT, Tiiviste TEXT, Luotu TEXT"},
    {"WEBPERUTTU", "Kausi TEXT, VuoroNo TEXT, VuoroNoSeq TEXT, Jno INTEGER, AsNo TEXT, Peruttu TEXT"},
    {"WEBJONO",
     "Id INTEGER, Kausi TEXT, VuoroNo TEXT, VuoroNoSeq TEXT, AsNo TEXT, Tunnus TEXT, Kieli TEXT, Liittynyt TEXT, "
     "Tila TEXT, Voimassa TEXT"},
};
const std::set<std::string> kUnique = {
    "WEBPARAM(Numero)",     "VARESNIMI(ResNo)",
    "VALAJI(Koodi)",        "WEBREG(Tunnus)",
    "VAVARAUS(Kausi, VuoroNo, VuoroNoSeq, Jno)", "Asiakas(AsNo)",
    "PARAM(Avain)",         "WEBKOODI(ResNo, WebKoodi)",
    "WEBKESKUS(WebKeskus)", "VAOHJAAJA(Koodi)",
    "KAANNOS(LGKieli, LGSovellus, LGAvain)", "VaVuoro(Kausi, VuoroNo, VuoroNoSeq)",
    "WEBPOSTI(Id)",         "WEBPALAUTUS(Tiiviste)",
    "WEBKALENTERI(Tunnus)", "WEBKALENTERI(Tiiviste)",
    "WEBJONO(Id)"};
// The other indexes of the handles.
const std::set<std::string> kPlain = {"VARESNIMI(ResKeskus, ResWebNayta, ResNimi)", "VaVuoro(ResNo, VuoroAika)",
                                      "WEBREG(ID, Tunnus)", "VAVARAUS(AsNo, Status)",
                                      "WEBLOGINFAIL(Tunnus, Aika)", "WEBLOGINFAIL(Osoite, Aika)",
                                      "WEBLOGINFAIL(Aika)", "WEBPOSTI(Tila, Seuraava)",
                                      "WEBPOSTI(Kausi, VuoroNo, VuoroNoSeq, AsNo, Laji)", "WEBPOSTI(Luotu)",
                                      "WEBPALAUTUS(Tunnus)", "WEBPALAUTUS(Voimassa)",
                                      "WEBPERUTTU(AsNo, Peruttu)", "WEBPERUTTU(Peruttu)",
                                      "WEBJONO(Kausi, VuoroNo, VuoroNoSeq, Id)", "WEBJONO(AsNo, Id)"};

#ifndef WO_PG_TESTS
struct Schema {
  std::map<std::string, std::string> columns;  // table -> "Name TYPE, ..."
  std::set<std::string> unique, plain;          // "TABLE(col, col)"
  std::string journalMode;
};

std::vector<std::vector<std::string>> Select(sqlite3* db, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3_stmt* raw = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  const SqliteStmt st(raw);
  while (st && sqlite3_step(st.get()) == SQLITE_ROW) {
    std::vector<std::string> r;
    for (int i = 0; i < sqlite3_column_count(st.get()); ++i) {
      const unsigned char* t = sqlite3_column_text(st.get(), i);
      r.push_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    rows.push_back(r);
  }
  return rows;
}

Schema ReadSqliteSchema(const std::string& file) {
  Schema s;
  const SqliteDb owner = OpenSqliteDb(file, SQLITE_OPEN_READONLY);
  sqlite3* db = owner.get();
  for (auto& t : Select(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
    std::string cols;
    for (auto& c : Select(db, "SELECT name, type FROM pragma_table_info('" + t[0] + "') ORDER BY cid"))
      cols += (cols.empty() ? "" : ", ") + c[0] + " " + c[1];
    s.columns[t[0]] = cols;
    for (auto& ix : Select(db, "SELECT name, \"unique\" FROM pragma_index_list('" + t[0] + "')")) {
      std::string cols2;
      for (auto& c : Select(db, "SELECT name FROM pragma_index_info('" + ix[0] + "') ORDER BY seqno"))
        cols2 += (cols2.empty() ? "" : ", ") + c[0];
      (ix[1] == "1" ? s.unique : s.plain).insert(t[0] + "(" + cols2 + ")");
    }
  }
  s.journalMode = Select(db, "PRAGMA journal_mode")[0][0];
  return s;
}

TEST(StoreAdmin, InitCreatesExactlyTheSharedSchemaAndAgainChangesNothing) {
  test::TempDir dir;
  const std::string db = dir.File("VELMORI.db"), ini = dir.File("Velmori.ini");
  WriteFile(ini, "[DataBase]\nDatabaseFile=VELMORI.db\n");  // relative to the INI's folder
  const std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + ini + "' ";
  CmdResult r = Shell(admin + "init");
  ASSERT_EQ(r.rc, 0) << r.out;
  Schema s = ReadSqliteSchema(db);
  EXPECT_EQ(s.columns, kColumns);
  EXPECT_EQ(s.unique, kUnique);
  EXPECT_EQ(s.plain, kPlain);
  EXPECT_EQ(s.journalMode, "wal");

  // A row survives a second init, which changes nothing.
  {
    ConnectionSettings cs;
    cs.databaseFile = db;
    std::unique_ptr<Connection> c = Connection::Open(cs);
    Table p(*c, TableNamed("PARAM"), "", "Avain");
    p.Open();
    p.Append();
    p["Avain"].SetText("WebAsNo");
    p.Post();
  }
  r = Shell(admin + "init");
  ASSERT_EQ(r.rc, 0) << r.out;
  Schema again = ReadSqliteSchema(db);
  EXPECT_EQ(again.columns, kColumns);
  EXPECT_EQ(again.unique, kUnique);
  EXPECT_EQ(again.plain, kPlain);
  EXPECT_EQ(Select(OpenSqliteDb(db, SQLITE_OPEN_READONLY).get(), "SELECT Avain FROM PARAM").size(), 1u);
}

TEST(StoreAdmin, FailuresAreClearAndLeaveNothingBehind) {
  test::TempDir dir;
  const std::string ini = dir.File("Velmori.ini");
  WriteFile(ini, "[DataBase]\nDatabaseFile=" + dir.File("no/such/folder/VELMORI.db") + "\n");
  CmdResult r = Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + ini + "' init");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("no/such/folder"), std::string::npos) << r.out;

  r = Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + dir.File("missing.ini") + "' init");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("missing.ini"), std::string::npos) << r.out;

  // The program's own database file is never created by other commands.
  WriteFile(ini, "[DataBase]\nDatabaseFile=VELMORI.db\n");
  r = Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + ini + "' translations export -");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("VELMORI.db"), std::string::npos) << r.out;
  EXPECT_NE(access(dir.File("VELMORI.db").c_str(), F_OK), 0);

  EXPECT_EQ(Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + ini + "' frobnicate").rc, 2);
  EXPECT_EQ(Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + ini + "' translations import").rc, 2);
}
#endif

// The translation commands on either engine.
class StoreAdminTexts : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Sqlite) {
      db = std::make_unique<test::TestDatabase>(Engine::Sqlite);
      WriteFile(dir.File("Velmori.ini"), "[DataBase]\nDatabaseFile=" + db->file() + "\n");
      settings = db->settings();
      return;
    }
    WO_REQUIRE_PG_OR_SKIP();
    // The command connects to the alias VELMORI on port 16000, as a site does.
    test::PgServer srv = test::PgServerFromEnv();
    if (srv.port != 16000) GTEST_SKIP() << "the test server is not on port 16000";
    // Test runs of other build trees may share the server and this name.
    lockFd = open(("/tmp/weborvane-pg-" + std::to_string(srv.port) + ".VELMORI.lock").c_str(),
                  O_RDWR | O_CREAT, 0666);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
    try {
      Server("DROP DATABASE IF EXISTS \"VELMORI\" WITH (FORCE)");
      Server("CREATE DATABASE \"VELMORI\" ENCODING 'UTF8' TEMPLATE template0");
    } catch (const std::exception& e) {
      FAIL() << "the PostgreSQL test server: " << e.what();
    }
    pgCreated = true;
    WriteFile(dir.File("Velmori.ini"), "[DataBase]\nServerName=WebOrvaneTest\nServerAddress=" + srv.host +
                                           "\nUser=" + srv.user + "\n");
    settings = test::PgSettings("VELMORI");
    CmdResult r = Admin("init");
    ASSERT_EQ(r.rc, 0) << r.out;
  }
  void TearDown() override {
    if (pgCreated) Server("DROP DATABASE IF EXISTS \"VELMORI\" WITH (FORCE)");
    if (lockFd >= 0) close(lockFd);  // and with it the lock
  }
  static void Server(const std::string& sql) {
    Connection::Open(test::PgSettings("postgres"))->backend().ExecScript(sql);
  }
  CmdResult Admin(const std::string& args) {
    return Shell(std::string(WO_ADMIN_PROGRAM) + " --ini '" + dir.File("Velmori.ini") + "' " + args);
  }
  Table Lang(Connection& c) { return Table(c, TableNamed("KAANNOS"), "", "LGKieli;LGSovellus;LGAvain"); }
  void AddText(Table& t, const char* lang, const char* app, const char* key, const char* text, bool inUse) {
    t.Append();
    t["LGKieli"].SetText(lang);
    t["LGSovellus"].SetText(app);
    t["LGAvain"].SetText(key);
    t["LGTeksti"].SetText(text);
    t["LGKaytossa"].SetBool(inUse);
    t.Post();
  }

  test::TempDir dir;
  std::unique_ptr<test::TestDatabase> db;
  ConnectionSettings settings;
  bool pgCreated = false;
  int lockFd = -1;
};

// The schema as the engine reports it: column names and types, unique
// indexes; the same tables and columns on both engines.
TEST_P(StoreAdminTexts, InitOnTheConfiguredEngineGivesTheSharedTables) {
  CmdResult r = Admin("init");  // a second time
  ASSERT_EQ(r.rc, 0) << r.out;
  std::unique_ptr<Connection> c = Connection::Open(settings);
  auto rows = [&](const std::string& sql) {
    std::vector<std::string> out;
    std::unique_ptr<Rows> q = c->backend().Query(sql, {});
    StoredRow row;
    while (q->Next(row) == Rows::Step::Row) {
      std::string line = row.rowId.s;
      for (const Stored& v : row.cols) line += " " + (v.kind == Stored::Int ? std::to_string(v.i) : v.s);
      out.push_back(line);
    }
    return out;
  };
  bool pg = GetParam() == Engine::Postgres;
  const std::map<std::string, std::string> pgType = {{"TEXT", "character varying"},
                                                     {"INTEGER", "integer"},
                                                     {"REAL", "double precision"}};
  for (const auto& [table, expected] : kColumns) {
    std::string lower;
    for (char ch : table) lower += static_cast<char>(tolower(ch));
    std::vector<std::string> cols =
        pg ? rows("SELECT column_name, data_type FROM information_schema.columns WHERE table_schema = 'public' "
                  "AND table_name = '" + lower + "' ORDER BY ordinal_position")
           : rows("SELECT name, type FROM pragma_table_info('" + table + "') ORDER BY cid");
    std::string got;
    for (const std::string& col : cols) got += (got.empty() ? "" : ", ") + col;
    std::string want;
    std::stringstream in(expected);
    std::string name, type;
    while (in >> name >> type) {
      if (type.back() == ',') type.pop_back();
      if (pg) {
        for (char& ch : name) ch = static_cast<char>(tolower(ch));
        // Types follow the field's, not only its storage class.
        const ColumnDef* cd = TableNamed(table).Column(name);
        ASSERT_NE(cd, nullptr) << table << "." << name;
        type = cd->type == FieldType::SmallInt   ? "smallint"
               : cd->type == FieldType::DateTime ? "timestamp without time zone"
               : cd->type == FieldType::Time     ? "interval"
               : cd->type == FieldType::Boolean  ? "boolean"
                                                 : pgType.at(type);
      }
      want += (want.empty() ? "" : ", ") + name + " " + type;
    }
    EXPECT_EQ(got, want) << table;
  }
  if (pg) {
    std::vector<std::string> unique = rows(
        "SELECT t.relname || '(' || string_agg(a.attname, ', ' ORDER BY k.i) || ')' FROM pg_index x "
        "JOIN pg_class t ON t.oid = x.indrelid JOIN pg_namespace n ON n.oid = t.relnamespace "
        "CROSS JOIN LATERAL unnest(x.indkey) WITH ORDINALITY AS k(attnum, i) "
        "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
        "WHERE n.nspname = 'public' AND x.indisunique GROUP BY x.indexrelid, t.relname");
    std::set<std::string> want;
    for (std::string u : kUnique) {
      for (char& ch : u) ch = static_cast<char>(tolower(ch));
      want.insert(u);
    }
    EXPECT_EQ(std::set<std::string>(unique.begin(), unique.end()), want);
  }
}

TEST_P(StoreAdminTexts, ImportUpdatesAndAddsAndExportWritesTheApplicationsRows) {
  {
    std::unique_ptr<Connection> c = Connection::Open(settings);
    Table t = Lang(*c);
    t.Open();
    AddText(t, "ENG", "WebOrvane", "C01", "old", false);
    AddText(t, "ENG", "Kassa", "C01", "another application", true);
  }
  // "\xc3\xa4" is ä and "\xe2\x82\xac" is € in UTF-8.
  WriteFile(dir.File("in.tsv"),
            "eng\tC01\tLog in\r\n"
            "SWE\tC02\tP\xc3\xa4iv\xc3\xa4 \xe2\x82\xac\n"
            "\n"
            "ENG\tC00\t\n");
  CmdResult r = Admin("translations import '" + dir.File("in.tsv") + "'");
  ASSERT_EQ(r.rc, 0) << r.out;
  {
    std::unique_ptr<Connection> c = Connection::Open(settings);
    Table t = Lang(*c);
    t.Open();
    ASSERT_TRUE(t.FindKey({Txt("ENG"), Txt("WebOrvane"), Txt("C01")}));
    EXPECT_EQ(t.Text("LGTeksti"), "Log in");
    EXPECT_FALSE(t.Bool("LGKaytossa"));  // an existing row keeps its LGKaytossa
    ASSERT_TRUE(t.FindKey({Txt("SWE"), Txt("WebOrvane"), Txt("C02")}));
    EXPECT_TRUE(t.Bool("LGKaytossa"));  // a new one is in use
    ASSERT_TRUE(t.FindKey({Txt("SWE"), Txt("WebOrvane"), Txt("C02")}));
    EXPECT_EQ(t.Text("LGTeksti"), "P\xe4iv\xe4 \x80");  // Windows-1252 inside the program
    ASSERT_TRUE(t.FindKey({Txt("ENG"), Txt("Kassa"), Txt("C01")}));
    EXPECT_EQ(t.Text("LGTeksti"), "another application");
    EXPECT_EQ(t.RecordCount(), 4);
    AddText(t, "ENG", "WebOrvane", "C03", "two\tcolumns", true);  // the file form has no tabs
  }
  r = Admin("translations export '" + dir.File("out.tsv") + "'");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_EQ(ReadFile(dir.File("out.tsv")),
            "ENG\tC00\t\n"
            "ENG\tC01\tLog in\n"
            "ENG\tC03\ttwo columns\n"
            "SWE\tC02\tP\xc3\xa4iv\xc3\xa4 \xe2\x82\xac\n");
  // What was exported imports again without a change.
  std::unique_ptr<Connection> c = Connection::Open(settings);
  const test::TableDump before = test::DumpTables(*c);
  r = Admin("translations import '" + dir.File("out.tsv") + "'");
  ASSERT_EQ(r.rc, 0) << r.out;
  EXPECT_NE(r.out.find("0 new, 0 updated, 4 unchanged"), std::string::npos) << r.out;
  EXPECT_EQ(test::DiffDumps(before, test::DumpTables(*c)), "");
}

TEST_P(StoreAdminTexts, AMalformedLineAbortsTheWholeImport) {
  WriteFile(dir.File("bad.tsv"), "ENG\tC01\tLog in\nENG\tC02\tRegister\nENG C03 no tabs\nENG\tC04\tMore\n");
  CmdResult r = Admin("translations import '" + dir.File("bad.tsv") + "'");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("line 3"), std::string::npos) << r.out;
  WriteFile(dir.File("bad2.tsv"), "ENG\tC01\tLog in\nENG\tC02\t\xce\xa9 is no Windows-1252\n");
  r = Admin("translations import '" + dir.File("bad2.tsv") + "'");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("line 2"), std::string::npos) << r.out;
  WriteFile(dir.File("long.tsv"), "ENG\t" + std::string(51, 'k') + "\ttext\n");
  r = Admin("translations import '" + dir.File("long.tsv") + "'");
  EXPECT_NE(r.rc, 0);
  EXPECT_NE(r.out.find("line 1"), std::string::npos) << r.out;
  std::unique_ptr<Connection> c = Connection::Open(settings);
  Table t = Lang(*c);
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_NE(Admin("translations import '" + dir.File("nope.tsv") + "'").rc, 0);
}

WO_INSTANTIATE_PER_ENGINE(StoreAdminTexts);

}  // namespace
}  // namespace wo::store
