// The administration of a site tree: INI edits, init's key, rekey under
// failures and crashes, the closed site, restore refusals and the check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "module/password_cipher.h"
#include "module/ini.h"
#include "module/site_admin.h"
#include "module/site_check.h"
#include "store/backend.h"
#include "store/backup.h"
#include "store/table.h"
#include "support/test_db.h"

namespace wo::site {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(SetIniValue, ChangesOneValueAndKeepsEveryOtherByte) {
  struct Case {
    const char* before;
    const char* section;
    const char* key;
    const char* after;
  };
  const Case cases[] = {
      {"; comment\r\n[Security]\r\nPasswordKey=\r\nOther=1\r\n", "security", "passwordkey",
       "; comment\r\n[Security]\r\nPasswordKey=abc\r\nOther=1\r\n"},
      {"[Site]\nPasswordKey=keep\n[Security]\n  PasswordKey = old ; note\nPasswordKey=second\n", "Security",
       "PasswordKey", "[Site]\nPasswordKey=keep\n[Security]\n  PasswordKey = abc\nPasswordKey=second\n"},
      {"[Security]\nA=1\n\n[Site]\nB=2\n", "Security", "PasswordKey",
       "[Security]\nA=1\nPasswordKey=abc\n\n[Site]\nB=2\n"},
      {"[Site]\nB=2", "Security", "PasswordKey", "[Site]\nB=2\n\n[Security]\nPasswordKey=abc\n"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const std::string ini = dir.File("Velmori.ini");
    Write(ini, c.before);
    SetIniValue(ini, c.section, c.key, "abc");
    EXPECT_EQ(Read(ini), c.after) << c.before;
  }
}

TEST(SetIniValue, WritesTheTargetOfALinkWithItsPermissions) {
  test::TempDir dir;
  fs::create_directory(dir.File("etc"));
  Write(dir.File("etc/Velmori.ini"), "[Security]\nPasswordKey=\n");
  chmod(dir.File("etc/Velmori.ini").c_str(), 0640);
  fs::create_symlink(dir.File("etc/Velmori.ini"), dir.File("Velmori.ini"));
  SetIniValue(dir.File("Velmori.ini"), "Security", "PasswordKey", "k");
  EXPECT_TRUE(fs::is_symlink(dir.File("Velmori.ini")));
  EXPECT_EQ(Read(dir.File("etc/Velmori.ini")), "[Security]\nPasswordKey=k\n");
  struct stat st;
  ASSERT_EQ(stat(dir.File("etc/Velmori.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_THROW(SetIniValue(dir.File("missing.ini"), "Security", "PasswordKey", "k"), std::runtime_error);
}

// A site tree P/ with the default templates and a database with users.
class SiteTree : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"bin", "data", "log", "www/WebOrvane"}) fs::create_directories(dir.File(d));
    for (const char* lang : {"Fin", "Eng"})
      fs::copy(std::string(WO_SOURCE_DIR) + "/site/" + lang, dir.File(std::string("www/WebOrvane/") + lang));
    Write(ini, "[DataBase]\nDatabaseFile=../data/VELMORI.db\n[Security]\nPasswordKey=\n");
  }

  std::unique_ptr<store::Connection> Connect() { return store::Connection::Open(AdminConnection(ReadSiteIni(ini))); }

  void AddUsers(const std::string& key) {
    const PasswordCipher cipher(key);
    std::unique_ptr<store::Connection> c = Connect();
    store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    for (const auto& [user, password] : users) {
      t.Append();
      t["Tunnus"].SetText(user);
      t["PinKoodi"].SetText(user == "rikki" ? std::string("\x01\x02") : cipher.Encode(password));
      t.Post();
    }
  }

  // True when every user's password matches under the INI's key.
  bool EveryoneLogsIn() {
    const PasswordCipher cipher(ReadSiteIni(ini).PasswordKey);
    std::unique_ptr<store::Connection> c = Connect();
    store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    for (const auto& [user, password] : users) {
      if (user == "rikki") continue;
      if (!t.FindKey({store::Txt(user)}) || !cipher.Matches(t.Text("PinKoodi"), password)) return false;
    }
    return true;
  }

  test::TempDir dir;
  const std::string ini = dir.File("bin/Velmori.ini");
  const std::vector<std::pair<std::string, std::string>> users = {
      {"anna", "salasana1"}, {"b\xe4rbel", "\xf6\xf6-pass"}, {"rikki", ""}};
};

TEST_F(SiteTree, InitWritesAKeyOnlyForASiteWithoutUsers) {
  InitResult r = Init(ini);
  EXPECT_TRUE(r.createdFile);
  EXPECT_TRUE(r.keyWritten);
  const std::string key = ReadSiteIni(ini).PasswordKey;
  EXPECT_EQ(key.size(), 64u);
  r = Init(ini);
  EXPECT_FALSE(r.createdFile || r.keyWritten || r.builtInKeyWithUsers);
  EXPECT_TRUE(r.changes.empty());
  EXPECT_EQ(ReadSiteIni(ini).PasswordKey, key);

  // Users on the built-in key: a warning, the INI left alone.
  SetIniValue(ini, "Security", "PasswordKey", "");
  AddUsers("");
  r = Init(ini);
  EXPECT_TRUE(r.builtInKeyWithUsers);
  EXPECT_FALSE(r.keyWritten);
  EXPECT_EQ(ReadSiteIni(ini).PasswordKey, "");
}

TEST_F(SiteTree, RekeyMovesEveryPasswordAndTheIni) {
  Init(ini);
  const std::string old = ReadSiteIni(ini).PasswordKey;
  AddUsers(old);
  RekeyResult r = Rekey(ini, "uusi avain", 0);
  EXPECT_EQ(r.users, 2);
  EXPECT_EQ(r.unreadable, 1);
  EXPECT_EQ(ReadSiteIni(ini).PasswordKey, "uusi avain");
  EXPECT_TRUE(EveryoneLogsIn());
  EXPECT_FALSE(fs::exists(dir.File("data/maintenance")));
  EXPECT_FALSE(fs::exists(dir.File("data/rekey.journal")));
}

// A failure after any step: everything on the old key, the site open.
TEST_F(SiteTree, RekeyFailingAfterAnyStepLeavesTheOldKeyEverywhere) {
  Init(ini);
  const std::string old = ReadSiteIni(ini).PasswordKey;
  AddUsers(old);
  for (RekeyStep at : {RekeyStep::Closed, RekeyStep::Journal, RekeyStep::Encrypted, RekeyStep::Committed,
                       RekeyStep::IniSwitched}) {
    bool closedMeanwhile = false;
    EXPECT_THROW(Rekey(ini, "uusi avain", 0,
                       [&](RekeyStep s) {
                         closedMeanwhile = fs::exists(dir.File("data/maintenance"));
                         if (s == at) throw std::runtime_error("injected");
                       }),
                 std::runtime_error);
    EXPECT_TRUE(closedMeanwhile);
    EXPECT_EQ(ReadSiteIni(ini).PasswordKey, old) << static_cast<int>(at);
    EXPECT_TRUE(EveryoneLogsIn()) << static_cast<int>(at);
    EXPECT_FALSE(fs::exists(dir.File("data/maintenance")));
    EXPECT_FALSE(fs::exists(dir.File("data/rekey.journal")));
  }
}

// The process dies after a step: the site stays closed until the next
// command finishes or undoes the change; both stores end on one key.
TEST_F(SiteTree, RekeyCutShortIsFinishedOrUndoneByTheNextCommand) {
  Init(ini);
  const std::string old = ReadSiteIni(ini).PasswordKey;
  AddUsers(old);
  struct Case {
    RekeyStep at;
    bool onNewKey;
  };
  for (Case c : {Case{RekeyStep::Journal, false}, Case{RekeyStep::Encrypted, false}, Case{RekeyStep::Committed, true},
                 Case{RekeyStep::IniSwitched, true}}) {
    const std::string before = ReadSiteIni(ini).PasswordKey;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      try {
        Rekey(ini, "avain " + std::to_string(static_cast<int>(c.at)), 0, [&](RekeyStep s) {
          if (s == c.at) _exit(0);
        });
      } catch (...) {
      }
      _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(dir.File("data/rekey.journal")));
    // Closed: the program cannot reach the database.
    try {
      store::Connection::Open(ConnectionFromIni(ReadSiteIni(ini)))->MissingSchema();
      ADD_FAILURE() << "the site is open while the rekey is cut short";
    } catch (const store::DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("closed for maintenance"), std::string::npos) << e.what();
    }
    EXPECT_NE(RecoverRekey(ini), "");
    const std::string now = ReadSiteIni(ini).PasswordKey;
    EXPECT_EQ(now != before, c.onNewKey) << static_cast<int>(c.at);
    EXPECT_TRUE(EveryoneLogsIn()) << static_cast<int>(c.at);
    EXPECT_FALSE(fs::exists(dir.File("data/maintenance")));
    EXPECT_EQ(RecoverRekey(ini), "");
  }
}

TEST_F(SiteTree, RestoreRefusesWhatIsNoCopyOfASite) {
  Init(ini);
  AddUsers(ReadSiteIni(ini).PasswordKey);
  const std::string live = dir.File("data/VELMORI.db");
  Write(dir.File("text.db"), "no database at all");
  EXPECT_THROW(store::RestoreSqlite(dir.File("text.db"), live), store::DatabaseError);
  {
    store::ConnectionSettings other;
    other.databaseFile = dir.File("other.db");
    other.createIfMissing = true;
    store::Connection::Open(other)->backend().ExecScript("CREATE TABLE t (x)");
  }
  EXPECT_THROW(store::RestoreSqlite(dir.File("other.db"), live), store::DatabaseError);
  EXPECT_TRUE(EveryoneLogsIn());
  EXPECT_EQ(store::IntegrityCheck(live), "ok");
}

TEST_F(SiteTree, CheckReportsEachFindingOnItsLine) {
  auto lines = [&] {
    std::string out;
    for (const CheckLine& l : CheckSite(ini, "nobody-such")) out += FormatCheckLine(l) + "\n";
    return out;
  };
  std::string out = lines();
  EXPECT_NE(out.find("FAIL database"), std::string::npos) << out;  // no database yet
  EXPECT_NE(out.find("WARN password key: not set"), std::string::npos) << out;

  Init(ini);
  Write(ini, Read(ini) + "[Site]\nColour=blue\n");
  fs::remove(dir.File("www/WebOrvane/Eng/varok.html"));
  Write(dir.File("www/WebOrvane/Fin/index.html"), "<p><#YRITYS> <#TUNTEMATON></p>");
  out = lines();
  EXPECT_NE(out.find("OK   password key: set"), std::string::npos) << out;
  EXPECT_NE(out.find("WARN INI file " + ini + ": unknown keys, ignored: [Site] Colour"), std::string::npos) << out;
  EXPECT_NE(out.find("OK   database"), std::string::npos) << out;
  EXPECT_NE(out.find("FAIL templates " + dir.path() + "/www/WebOrvane/Eng/: missing or unreadable varok.html"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("index.html: tags the program does not know (they show as nothing): <#TUNTEMATON>"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("<#YRITYS>"), std::string::npos) << out;
  EXPECT_NE(out.find("WARN folders: there is no user nobody-such"), std::string::npos) << out;
}

}  // namespace
}  // namespace wo::site
