// wo-dump: prints the rows of the site's tables, one line per row in the
// form of tests/support/dump.h, so that tests driving the installed program
// from outside (browser, load and race tests) can look at the database of
// either backend.
//   wo-dump --ini PATH [TABLE...]   (no TABLE: every table, each line
//                                    prefixed with "TABLE ")
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "module/ini.h"
#include "store/database.h"
#include "store/schema.h"
#include "support/dump.h"

int main(int argc, char** argv) {
  std::string ini;
  std::vector<std::string> tables;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ini" && i + 1 < argc) {
      ini = argv[++i];
    } else {
      tables.push_back(a);
    }
  }
  if (ini.empty()) {
    std::fprintf(stderr, "usage: wo-dump --ini PATH [TABLE...]\n");
    return 2;
  }
  try {
    auto conn = wo::store::Connection::Open(wo::ConnectionFromIni(wo::ReadSiteIni(ini)));
    bool prefix = tables.empty();
    if (prefix)
      for (const auto& def : wo::store::AllTables()) tables.push_back(def.name);
    for (const std::string& t : tables) {
      for (const std::string& row : wo::test::DumpTable(*conn, wo::store::TableNamed(t).name)) {
        if (prefix) std::printf("%s ", t.c_str());
        std::printf("%s\n", row.c_str());
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wo-dump: %s\n", e.what());
    return 1;
  }
  return 0;
}
