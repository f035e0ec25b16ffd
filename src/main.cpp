// The program: one CGI request per process, or -- when a process manager
// starts it with a listening socket as its standard input -- a FastCGI
// worker that serves request after request, each as the CGI program would.
//
// The program installed in www/cgi-bin is linked statically, which saves
// each CGI process the loading and relocation of shared libraries; a
// static program cannot load the PostgreSQL client library, so a site
// whose INI file names a server is handed over at once (exec, before the
// request is read) to the same program linked dynamically, installed as
// lib/dynamic/WebOrvane.exe, which loads it. The same holds for a request
// whose action builds a calendar with libical.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/errors.h"
#include "booking/actions.h"
#include "frame/cgi.h"
#include "frame/fastcgi.h"
#include "module/module.h"
#include "module/site_layout.h"
#include "store/backend.h"
#include "store/sqlite_handle.h"

namespace {

// The number of requests a FastCGI worker serves before it ends, from the
// process manager's environment; 0 (no limit) when unset or not a number
// from 1 up.
constexpr const char* kMaxRequestsVariable = "WEBORVANE_MAX_REQUESTS";

long MaxRequests() {
  const char* v = std::getenv(kMaxRequestsVariable);
  if (!v || !*v) return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v, &end, 10);
  if (errno != 0 || *end != '\0' || n < 1) {
    std::fprintf(stderr, "WebOrvane: %s=%s is no number of requests; the worker serves without a limit\n",
                 kMaxRequestsVariable, v);
    return 0;
  }
  return n;
}

std::string EnvOf(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? std::string(v) : std::string();
}

// Standard output is written raw with write(2), all of it at once.
void WriteOut(std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(1, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

#ifdef WEBORVANE_STATIC_PROGRAM
// Whether the INI file, as it is now, names a PostgreSQL server. One that
// cannot be read names none: the request reports it.
bool NamesServer(wo::Resources& res) {
  try {
    return wo::ConnectionFromIni(res.Ini()).UsesServer();
  } catch (const std::exception&) {
    return false;
  }
}
#endif

}  // namespace

int main(int, char** argv) {
  const bool fastCgi = wo::StandardInputListens();
  const wo::ModulePaths paths = wo::ModulePaths::FromExecutable();
  // A process manager may start its workers anywhere; the pages are read
  // relative to the folder the web server runs the CGI program in.
  if (fastCgi && chdir(paths.programFolder.c_str()) != 0)
    std::fprintf(stderr, "WebOrvane: cannot change to %s: %s\n", paths.programFolder.c_str(), std::strerror(errno));

#ifdef WEBORVANE_STATIC_PROGRAM
  const std::string sibling = paths.top + WO_SITE_DYNAMIC_PROGRAM;
  wo::Resources resources(paths, &wo::Now, [&](const wo::store::ConnectionSettings& s) {
    if (s.UsesServer()) {
      const int why = access(sibling.c_str(), X_OK) == 0 ? ENOEXEC : errno;
      throw wo::store::DatabaseError("this program cannot load the PostgreSQL client library, and " + sibling +
                                     ", which can, does not start: " + std::strerror(why));
    }
    return wo::store::OpenSqlite(s);
  });
  // So is a request whose action loads a shared library (the calendars).
  if (NamesServer(resources) || (!fastCgi && wo::ActionLoadsLibrary(EnvOf("PATH_INFO"))))
    execv(sibling.c_str(), argv);
#else
  (void)argv;
  wo::Resources resources(paths);
#endif

  // A CGI process that stays ends with its request: its memory is made
  // ready at once, and its database library's is never given back piece by
  // piece.
  if (!fastCgi) {
    wo::ReadyHeapForOneRequest();
    wo::store::UseOneRequestMemory();
  }
  // A worker keeps what a request read of the code tables for the next
  // one, while the database stays unchanged.
  resources.SetKeepCodeTables(fastCgi);

  const wo::ModuleFactory module = [&](const wo::Request& req, wo::Response& resp) {
    return std::unique_ptr<wo::WebModuleBase>(std::make_unique<wo::WebModule>(req, resp, resources, wo::OrvaneApp()));
  };
  if (!fastCgi) return wo::RunCgi(&EnvOf, 0, &WriteOut, module);

  return wo::RunFastCgi(
      [&](const wo::FastCgiRequest& q) {
        resources.BeginRequest();
#ifdef WEBORVANE_STATIC_PROGRAM
        // The INI file has come to name a server since this worker
        // started: the dynamic program serves this request, and the
        // process manager's next worker hands over at its start.
        if (NamesServer(resources) && access(sibling.c_str(), X_OK) == 0 && wo::ServeThroughProgram(sibling, q))
          return false;
        // A calendar needs a library this program cannot load: the
        // dynamic program serves that one request, and this worker goes on.
        if (wo::ActionLoadsLibrary(q.env("PATH_INFO")) && access(sibling.c_str(), X_OK) == 0 &&
            wo::ServeThroughProgram(sibling, q))
          return true;
#endif
        wo::RunCgi(q.env, q.read, q.out, module);
        return true;
      },
      MaxRequests(),
      [&] {
        // The site's program, as the process manager started it: a new
        // image decides again which program serves the site.
        const std::string started = argv[0] ? argv[0] : "";
        resources.LetGo();
        wo::StartOverAs(paths.programFolder + started.substr(started.rfind('/') + 1), argv);
      });
}
