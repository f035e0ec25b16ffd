// weborvane-admin [--ini PATH] COMMAND: the site's administration, a thin
// layer over the table store. Every command either completes or changes
// nothing; failures print a message and give a non-zero exit status.
//
//   init                       create the database, every missing table,
//                              column and index; a password key for a new site
//   demo                       load the demonstration centre (demo.cpp)
//   translations import FILE   load KAANNOS texts of "WebOrvane" from FILE
//   translations export FILE   write them to FILE
//   rekey [--wait SECONDS]     re-encrypt the passwords under a new key
//   backup FILE                copy the live SQLite database to FILE
//   restore FILE               put a copy back, the site closed meanwhile
//   check [--user NAME] [URL]  the site's health, one line per finding
//   mail send                  deliver the queued mails, queue reminders
//   mail list                  the outbox
//   waitlist settle            offer the places freed and the offers lapsed
//
// Translation files hold one text a line, "LANGUAGE<TAB>KEY<TAB>TEXT", in
// UTF-8; FILE "-" is standard input or output.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "admin.h"
#include "base/text.h"
#include "mailer/mail_check.h"
#include "module/ini.h"
#include "module/site_admin.h"
#include "module/site_check.h"
#include "store/backup.h"
#include "store/database.h"
#include "store/handles.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/win1252.h"

namespace wo::admin {

namespace {

constexpr const char* kApp = "WebOrvane";

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int Usage() {
  std::fprintf(stderr,
               "usage: weborvane-admin [--ini PATH] COMMAND\n"
               "  init                       create the database and every missing table, column and\n"
               "                             index; a new site gets a random password key\n"
               "  demo                       load the demonstration centre\n"
               "  translations import FILE   load texts (LANGUAGE<TAB>KEY<TAB>TEXT, UTF-8)\n"
               "  translations export FILE   write the texts of \"WebOrvane\" in that form\n"
               "  rekey [--wait SECONDS]     re-encrypt every password under a new random key\n"
               "  backup FILE                copy the live database (SQLite) to FILE\n"
               "  restore FILE               put such a copy back; the site is closed meanwhile\n"
               "  check [--user NAME] [URL]  check the site (NAME: the web server's user, www-data)\n"
               "  mail send                  deliver the queued mails and queue the reminders\n"
               "  mail list                  show the outbox\n"
               "  waitlist settle            offer the waiting lists' freed places; end lapsed offers\n"
               "PATH defaults to Velmori.ini beside this command.\n");
  return 2;
}

std::string DefaultIni() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "./weborvane-admin";
  size_t slash = exe.rfind('/');
  return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/Velmori.ini";
}

std::string Describe(const store::ConnectionSettings& s) {
  if (s.UsesServer())
    return "the PostgreSQL database " + s.alias + " at " + s.serverAddress + ":" + std::to_string(s.port);
  return "the database file " + site::Tidy(s.databaseFile);
}

// ---- init ----

int Init(const std::string& iniPath) {
  site::InitResult r = site::Init(iniPath);
  const SiteIni ini = ReadSiteIni(iniPath);
  const std::string db = Describe(site::AdminConnection(ini));
  if (!r.recovered.empty()) std::printf("weborvane-admin: %s\n", r.recovered.c_str());
  std::vector<std::string> tables, columns;
  int indexes = 0;
  for (const store::SchemaChange& ch : r.changes) {
    if (ch.kind == store::SchemaChange::Table) tables.push_back(ch.table);
    if (ch.kind == store::SchemaChange::Column) columns.push_back(ch.table + "." + ch.name);
    if (ch.kind == store::SchemaChange::Index) ++indexes;
  }
  auto list = [](const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v) out += (out.empty() ? "" : ", ") + s;
    return out;
  };
  if (r.createdFile) {
    std::printf("weborvane-admin: created %s with every table and index\n", db.c_str());
  } else if (r.changes.empty()) {
    std::printf("weborvane-admin: %s already has every table, column and index; nothing to change\n", db.c_str());
  } else {
    if (!tables.empty()) std::printf("weborvane-admin: %s: created the tables %s\n", db.c_str(), list(tables).c_str());
    if (!columns.empty())
      std::printf("weborvane-admin: %s: added the columns %s\n", db.c_str(), list(columns).c_str());
    if (indexes > 0) std::printf("weborvane-admin: %s: created %d indexes\n", db.c_str(), indexes);
  }
  if (r.keyWritten) std::printf("weborvane-admin: wrote a new random password key into %s\n", iniPath.c_str());
  if (r.builtInKeyWithUsers)
    std::fprintf(stderr,
                 "weborvane-admin: warning: %s sets no PasswordKey, so the passwords of the registered users rest on "
                 "the key built into the program, which anyone can read in its source. Run "
                 "`weborvane-admin rekey` to move them to a key of the site's own.\n",
                 iniPath.c_str());
  return 0;
}

// ---- rekey, backup, restore ----

int Rekey(const std::string& iniPath, int waitSeconds) {
  std::printf("weborvane-admin: closing the site; waiting %d seconds for requests in progress\n", waitSeconds);
  std::fflush(stdout);
  site::RekeyResult r = site::Rekey(iniPath, site::NewPasswordKey(), waitSeconds);
  if (!r.recovered.empty()) std::printf("weborvane-admin: %s\n", r.recovered.c_str());
  std::printf("weborvane-admin: re-encrypted the passwords of %d users under a new key, now in %s; the site is open "
              "again\n",
              r.users, iniPath.c_str());
  if (r.unreadable > 0)
    std::printf("weborvane-admin: %d stored passwords were no passwords of this program and were left as they were\n",
                r.unreadable);
  return 0;
}

std::string SqliteFileOf(const SiteIni& ini, const char* command) {
  store::ConnectionSettings s = site::AdminConnection(ini);
  if (s.UsesServer())
    throw Failure(std::string(command) + " works on the embedded database; this site uses " + Describe(s) +
                  ": use pg_dump and pg_restore (see docs/operations.md)");
  return s.databaseFile;
}

int Backup(const SiteIni& ini, const std::string& file) {
  const std::string live = site::Tidy(SqliteFileOf(ini, "backup"));
  if (access(live.c_str(), F_OK) != 0) throw Failure("there is no database file " + live);
  store::CopyResult r = store::BackupSqlite(live, file);
  std::printf("weborvane-admin: copied %s to %s (%lld pages, %lld bytes, integrity ok)\n", live.c_str(), file.c_str(),
              r.pages, r.bytes);
  return 0;
}

int Restore(const SiteIni& ini, const std::string& file) {
  const std::string live = site::Tidy(SqliteFileOf(ini, "restore"));
  if (access(file.c_str(), R_OK) != 0) throw Failure("cannot read " + file);
  store::CopyResult r;
  std::vector<store::SchemaChange> added;
  {
    site::SiteClosed closed(ini, "weborvane-admin restore");
    r = store::RestoreSqlite(file, live);
    added = store::Connection::Open(site::AdminConnection(ini))->CreateSchema();
  }
  std::printf("weborvane-admin: restored %s from %s (%lld pages); the site is open again\n", live.c_str(),
              file.c_str(), r.pages);
  if (!added.empty())
    std::printf("weborvane-admin: the copy lacked %zu tables, columns or indexes of this version; they were added\n",
                added.size());
  return 0;
}

// ---- check ----

int Check(const std::string& iniPath, const std::vector<std::string>& args) {
  std::string user = "www-data", url;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--user" && i + 1 < args.size()) user = args[++i];
    else if (url.empty() && args[i].rfind("--", 0) != 0) url = args[i];
    else return Usage();
  }
  std::vector<site::CheckLine> lines = site::CheckSite(iniPath, user);
  // The mail settings and templates, once the INI file could be read.
  if (lines.empty() || lines.front().level != site::CheckLine::Fail) {
    std::vector<site::CheckLine> mail =
        mailer::CheckMailSetup(ReadSiteIni(iniPath), site::TreePaths::Of(iniPath).templates);
    lines.insert(lines.end(), mail.begin(), mail.end());
  }
  if (!url.empty()) {
    std::vector<site::CheckLine> web = CheckUrl(url);
    lines.insert(lines.end(), web.begin(), web.end());
  }
  int fails = 0, warns = 0;
  for (const site::CheckLine& l : lines) {
    std::printf("%s\n", site::FormatCheckLine(l).c_str());
    if (l.level == site::CheckLine::Fail) ++fails;
    if (l.level == site::CheckLine::Warn) ++warns;
  }
  std::printf("%d failed, %d to look at, %zu in all\n", fails, warns, lines.size());
  return fails > 0 ? 1 : 0;
}

// ---- translations ----

// A text as the file form holds it: tabs and line breaks have no room there
// and become blanks.
std::string FileForm(std::string text) {
  for (char& ch : text)
    if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
  return text;
}

struct Entry {
  std::string lang, key, text;  // Windows-1252
};

// UTF-8 text of a line as Windows-1252; refuses what that cannot hold.
std::string FromUtf8(const std::string& s, size_t line, const char* what) {
  std::string w = store::Utf8ToWin1252(s);
  if (store::Win1252ToUtf8(w) != s)
    throw Failure("line " + std::to_string(line) + ": the " + what +
                  " is not valid UTF-8 or has a character that Windows-1252 lacks");
  return w;
}

std::vector<Entry> ParseTranslations(std::istream& in) {
  const store::TableDef& t = store::TableNamed("KAANNOS");
  const size_t langW = static_cast<size_t>(t.Column("LGKieli")->width);
  const size_t keyW = static_cast<size_t>(t.Column("LGAvain")->width);
  const size_t textW = static_cast<size_t>(t.Column("LGTeksti")->width);
  std::vector<Entry> out;
  std::string line;
  size_t n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (n == 1 && line.rfind("\xef\xbb\xbf", 0) == 0) line.erase(0, 3);  // byte order mark
    if (Trim(line).empty()) continue;
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos || line.find('\t', t2 + 1) != std::string::npos)
      throw Failure("line " + std::to_string(n) + ": expected LANGUAGE<TAB>KEY<TAB>TEXT");
    Entry e;
    e.lang = Upper(FromUtf8(line.substr(0, t1), n, "language"));
    e.key = FromUtf8(line.substr(t1 + 1, t2 - t1 - 1), n, "key");
    e.text = FromUtf8(line.substr(t2 + 1), n, "text");
    if (e.lang.empty() || e.key.empty())
      throw Failure("line " + std::to_string(n) + ": the language and the key must not be empty");
    if (e.lang.size() > langW || e.key.size() > keyW || e.text.size() > textW)
      throw Failure("line " + std::to_string(n) + ": longer than the table holds (language " +
                    std::to_string(langW) + ", key " + std::to_string(keyW) + ", text " +
                    std::to_string(textW) + " characters)");
    out.push_back(std::move(e));
  }
  if (in.bad()) throw Failure("reading failed");
  return out;
}

int Import(const store::ConnectionSettings& s, const std::string& file) {
  std::vector<Entry> entries;
  {
    std::ifstream f;
    std::istream* in = &std::cin;
    if (file != "-") {
      f.open(file, std::ios::binary);
      if (!f) throw Failure("cannot read " + file);
      in = &f;
    }
    try {
      entries = ParseTranslations(*in);
    } catch (const Failure& e) {
      throw Failure(file + ": " + e.what() + "; nothing was imported");
    }
  }
  std::unique_ptr<store::Connection> c = store::Connection::Open(s);
  int added = 0, updated = 0;
  store::InWriteTransaction(*c, [&] {
    store::Table t = store::MakeHandle(*c, "FTblLang");
    t.Open();
    for (const Entry& e : entries) {
      if (t.FindKey({store::Txt(e.lang), store::Txt(kApp), store::Txt(e.key)})) {
        // An existing text keeps its LGKaytossa (a translator may have
        // switched it off), and one that the file repeats as exported is
        // left alone: export followed by import changes nothing.
        if (FileForm(t.Text("LGTeksti")) == e.text) continue;
        t.Edit();
        t["LGTeksti"].SetText(e.text);
        ++updated;
      } else {
        t.Append();
        t["LGKieli"].SetText(e.lang);
        t["LGSovellus"].SetText(kApp);
        t["LGAvain"].SetText(e.key);
        t["LGTeksti"].SetText(e.text);
        t["LGKaytossa"].SetBool(true);
        ++added;
      }
      t.Post();
    }
    t.Close();
  });
  std::printf("weborvane-admin: imported %zu texts from %s (%d new, %d updated, %zu unchanged)\n",
              entries.size(), file.c_str(), added, updated, entries.size() - static_cast<size_t>(added + updated));
  return 0;
}

int Export(const store::ConnectionSettings& s, const std::string& file) {
  std::unique_ptr<store::Connection> c = store::Connection::Open(s);
  std::string out;
  int rows = 0;
  {
    store::Table t = store::MakeHandle(*c, "FTblLang");
    t.SetIndex("LGSovellus;LGKieli;LGAvain");
    t.Open();
    t.SetRange({store::Txt(kApp)}, {store::Txt(kApp)});
    for (; !t.Eof(); t.Next()) {
      std::string fields[3] = {t.Text("LGKieli"), t.Text("LGAvain"), t.Text("LGTeksti")};
      for (std::string& f : fields) f = store::Win1252ToUtf8(FileForm(f));
      out += fields[0] + "\t" + fields[1] + "\t" + fields[2] + "\n";
      ++rows;
    }
    t.Close();
  }
  if (file == "-") {
    std::cout << out << std::flush;
    if (!std::cout) throw Failure("writing to standard output failed");
  } else {
    // Written beside the target and renamed over it: a failure leaves the
    // old file as it was.
    std::string tmp = file + ".tmp" + std::to_string(getpid());
    {
      std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
      f << out;
      f.flush();
      if (!f) {
        std::remove(tmp.c_str());
        throw Failure("cannot write " + file);
      }
    }
    if (std::rename(tmp.c_str(), file.c_str()) != 0) {
      std::remove(tmp.c_str());
      throw Failure("cannot write " + file);
    }
  }
  std::fprintf(file == "-" ? stderr : stdout, "weborvane-admin: exported %d texts to %s\n", rows, file.c_str());
  return 0;
}

}  // namespace

}  // namespace wo::admin

int main(int argc, char** argv) {
  using namespace wo::admin;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string iniPath;
  size_t i = 0;
  if (i < args.size() && args[i].rfind("--ini=", 0) == 0) {
    iniPath = args[i].substr(6);
    ++i;
  } else if (i < args.size() && args[i] == "--ini") {
    if (i + 1 >= args.size()) return Usage();
    iniPath = args[i + 1];
    i += 2;
  }
  if (i >= args.size()) return Usage();
  if (iniPath.empty()) iniPath = DefaultIni();
  std::vector<std::string> cmd(args.begin() + static_cast<long>(i), args.end());
  try {
    // The check reports an unreadable INI file as one of its findings.
    if (cmd[0] == "check") return Check(iniPath, std::vector<std::string>(cmd.begin() + 1, cmd.end()));
    wo::SiteIni ini = wo::ReadSiteIni(iniPath);
    wo::store::ConnectionSettings s = wo::site::AdminConnection(ini);
    if (cmd[0] == "init" && cmd.size() == 1) return Init(iniPath);
    if (cmd[0] == "rekey" && cmd.size() == 1) return Rekey(iniPath, 10);
    if (cmd[0] == "rekey" && cmd.size() == 3 && cmd[1] == "--wait") {
      char* end = nullptr;
      long w = std::strtol(cmd[2].c_str(), &end, 10);
      if (*end || w < 0 || w > 3600) return Usage();
      return Rekey(iniPath, static_cast<int>(w));
    }
    if (cmd[0] == "backup" && cmd.size() == 2) return Backup(ini, cmd[1]);
    if (cmd[0] == "restore" && cmd.size() == 2) return Restore(ini, cmd[1]);
    if (cmd[0] == "demo" && cmd.size() == 1) {
      std::unique_ptr<wo::store::Connection> c = wo::store::Connection::Open(s);
      return DemoCommand(*c, ini);
    }
    if (cmd[0] == "mail" && cmd.size() == 2 && cmd[1] == "send") return MailSend(iniPath, ini);
    if (cmd[0] == "mail" && cmd.size() == 2 && cmd[1] == "list") return MailList(ini);
    if (cmd[0] == "waitlist" && cmd.size() == 2 && cmd[1] == "settle") return WaitlistSettle(ini);
    if (cmd[0] == "translations" && cmd.size() == 3 && cmd[1] == "import") return Import(s, cmd[2]);
    if (cmd[0] == "translations" && cmd.size() == 3 && cmd[1] == "export") return Export(s, cmd[2]);
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "weborvane-admin: %s\n", e.what());
    return 1;
  }
}
