// weborvane-admin [--ini PATH] COMMAND: the site's administration, a thin
// layer over the table store. Every command either completes or changes
// nothing; failures print a message and give a non-zero exit status.
//
//   init                       create every missing table and index
//   demo                       load the demonstration centre (demo.cpp)
//   translations import FILE   load KAANNOS texts of "WebOrvane" from FILE
//   translations export FILE   write them to FILE
//
// Translation files hold one text a line, "LANGUAGE<TAB>KEY<TAB>TEXT", in
// UTF-8; FILE "-" is standard input or output.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "admin.h"
#include "frame/text.h"
#include "module/ini.h"
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
               "  init                       create every missing table and index\n"
               "  demo                       load the demonstration centre\n"
               "  translations import FILE   load texts (LANGUAGE<TAB>KEY<TAB>TEXT, UTF-8)\n"
               "  translations export FILE   write the texts of \"WebOrvane\" in that form\n"
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
  return "the database file " + s.databaseFile;
}

store::Table LangHandle(store::Connection& c) {
  const store::HandleDef& d = store::HandleNamed("FTblLang");
  return store::Table(c, store::TableNamed(d.table), d.fields, d.index);
}

// ---- init ----

int Init(store::ConnectionSettings s) {
  if (!s.UsesServer()) {
    std::string dir = s.databaseFile.substr(0, s.databaseFile.rfind('/') + 1);
    struct stat st;
    if (!dir.empty() && (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
      throw Failure("the folder " + dir + " of the database file does not exist");
    s.createIfMissing = true;
  }
  std::unique_ptr<store::Connection> c = store::Connection::Open(s);
  c->CreateSchema();
  std::printf("weborvane-admin: %s has every table and index\n", Describe(s).c_str());
  return 0;
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
    store::Table t = LangHandle(*c);
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
    store::Table t = LangHandle(*c);
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
    wo::SiteIni ini = wo::ReadSiteIni(iniPath);
    wo::store::ConnectionSettings s = wo::ConnectionFromIni(ini);
    if (cmd[0] == "init" && cmd.size() == 1) return Init(s);
    if (cmd[0] == "demo" && cmd.size() == 1) {
      std::unique_ptr<wo::store::Connection> c = wo::store::Connection::Open(s);
      return DemoCommand(*c, ini);
    }
    if (cmd[0] == "translations" && cmd.size() == 3 && cmd[1] == "import") return Import(s, cmd[2]);
    if (cmd[0] == "translations" && cmd.size() == 3 && cmd[1] == "export") return Export(s, cmd[2]);
    return Usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "weborvane-admin: %s\n", e.what());
    return 1;
  }
}
