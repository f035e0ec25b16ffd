#include "module/site_check.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "frame/page_producer.h"
#include "base/text.h"
#include "module/ini.h"
#include "module/tags.h"
#include "module/site_admin.h"

namespace wo::site {

namespace {

using L = CheckLine;

std::string Join(const std::vector<std::string>& v, const char* sep = ", ") {
  std::string out;
  for (const std::string& s : v) out += (out.empty() ? "" : sep) + s;
  return out;
}

void CheckIni(const std::string& iniPath, std::vector<L>& out) {
  std::string text;
  try {
    text = ReadIniText(iniPath);
  } catch (const IniError& e) {
    out.push_back({L::Fail, e.what()});
    return;
  }
  std::vector<std::string> unknown, repeated;
  std::set<std::string> seen;
  int bad = 0;
  ScanIni(text, [&](const IniEntry& e) {
    if (!e.isKey) {
      if (bad == 0) bad = e.line;
      return;
    }
    std::string label(1, '[');
    label.append(e.section).append("] ").append(e.name);
    bool known = false;
    for (const IniKey& k : KnownIniKeys())
      if (SameText(e.section, k.section) && SameText(e.name, k.name)) known = true;
    if (!known) unknown.push_back(label);
    if (!seen.insert(Upper(label)).second) repeated.push_back(label);
  });
  if (bad > 0)
    out.push_back({L::Warn, "INI file " + iniPath + ": line " + std::to_string(bad) +
                                " is neither a section, a key nor a comment"});
  if (!unknown.empty())
    out.push_back({L::Warn, "INI file " + iniPath + ": unknown keys, ignored: " + Join(unknown)});
  if (!repeated.empty())
    out.push_back({L::Warn, "INI file " + iniPath + ": keys given more than once (the first counts): " +
                                Join(repeated)});
  if (bad == 0 && unknown.empty() && repeated.empty())
    out.push_back({L::Ok, "INI file " + iniPath + ": readable, every key known"});
}

std::string Describe(const store::ConnectionSettings& s) {
  if (s.UsesServer()) return "database " + s.alias + " at " + s.serverAddress + ":" + std::to_string(s.port);
  return "database " + Tidy(s.databaseFile);
}

bool CheckDatabase(const SiteIni& ini, std::vector<L>& out) {
  store::ConnectionSettings s = AdminConnection(ini);
  std::vector<store::SchemaChange> missing;
  try {
    missing = store::Connection::Open(s)->MissingSchema();
  } catch (const std::exception& e) {
    out.push_back({L::Fail, Describe(s) + ": " + e.what()});
    return false;
  }
  std::vector<std::string> tables, indexes;
  for (const store::SchemaChange& m : missing) {
    if (m.kind == store::SchemaChange::Table) tables.push_back("table " + m.table);
    if (m.kind == store::SchemaChange::Column) tables.push_back("column " + m.table + "." + m.name);
    if (m.kind == store::SchemaChange::Index) indexes.push_back(m.name);
  }
  if (!tables.empty())
    out.push_back({L::Fail, Describe(s) + ": missing " + Join(tables) + " (weborvane-admin init adds them)"});
  if (!indexes.empty())
    out.push_back({L::Warn, Describe(s) + ": missing indexes " + Join(indexes) + " (weborvane-admin init adds them)"});
  if (missing.empty()) out.push_back({L::Ok, Describe(s) + ": reachable, every table, column and index"});
  return true;
}

std::string ReadFile(const std::string& path, bool& ok) {
  std::ifstream f(path, std::ios::binary);
  ok = static_cast<bool>(f);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void CheckTemplates(const SiteIni& ini, const TreePaths& tree, std::vector<L>& out) {
  const std::vector<std::string_view>& known = KnownTemplateTags();
  std::vector<const char*> pages(std::begin(kTemplatePages), std::end(kTemplatePages));
  if (ini.Mail) pages.insert(pages.end(), std::begin(kResetPages), std::end(kResetPages));
  for (const char* lang : {"Fin", "Eng"}) {
    const std::string dir = tree.templates + lang + "/";
    std::vector<std::string> missing;
    for (const char* page : pages)
      if (access((dir + page).c_str(), R_OK) != 0) missing.push_back(page);
    if (missing.empty())
      out.push_back({L::Ok, "templates " + dir + ": all " + std::to_string(pages.size()) + " pages"});
    else
      out.push_back({L::Fail, "templates " + dir + ": missing or unreadable " + Join(missing)});

    // Tags, found the way the program finds them, in every page of the folder.
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 5 && SameText(n.substr(n.size() - 5), ".html")) files.push_back(n);
      }
      closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      bool ok;
      std::string text = ReadFile(dir + f, ok);
      if (!ok) continue;
      std::set<std::string> unknown;
      try {
        ExpandTemplate(text, [&](std::string_view tag, const std::vector<std::string>&) {
          if (std::find(known.begin(), known.end(), Upper(tag)) == known.end()) unknown.insert(std::string(tag));
          return std::string();
        });
      } catch (const std::exception& e) {
        out.push_back({L::Fail, "template " + dir + f + ": " + e.what()});
        continue;
      }
      if (!unknown.empty()) {
        std::vector<std::string> names;
        for (const std::string& u : unknown) names.push_back("<#" + u + ">");
        out.push_back({L::Warn, "template " + dir + f + ": tags the program does not know (they show as nothing): " +
                                    Join(names)});
      }
    }
  }
}

// Whether the caller may write `path` (and enter it, for a folder).
bool Writable(const std::string& path) {
  struct stat st;
  int mode = stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? W_OK | X_OK : R_OK | W_OK;
  return access(path.c_str(), mode) == 0;
}

// Whether `user` may write `path`: tested by a child process that becomes
// the user. -1 when it cannot be tested.
int WritableBy(const std::string& path, const passwd& pw) {
  if (geteuid() != 0) return pw.pw_uid == geteuid() ? Writable(path) : -1;
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (initgroups(pw.pw_name, pw.pw_gid) != 0 || setgid(pw.pw_gid) != 0 || setuid(pw.pw_uid) != 0) _exit(3);
    _exit(Writable(path) ? 0 : 1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  int rc = WEXITSTATUS(status);
  return rc == 0 ? 1 : rc == 1 ? 0 : -1;
}

void CheckFolders(const SiteIni& ini, const TreePaths& tree, const std::string& webUser, std::vector<L>& out) {
  passwd* found = getpwnam(webUser.c_str());
  if (!found) {
    out.push_back({L::Warn, "folders: there is no user " + webUser + " to test them for (check --user NAME)"});
    return;
  }
  passwd pw = *found;
  std::vector<std::pair<std::string, std::string>> paths = {{tree.data, "data folder"}, {tree.log, "log folder"}};
  const std::string dbFile = Tidy(ini.DatabaseFile);
  if (!ini.ServerName.empty() && !ini.ServerAddress.empty()) {
    // A PostgreSQL site keeps nothing in data/ but the maintenance marker.
  } else {
    std::string dbDir = dbFile.substr(0, dbFile.rfind('/') + 1);
    if (dbDir != tree.data) paths.push_back({dbDir, "folder of the database file"});
    if (access(dbFile.c_str(), F_OK) == 0) paths.push_back({dbFile, "database file"});
    for (const char* side : {"-wal", "-shm"})
      if (access((dbFile + side).c_str(), F_OK) == 0) paths.push_back({dbFile + side, "database side file"});
  }
  if (access((tree.log + "WebOrvane.log").c_str(), F_OK) == 0) paths.push_back({tree.log + "WebOrvane.log", "log file"});
  for (const auto& [path, what] : paths) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      out.push_back({L::Fail, what + " " + path + ": missing"});
      continue;
    }
    int w = WritableBy(path, pw);
    if (w < 0)
      out.push_back({L::Warn, what + " " + path + ": cannot test whether " + webUser + " may write it (run as root)"});
    else if (w == 0)
      out.push_back({L::Fail, what + " " + path + ": " + webUser + " may not write it" +
                                  (path == tree.data ? " (SQLite keeps its journal beside the database)" : "")});
    else
      out.push_back({L::Ok, what + " " + path + ": writable by " + webUser});
  }
}

}  // namespace

std::string FormatCheckLine(const CheckLine& line) {
  const char* tag = line.level == CheckLine::Ok ? "OK   " : line.level == CheckLine::Warn ? "WARN " : "FAIL ";
  return tag + line.text;
}

std::vector<CheckLine> CheckSite(const std::string& iniPath, const std::string& webUser) {
  std::vector<L> out;
  CheckIni(iniPath, out);
  if (out.back().level == L::Fail) return out;
  const SiteIni ini = ReadSiteIni(iniPath);
  const TreePaths tree = TreePaths::Of(iniPath);

  if (Trim(ini.PasswordKey).empty())
    out.push_back({L::Warn, "password key: not set, so the key built into the program protects the passwords "
                            "(weborvane-admin init sets one while no user has registered, rekey changes it)"});
  else
    out.push_back({L::Ok, "password key: set"});

  if (access((tree.data + "rekey.journal").c_str(), F_OK) == 0)
    out.push_back({L::Fail, "an interrupted change of the password key (" + tree.data +
                                "rekey.journal): run weborvane-admin rekey to finish it"});
  if (access(ini.ClosedFile.c_str(), F_OK) == 0) {
    bool ok;
    std::string why = ReadFile(ini.ClosedFile, ok);
    for (char& ch : why)
      if (ch == '\n') ch = ' ';
    out.push_back({L::Warn, "the site is closed for maintenance (" + Trim(why) + "); remove " + Tidy(ini.ClosedFile) +
                                " if no administration command is running"});
  }

  CheckDatabase(ini, out);
  CheckTemplates(ini, tree, out);
  CheckFolders(ini, tree, webUser, out);
  return out;
}

}  // namespace wo::site
