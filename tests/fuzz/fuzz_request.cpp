// Fuzz target: the whole request path. Each input is one CGI request —
// an action path and a query string — served in this process by the web
// module against a small site with the default templates, a demonstration
// centre and one logged-in user. The database is put back to its starting
// bytes after every request, so inputs do not depend on each other.
//
// Input: byte 0 chooses the path (one of the nineteen actions, or the path
// given in the input up to its first line feed), byte 1 holds flags (bit 0:
// prepend the logged-in user's ID, bit 1: Lang=Eng, bit 2: no protocol, so
// no header block), the rest is the query string (cut at a NUL byte, which
// no CGI environment can carry).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "frame/text.h"
#include "support/site.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPaths[] = {"/Index", "/ResVal", "/Viikko", "/Login", "/ChkLogin", "/Regin",
                                  "/SavReg", "/RegOk", "/LogOut", "/Var", "/VarOk", "/Varaa",
                                  "/Omat", "/Poista", "/PoisVar", "/PoisOk", "/Vaihda",
                                  "/VaihdaSana", "/VaihdaOk"};
constexpr size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

wo::test::TempSite* site = nullptr;
std::string pristine;  // the database file as it was after set-up
std::string sessionId;

void Require(bool ok, const char* what, const std::string& detail) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_request: %s\n%s\n", what, detail.c_str());
  std::abort();
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void RestoreDatabase() {
  std::error_code ec;
  fs::remove(site->dbFile() + "-wal", ec);
  fs::remove(site->dbFile() + "-shm", ec);
  fs::remove(site->dbFile() + "-journal", ec);
  std::ofstream f(site->dbFile(), std::ios::binary | std::ios::trunc);
  f.write(pristine.data(), static_cast<std::streamsize>(pristine.size()));
}

bool AllowedHeader(const std::string& line) {
  for (const char* name : {"Status:", "Location:", "Content-Type:", "Content-Length:", "Content:"})
    if (line.rfind(name, 0) == 0) return true;
  return false;
}

void SetUp() {
  wo::test::SiteOptions opts;
  opts.copySiteTemplates = true;
  site = new wo::test::TempSite(opts);
  std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + site->iniFile() + "' ";
  auto [rc, out] = wo::test::Shell(admin + "demo 2>&1");
  Require(rc == 0, "weborvane-admin demo failed", out);
  std::string texts = std::string(WO_SOURCE_DIR) + "/site/texts";
  if (fs::is_directory(texts)) {
    for (const auto& e : fs::directory_iterator(texts)) {
      auto [rc2, out2] = wo::test::Shell(admin + "translations import '" + e.path().string() + "' 2>&1");
      Require(rc2 == 0, "translations import failed", out2);
    }
  }
  // One registered, logged-in user whose ID inputs may carry.
  wo::test::CgiResult r = site->RunInProcess(
      "/SavReg",
      "ID=0&Lang=Fin&Tunnus=fuzzuser&Koodi=fuzzpass1&SNimi=Fuzz&ENimi=Tester&Os01=Katu+1&Os02=00100"
      "&Os03=Helsinki&EMail=f%40example.org&Puh=0401234567&MPuh=&Toim=OK");
  std::string loc = r.Header("Location");
  size_t at = loc.find("ID=");
  Require(at != std::string::npos, "registration gave no session", r.raw);
  sessionId = loc.substr(at + 3, loc.find('&', at) - at - 3);
  pristine = ReadAll(site->dbFile());
  Require(!pristine.empty(), "no database file", site->dbFile());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  unsigned sel = static_cast<unsigned char>(in[0]);
  unsigned flags = static_cast<unsigned char>(in[1]);
  std::string_view rest = in.substr(2);
  rest = rest.substr(0, rest.find('\0'));

  std::string path;
  if (sel % (kPathCount + 1) < kPathCount) {
    path = kPaths[sel % (kPathCount + 1)];
  } else {
    size_t lf = rest.find('\n');
    path = std::string(rest.substr(0, lf));
    rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
  }
  std::string query;
  if (flags & 1) query += "ID=" + sessionId + "&";
  if (flags & 2) query += "Lang=Eng&";
  query += rest;
  bool headers = !(flags & 4);

  wo::test::CgiResult r =
      site->RunInProcess(path, query, headers ? std::map<std::string, std::string>{}
                                              : std::map<std::string, std::string>{{"SERVER_PROTOCOL", ""}});
  RestoreDatabase();

  std::string detail = "path: " + path + "\nquery: " + query + "\noutput:\n" + r.raw.substr(0, 2000);
  if (!headers) {
    Require(r.raw.rfind("Status: 500", 0) != 0 || r.raw.find("Internal Server Error 500") != std::string::npos,
            "unexpected start-up failure", detail);
    return 0;
  }
  Require(!r.headerLines.empty() && r.headerLines[0].rfind("Status: ", 0) == 0, "no status line", detail);
  for (const std::string& line : r.headerLines) {
    Require(AllowedHeader(line), "unexpected header line", detail);
    Require(line.find_first_of("\r\n") == std::string::npos, "line break inside a header", detail);
  }
  std::string len = r.Header("Content-Length");
  if (!len.empty())
    Require(wo::ToIntDef(len, -1) == static_cast<long long>(r.body.size()), "wrong Content-Length", detail);
  if (r.status == 500) {
    // Only a query that cannot be decoded may end in status 500.
    bool decoding = r.body.find("Error decoding URL style (%XX) encoded string") != std::string::npos ||
                    r.body.find("Invalid URL encoded character") != std::string::npos;
    Require(decoding, "status 500 for a decodable request", detail);
  } else {
    Require(r.status == 200 || r.status == 302, "unexpected status", detail);
  }
  return 0;
}
