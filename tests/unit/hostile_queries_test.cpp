// Hostile query strings against every action of the program, run as the
// web server runs it, on a site with the default templates and the
// demonstration centre. Every field an action reads gets, in turn, each
// hostile value below; the answer must be a well-formed CGI response (no
// crash, no status 500 but for the decoding errors that must give it, no
// header but the five the program writes, no line break inside a header),
// and requests whose hostile field must stop the action must leave every
// table as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "base/datetime.h"
#include "store/schema.h"
#include "store/table.h"
#include "support/dump.h"
#include "support/site.h"

namespace wo {
namespace {

namespace fs = std::filesystem;
using test::CgiResult;
using test::TempSite;

struct Hostile {
  const char* name;
  std::string encoded;  // as it stands in the query string
  bool decodeError;     // the query cannot be decoded: status 500 is the answer
  bool controlBytes = false;  // decodes to bytes below 32, which registration refuses
};

std::vector<Hostile> HostileValues() {
  return {
      {"oversized field", std::string(5000, 'x'), false},
      {"100 KB field", std::string(100 * 1024, 'A'), false},
      {"percent at the end", "abc%", true},
      {"one hex digit", "%4", true},
      {"bad hex digits", "%zz", true},
      {"NUL byte", "a%00b%00", false, true},
      {"encoded CR LF", "x%0D%0ALocation:%20http://evil.example/%0D%0A%0D%0A", false, true},
      {"control bytes", "a%01b%1Fc%09", false, true},
      {"unknown language code", "Xq7", false},
      {"script tag", "%3Cscript%3Ealert(1)%3C/script%3E", false},
      {"raw script tag", "<script>alert(1)</script>", false},
      {"quotes", "%22%27%60%22%3E%3C", false},
      {"raw quotes", "\"'\"", false},
      {"SQL metacharacters", "'%20OR%20'1'='1'--%20;", false},
      {"SQL statement", "x');DROP%20TABLE%20WEBREG;--", false},
      {"bytes without a character", "%81%8D%8F%90%9D", false},
      {"high bytes", "%E4%F6%C3%A4%FF%80", false},
      {"plus and percent", "+%25%%+", false},
  };
}

// One action: its path, a query that works, which hostile fields may lead
// to a write, and the tables it may write then; the fields whose control
// bytes must stop it.
struct ActionCase {
  std::string path;
  std::vector<std::pair<std::string, std::string>> fields;
  std::set<std::string> mayWriteThrough;
  std::set<std::string> writableTables;
  int baseStatus;  // what the working query answers
  std::set<std::string> refusesControlBytes = {};
};

std::string Query(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string q;
  for (const auto& [k, v] : fields) {
    if (!q.empty()) q += '&';
    q.append(k).append(1, '=').append(v);
  }
  return q;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::error_code ec;
  std::string bytes(static_cast<size_t>(fs::file_size(path, ec)), '\0');
  f.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(f.gcount()));
  return bytes;
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A slot the user may book: inside the booking horizon, not yet started,
// with free places, not `other`.
struct SlotKey {
  std::string kausi, vuoroNo, seq;
};

SlotKey FindBookableSlot(store::Connection& c, const SlotKey* other) {
  int horizon = 30;
  {
    store::Table p(c, store::TableNamed("WEBPARAM"), "", "Numero");
    p.Open();
    if (p.FindKey({store::Txt("01")}) && !p.IsNull("MaxVarausPv")) horizon = static_cast<int>(p.Int("MaxVarausPv"));
    p.Close();
  }
  store::Table v(c, store::TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
  store::Table r(c, store::TableNamed("VAVARAUS"), "", "Kausi;VuoroNo;VuoroNoSeq;Jno");
  v.Open();
  r.Open();
  DateTime now = Now();
  SlotKey found;
  for (v.First(); !v.Eof(); v.Next()) {
    DateTime start = v.Date("VuoroAika");
    if (start < now + 1 || start > now + horizon - 1) continue;
    SlotKey k{v.Text("Kausi"), v.Text("VuoroNo"), v.Text("VuoroNoSeq")};
    if (other && Trim(k.vuoroNo) == Trim(other->vuoroNo) && Trim(k.seq) == Trim(other->seq) &&
        k.kausi == other->kausi)
      continue;
    r.SetRange({store::Txt(k.kausi), store::Txt(k.vuoroNo), store::Txt(k.seq)},
               {store::Txt(k.kausi), store::Txt(k.vuoroNo), store::Txt(k.seq)});
    if (r.RecordCount() + 1 < v.Int("Maara")) {
      found = k;
      break;
    }
  }
  r.Close();
  v.Close();
  return found;
}

class HostileQueries : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::SiteOptions opts;
    opts.copySiteTemplates = true;
    site = new TempSite(opts);
    std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + site->iniFile() + "' ";
    auto [rc, out] = test::Shell(admin + "demo 2>&1");
    ASSERT_EQ(rc, 0) << out;

    CgiResult reg = site->Run("/SavReg",
                              "ID=0&Lang=Fin&Tunnus=hostile&Koodi=hostile1&SNimi=Vihamielinen&ENimi=Ville"
                              "&Os01=Katu+1&Os02=00100&Os03=Helsinki&EMail=v%40example.org&Puh=0401234567"
                              "&MPuh=&Toim=OK");
    std::string loc = reg.Header("Location");
    size_t at = loc.find("ID=");
    ASSERT_NE(at, std::string::npos) << reg.raw;
    sid = loc.substr(at + 3, loc.find('&', at) - at - 3);
    ASSERT_GT(sid.size(), 15u);

    auto conn = site->Connect();
    booked = FindBookableSlot(*conn, nullptr);
    spare = FindBookableSlot(*conn, &booked);
    conn.reset();
    ASSERT_FALSE(booked.vuoroNo.empty()) << "the demo has no bookable slot";
    ASSERT_FALSE(spare.vuoroNo.empty()) << "the demo has only one bookable slot";
    CgiResult var = site->Run("/Var", "ID=" + sid + "&Lang=Fin&Kau=" + booked.kausi + "&Vuo=" +
                                          Trim(booked.vuoroNo) + "&Seq=" + Trim(booked.seq));
    ASSERT_NE(var.Header("Location").find("/VarOk?"), std::string::npos) << var.raw;

    // The number of that reservation, for the cancellation.
    {
      auto c = site->Connect();
      std::string asNo;
      for (const std::string& row : test::DumpTable(*c, "WEBREG"))
        if (row.rfind("Tunnus=hostile|", 0) == 0) asNo = Between(row, "|AsNo=", "|");
      for (const std::string& row : test::DumpTable(*c, "VAVARAUS"))
        if (Between(row, "|AsNo=", "|") == asNo) bookedJno = Between(row, "|Jno=", "|");
    }
    ASSERT_FALSE(bookedJno.empty()) << "the booking is not in VAVARAUS";

    site->StopWorker();  // a FastCGI worker's connection ends, as a CGI process's does
    // The last commits may still be in the write-ahead log: moved into the
    // file, the file alone is the database as it was.
    test::MoveLogIntoDatabase(site->dbFile());
    ASSERT_FALSE(fs::exists(site->dbFile() + "-wal") && fs::file_size(site->dbFile() + "-wal") > 0)
        << "the write-ahead log was not moved into the database";
    pristine = ReadAll(site->dbFile());
    pristineDump = Dump();
    ready = true;
  }

  void SetUp() override {
    if (!ready) GTEST_FAIL() << "the hostile-query site could not be set up";
  }

  static void TearDownTestSuite() {
    delete site;
    site = nullptr;
  }

  static void Restore() {
    site->StopWorker();
    std::error_code ec;
    fs::remove(site->dbFile() + "-wal", ec);
    fs::remove(site->dbFile() + "-shm", ec);
    fs::remove(site->dbFile() + "-journal", ec);
    WriteAll(site->dbFile(), pristine);
  }

  // The text between `a` and the next `b` in a dumped row.
  static std::string Between(const std::string& row, const std::string& a, const std::string& b) {
    size_t at = row.find(a);
    if (at == std::string::npos) return "";
    at += a.size();
    return row.substr(at, row.find(b, at) - at);
  }

  // The database now, and whether a request changed its file at all (when
  // not, nothing needs to be read back or restored).
  static bool Changed() {
    std::error_code ec;
    if (fs::exists(site->dbFile() + "-wal", ec) && fs::file_size(site->dbFile() + "-wal", ec) > 0) return true;
    return ReadAll(site->dbFile()) != pristine;
  }

  static test::TableDump Dump() {
    auto conn = site->Connect();
    return test::DumpTables(*conn, {"WEBREG.Aika"});
  }

  std::vector<ActionCase> Actions() const {
    const std::string id = sid;
    auto key = [](const SlotKey& k) {
      return std::vector<std::pair<std::string, std::string>>{
          {"Kau", k.kausi}, {"Vuo", Trim(k.vuoroNo)}, {"Seq", Trim(k.seq)}};
    };
    auto with = [](std::vector<std::pair<std::string, std::string>> a,
                   const std::vector<std::pair<std::string, std::string>>& b) {
      a.insert(a.end(), b.begin(), b.end());
      return a;
    };
    std::vector<std::pair<std::string, std::string>> idLang = {{"ID", id}, {"Lang", "Fin"}};
    return {
        {"/Index", idLang, {}, {}, 200},
        {"/ResVal", idLang, {}, {}, 200},
        {"/Viikko", with(idLang, {{"Resurssi", "1"}, {"PP", "1"}, {"KK", "1"}, {"VV", "2030"}}), {}, {}, 200},
        {"/Login", idLang, {}, {}, 200},
        {"/ChkLogin", {{"Lang", "Fin"}, {"Tunnus", "hostile"}, {"Koodi", "hostile1"}}, {"Lang"}, {"WEBREG"}, 302},
        {"/Regin", idLang, {}, {}, 200},
        {"/SavReg",
         {{"ID", "0"}, {"Lang", "Fin"}, {"Tunnus", "newcomer"}, {"Koodi", "secret12"}, {"SNimi", "Uusi"},
          {"ENimi", "Ulla"}, {"Os01", "Tie+2"}, {"Os02", "00200"}, {"Os03", "Espoo"},
          {"EMail", "u%40example.org"}, {"Puh", "0501234567"}, {"MPuh", "0"}, {"Toim", "OK"}},
         {"ID", "Lang", "Tunnus", "Koodi", "SNimi", "ENimi", "Os01", "Os02", "Os03", "EMail", "Puh", "MPuh", "Toim"},
         {"WEBREG", "PARAM"},
         302,
         {"Tunnus", "Koodi", "SNimi", "ENimi", "Os01", "Os02", "Os03", "EMail", "Puh", "MPuh"}},
        {"/RegOk", with(idLang, {{"Upd", "Y"}}), {}, {}, 200},
        {"/LogOut", idLang, {"Lang"}, {"WEBREG"}, 302},
        {"/Var", with(with(idLang, key(spare)), {{"Koodi", "Web"}}), {"Lang", "Koodi"},
         {"VAVARAUS", "WEBREG", "Asiakas"}, 302},
        {"/VarOk", idLang, {}, {}, 200},
        {"/Varaa", with(idLang, key(spare)), {}, {}, 200},
        {"/Omat", idLang, {}, {}, 200},
        {"/Poista", with(with(idLang, key(booked)), {{"JNo", bookedJno}}), {}, {}, 200},
        {"/PoisVar", with(with(idLang, key(booked)), {{"JNo", bookedJno}}), {"Lang"}, {"VAVARAUS", "WEBREG", "Asiakas"},
         302},
        {"/PoisOk", idLang, {}, {}, 200},
        {"/Vaihda", idLang, {}, {}, 200},
        {"/VaihdaSana", with(idLang, {{"Koodi", "hostile1"}, {"UKoodi", "hostile2"}}), {"Lang", "UKoodi"},
         {"WEBREG"}, 302},
        {"/VaihdaOk", with(idLang, {{"Upd", "Y"}}), {}, {}, 200},
    };
  }

  static inline TempSite* site = nullptr;
  static inline std::string sid;
  static inline SlotKey booked, spare;
  static inline bool ready = false;
  static inline std::string pristine, bookedJno;
  static inline test::TableDump pristineDump;
};

// What every answer must look like, whatever the query.
void CheckWellFormed(const CgiResult& r, bool decodeError, const std::string& what) {
  ASSERT_FALSE(r.raw.empty()) << what << ": no output (the program crashed?)";
  ASSERT_FALSE(r.headerLines.empty()) << what;
  EXPECT_EQ(r.headerLines[0].rfind("Status: ", 0), 0u) << what << "\n" << r.raw.substr(0, 500);
  for (const std::string& line : r.headerLines) {
    bool known = false;
    for (const char* name : {"Status: ", "Location: ", "Content-Type: ", "Content-Length: ", "Content:"})
      known = known || line.rfind(name, 0) == 0;
    EXPECT_TRUE(known) << what << ": header line \"" << line.substr(0, 200) << "\"";
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << what << ": line break in a header";
  }
  std::string len = r.Header("Content-Length");
  if (!len.empty()) {
    EXPECT_EQ(ToIntDef(len, -1), static_cast<long long>(r.body.size())) << what;
  }
  if (decodeError) {
    EXPECT_EQ(r.status, 500) << what;
    EXPECT_NE(r.body.find("<h1>Internal Application Error</h1>"), std::string::npos) << what;
  } else {
    EXPECT_TRUE(r.status == 200 || r.status == 302) << what << ": status " << r.status << "\n"
                                                    << r.body.substr(0, 600);
  }
  // A redirect target is a plain URL: nothing that ends an attribute or a line.
  for (char c : r.Header("Location"))
    EXPECT_TRUE(static_cast<unsigned char>(c) > 32 && static_cast<unsigned char>(c) < 127 && c != '"' &&
                c != '<' && c != '>' && c != '\'')
        << what << ": Location " << r.Header("Location").substr(0, 200);
  // What the request carried never reaches the page as markup.
  EXPECT_EQ(r.body.find("<script>alert(1)</script>"), std::string::npos) << what;
  EXPECT_EQ(r.body.find("\"'`\"><"), std::string::npos) << what;
}

TEST_F(HostileQueries, WorkingQueriesDoWhatTheyShould) {
  // The hostile runs below vary these queries; they must really reach the
  // actions' work, or the refusals seen there would prove nothing.
  for (const ActionCase& a : Actions()) {
    Restore();
    test::TableDump before = Dump();
    CgiResult r = site->Run(a.path, Query(a.fields));
    CheckWellFormed(r, false, a.path);
    EXPECT_EQ(r.status, a.baseStatus) << a.path << "\n" << r.raw.substr(0, 800);
    if (a.baseStatus == 302) {
      EXPECT_EQ(r.Header("Location").rfind("/cgi-bin/WebOrvane.exe/", 0), 0u) << a.path;
      EXPECT_NE(test::DiffDumps(before, Dump()), "") << a.path << " wrote nothing";
    }
  }
  Restore();
}

TEST_F(HostileQueries, EveryFieldOfEveryAction) {
  std::vector<Hostile> values = HostileValues();
  int runs = 0;
  for (const ActionCase& a : Actions()) {
    for (size_t f = 0; f < a.fields.size(); ++f) {
      for (const Hostile& h : values) {
        auto fields = a.fields;
        fields[f].second = h.encoded;
        std::string what = a.path + " with " + fields[f].first + " = " + h.name;
        bool mayWrite = a.mayWriteThrough.count(fields[f].first) > 0 && !h.decodeError &&
                        !(h.controlBytes && a.refusesControlBytes.count(fields[f].first) > 0);
        CgiResult r = site->Run(a.path, Query(fields));
        ++runs;
        CheckWellFormed(r, h.decodeError, what);
        if (HasFatalFailure()) return;
        if (!Changed()) continue;
        test::TableDump before = pristineDump, after = Dump();
        Restore();
        // A failed login leaves its record for the login throttle.
        if (a.path == "/ChkLogin") {
          before.erase("WEBLOGINFAIL");
          after.erase("WEBLOGINFAIL");
        }
        if (!mayWrite) {
          EXPECT_EQ(test::DiffDumps(before, after), "") << what;
        } else {
          for (const auto& [table, rows] : after) {
            if (!a.writableTables.count(table)) {
              EXPECT_EQ(rows, before[table]) << what << ": table " << table;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(runs, 19 * 16);
}

TEST_F(HostileQueries, WholeQueryStrings) {
  std::string manyFields;
  for (int i = 0; i < 20000; ++i) manyFields.append(1, 'a').append(std::to_string(i % 97)).append("=1&");
  std::vector<std::pair<std::string, bool>> queries = {
      {"", false},
      {"%", true},
      {"&&&&", false},
      {"====", false},
      {"\r\n\r\n", false},
      {"ID=\r\nLocation: http://evil.example/\r\n", false},
      {"\"ID=0&Lang=Fin", false},
      {std::string(100 * 1024, '&'), false},
      // "%%" decodes to "%", so an odd run leaves one "%" without digits.
      {std::string(100 * 1024 - 1, '%'), true},
      {manyFields, false},
      {"Lang=" + std::string(100 * 1024, 'E'), false},
      // The last day the date fields can form (with an ID that no row has,
      // so that no action ends the session).
      {"ID=NoSuchSessionId0&Lang=Fin&Resurssi=1&PP=31&KK=12&VV=9999", false},
  };
  test::TableDump before = Dump();
  for (const ActionCase& a : Actions()) {
    for (const auto& [q, decodeError] : queries) {
      CgiResult r = site->Run(a.path, q);
      CheckWellFormed(r, decodeError, a.path + " with a query of " + std::to_string(q.size()) + " bytes \"" +
                                          q.substr(0, 40) + "\"");
    }
  }
  test::TableDump after = Dump();
  before.erase("WEBLOGINFAIL");  // the failed logins' records
  after.erase("WEBLOGINFAIL");
  EXPECT_EQ(test::DiffDumps(before, after), "");
  Restore();
}

// The client's own headers never stand in for the web server's address:
// the registration stores REMOTE_ADDR, not a forged Remote-Host header.
TEST_F(HostileQueries, ForgedClientHeaders) {
  const std::string q = "ID=0&Lang=Fin&Tunnus=forger&Koodi=forger12&SNimi=F&ENimi=G&Os01=&Os02=&Os03=&EMail="
                        "&Puh=1&MPuh=&Toim=OK";
  CgiResult r = site->Run("/SavReg", q,
                          {{"REMOTE_ADDR", "203.0.113.5"}, {"HTTP_REMOTE_HOST", "forged.example"},
                           {"HTTP_REMOTE_ADDR", "forged.example"}});
  CheckWellFormed(r, false, "forged headers");
  auto conn = site->Connect();
  std::string stored;
  for (const std::string& row : test::DumpTable(*conn, "WEBREG"))
    if (row.rfind("Tunnus=forger|", 0) == 0) stored = Between(row, "|RemoteHost=", "|");
  conn.reset();
  EXPECT_EQ(stored, "203.0.113.5");
  Restore();
}

TEST_F(HostileQueries, HostilePathsReachTheStartPage) {
  for (std::string path : {std::string("/%0D%0AX"), std::string("/Index\r\nLocation: x"), std::string(10000, '/'),
                           std::string("/<script>alert(1)</script>"), std::string("/Viikko/../Var")}) {
    CgiResult r = site->Run(path, "Lang=Fin");
    CheckWellFormed(r, false, "path " + path.substr(0, 40));
    EXPECT_EQ(r.status, 200);
  }
}

}  // namespace
}  // namespace wo
