// Fuzz target: the whole request path. Each input is one CGI request —
// an action path and a query string — served in this process by the web
// module against a small site with the default templates, a demonstration
// centre with its English texts and one logged-in user. The database is put back to its starting
// bytes after every request, so inputs do not depend on each other.
//
// Input: byte 0 chooses the path (one of the nineteen actions, or the path
// given in the input up to its first line feed), byte 1 holds flags (bit 0:
// prepend the logged-in user's ID, bit 1: Lang=Eng, bit 2: no protocol, so
// no header block, bit 3: forged Remote-Host and Remote-Addr request
// headers), the rest is the query string (cut at a NUL byte, which no CGI
// environment can carry).
//
// Besides a well-formed answer, every request must leave the database as it
// was when its action only reads (whatever Lang it names), must never store
// a forged header, and must keep the error log within its rotation bound.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "frame/cgi.h"
#include "base/text.h"
#include "booking/actions.h"
#include "module/module.h"
#include "module/site_log.h"
#include "support/site.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPaths[] = {"/Index", "/ResVal", "/Viikko", "/Login", "/ChkLogin", "/Regin",
                                  "/SavReg", "/RegOk", "/LogOut", "/Var", "/VarOk", "/Varaa",
                                  "/Omat", "/Poista", "/PoisVar", "/PoisOk", "/Vaihda",
                                  "/VaihdaSana", "/VaihdaOk"};
constexpr size_t kPathCount = sizeof kPaths / sizeof kPaths[0];
// The actions that never write, whatever the query.
constexpr const char* kReadOnly[] = {"/Index", "/ResVal", "/Viikko", "/Login", "/Regin", "/RegOk",
                                     "/VarOk", "/Omat", "/PoisOk", "/Vaihda", "/VaihdaOk"};
constexpr const char* kForged = "forged.example";

// The site: an install tree on tmpfs when there is one, so that the
// database's syncs cost nothing and the fuzzer spends its time in the
// program.
struct Site {
  std::string root;
  std::string cgiDir() const { return root + "/www/cgi-bin"; }
  std::string ini() const { return root + "/bin/Velmori.ini"; }
  std::string db() const { return root + "/data/VELMORI.db"; }
};
Site site;
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
  for (const char* ext : {"-wal", "-shm", "-journal"}) fs::remove(site.db() + ext, ec);
  std::ofstream f(site.db(), std::ios::binary | std::ios::trunc);
  f.write(pristine.data(), static_cast<std::streamsize>(pristine.size()));
}

bool AllowedHeader(const std::string& line) {
  for (const char* name : {"Status:", "Location:", "Content-Type:", "Content-Length:", "Content:"})
    if (line.rfind(name, 0) == 0) return true;
  return false;
}

// The database's file and its write-ahead log as they stand.
std::string DatabaseNow() { return ReadAll(site.db()) + ReadAll(site.db() + "-wal"); }

// One request served in this process, as the program serves it.
wo::test::CgiResult Serve(const std::string& path, const std::string& query, bool withProtocol,
                          bool forgedHeaders = false) {
  std::map<std::string, std::string> vars = {{"REQUEST_METHOD", "GET"},
                                             {"PATH_INFO", path},
                                             {"QUERY_STRING", query},
                                             {"REMOTE_ADDR", "127.0.0.1"}};
  if (withProtocol) vars["SERVER_PROTOCOL"] = "HTTP/1.1";
  if (forgedHeaders) vars["HTTP_REMOTE_HOST"] = vars["HTTP_REMOTE_ADDR"] = kForged;
  std::string out;
  {
    wo::test::ScopedCwd cwd(site.cgiDir());
    wo::Resources resources(wo::ModulePaths{site.ini(), site.root + "/log/", site.cgiDir() + "/", site.root + "/"});
    int devnull = open("/dev/null", O_RDONLY);
    wo::RunCgi([&](const std::string& name) {
                 auto it = vars.find(name);
                 return it == vars.end() ? std::string() : it->second;
               },
               devnull, [&](std::string_view bytes) { out.append(bytes); },
               [&](const wo::Request& req, wo::Response& resp) {
                 return std::unique_ptr<wo::WebModuleBase>(std::make_unique<wo::WebModule>(req, resp, resources, wo::OrvaneApp()));
               });
    close(devnull);
  }
  return withProtocol ? wo::test::ParseCgiOutput(out) : wo::test::CgiResult{out, {}, out, 0};
}

void RemoveSite() {
  std::error_code ec;
  if (!site.root.empty()) fs::remove_all(site.root, ec);
}

void SetUp() {
  std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/wo-fuzz-XXXXXX";
  Require(mkdtemp(tmpl.data()) != nullptr, "mkdtemp failed", tmpl);
  site.root = tmpl;
  std::atexit(RemoveSite);
  for (const char* d : {"www/cgi-bin", "www/WebOrvane", "bin", "log", "data"}) fs::create_directories(site.root + "/" + d);
  for (const char* lang : {"Fin", "Eng"})
    fs::copy(std::string(WO_SOURCE_DIR) + "/site/" + lang, site.root + "/www/WebOrvane/" + lang,
             fs::copy_options::recursive);
  std::ofstream(site.ini()) << "[DataBase]\nServerName=\nServerAddress=\nDatabaseFile=../data/VELMORI.db\n"
                               "[Site]\nCompanyName=Fuzz <&> \"Centre\"\n";
  std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + site.ini() + "' ";
  auto [rc, out] = wo::test::Shell(admin + "init 2>&1 && " + admin + "demo 2>&1 && " + admin +
                                   "translations import '" + WO_SOURCE_DIR + "/site/texts/eng.tsv' 2>&1");
  Require(rc == 0, "weborvane-admin failed", out);
  // One registered, logged-in user whose ID inputs may carry.
  wo::test::CgiResult r = Serve(
      "/SavReg",
      "ID=0&Lang=Fin&Tunnus=fuzzuser&Koodi=fuzzpass1&SNimi=Fuzz&ENimi=Tester&Os01=Katu+1&Os02=00100"
      "&Os03=Helsinki&EMail=f%40example.org&Puh=0401234567&MPuh=&Toim=OK",
      true);
  std::string loc = r.Header("Location");
  size_t at = loc.find("ID=");
  Require(at != std::string::npos, "registration gave no session", r.raw);
  sessionId = loc.substr(at + 3, loc.find('&', at) - at - 3);
  wo::test::MoveLogIntoDatabase(site.db());  // the registration may still be in the log
  pristine = ReadAll(site.db());
  Require(!pristine.empty(), "no database file", site.db());
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
  bool forged = (flags & 8) != 0;

  wo::test::CgiResult r = Serve(path, query, headers, forged);
  std::string detail = "path: " + path + "\nquery: " + query + "\noutput:\n" + r.raw.substr(0, 2000);
  bool readOnly = false;
  for (const char* p : kReadOnly) readOnly = readOnly || path == p;
  if (readOnly || forged) {
    const std::string now = DatabaseNow();
    if (readOnly) Require(now == pristine, "a reading action changed the database", detail);
    if (forged) Require(now.find(kForged) == std::string::npos, "a forged header was stored", detail);
  }
  RestoreDatabase();
  std::error_code ec;
  const auto logSize = fs::file_size(site.root + "/log/WebOrvane.log", ec);
  Require(ec || logSize <= static_cast<uintmax_t>(wo::kLogRotateBytes) + 65536, "the log outgrew its bound",
          std::to_string(logSize));

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
