// Test sites: a throwaway install tree with its own SQLite database, for
// tests that run the program (as a process or in this process) the way a
// web server does.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "module/resources.h"
#include "store/database.h"
#include "support/fastcgi_client.h"

// The sanitizers' build makes both programs dynamic (there is no hand-over)
// and keeps freed memory in quarantine (the resident size grows by design).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

namespace wo::test {

// The bytes the program wrote, split into its header lines and content.
struct CgiResult {
  std::string raw;
  std::vector<std::string> headerLines;  // without CR LF, up to the blank line
  std::string body;                      // everything after the blank line
  int status = 0;                        // from "Status: NNN ..."; 0 when none
  // The value of the first header line "Name: value"; "" when absent.
  std::string Header(std::string_view name) const;
};

// Splits `raw` as written by the program (with headers).
CgiResult ParseCgiOutput(std::string raw);

// A field value for InsertRow; kNull leaves the field null.
inline const std::string kNull = std::string("\x01NULL", 5);
using Row = std::vector<std::pair<std::string, std::string>>;

// Appends one row; values are given as text in the stored forms
// ("YYYY-MM-DD HH:MM:SS" for date-times, "HH:MM:SS" for times, "1"/"0"
// for booleans), texts as Windows-1252 bytes. Fields not named stay null.
void InsertRow(store::Connection& c, std::string_view table, const Row& row);

struct SiteOptions {
  bool copySiteTemplates = false;  // copy site/Fin and site/Eng of the source tree
  bool createSchema = true;        // create every table and index
  std::string extraIni;            // INI lines over the defaults (see WriteIni)
};

class TempSite {
 public:
  explicit TempSite(SiteOptions opts = {});
  ~TempSite();
  TempSite(const TempSite&) = delete;
  TempSite& operator=(const TempSite&) = delete;

  const std::string& root() const { return root_; }
  std::string cgiDir() const { return root_ + "/www/cgi-bin"; }
  std::string program() const { return cgiDir() + "/WebOrvane.exe"; }
  std::string iniFile() const { return root_ + "/bin/Velmori.ini"; }
  std::string dbFile() const { return root_ + "/data/VELMORI.db"; }
  std::string logDir() const { return root_ + "/log"; }
  // Where the program installed in this site finds its files.
  ModulePaths paths() const { return {iniFile(), logDir() + "/", cgiDir() + "/", root_ + "/"}; }

  // Rewrites the INI: `extra` (lines before a section header belong to
  // [DataBase]), then the defaults (the embedded database), which count
  // only for keys that `extra` does not set.
  void WriteIni(std::string_view extra);
  // Writes www/WebOrvane/<lang>/<file> (lang "Fin" or "Eng").
  void WriteTemplate(std::string_view lang, std::string_view file, std::string_view bytes);

  // A connection to this site's database (a new one per call).
  std::unique_ptr<store::Connection> Connect() const;

  // How the requests served in this process (RunInProcess, ModuleOnSite)
  // connect: Connection::Open, or `opener` once it is given.
  Resources::Opener Opener() const { return opener_; }
  void SetOpener(Resources::Opener opener) { opener_ = std::move(opener); }

  // Runs the installed program as the web server would: cwd www/cgi-bin,
  // SERVER_PROTOCOL HTTP/1.1 unless `env` says otherwise (an empty value
  // unsets a variable), GET. As a CGI process, or through this site's
  // FastCGI worker where the tests run that way (ThroughFastCgi).
  CgiResult Run(std::string_view path, std::string_view query,
                const std::map<std::string, std::string>& env = {}) const;
  // The same request as a CGI process, and through the site's FastCGI
  // worker (one process, started by the first request and kept until the
  // site ends or StopWorker).
  CgiResult RunAsCgi(std::string_view path, std::string_view query,
                     const std::map<std::string, std::string>& env = {}) const;
  CgiResult RunAsFastCgi(std::string_view path, std::string_view query,
                         const std::map<std::string, std::string>& env = {}) const;
  FastCgiWorkers& Worker() const;
  void StopWorker() {
    std::lock_guard<std::mutex> lock(workerMutex_);
    worker_.reset();
  }

  // The same request served inside this process (cwd switched for the
  // duration), so tests can look at the database right after.
  CgiResult RunInProcess(std::string_view path, std::string_view query,
                         const std::map<std::string, std::string>& env = {}) const;

 private:
  std::string root_;
  Resources::Opener opener_ = &store::Connection::Open;
  mutable std::mutex workerMutex_;  // requests of several threads start one worker
  mutable std::unique_ptr<FastCgiWorkers> worker_;
};

// Runs a command line through /bin/sh; returns its exit status and output.
std::pair<int, std::string> Shell(const std::string& cmd);

// Moves the write-ahead log of the SQLite file `dbFile` into the file and
// empties it, so that the file alone holds the database (a copy of it is
// then the whole database). Raises std::runtime_error when it cannot.
void MoveLogIntoDatabase(const std::string& dbFile);

// Changes the working directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();

 private:
  std::string old_;
};

}  // namespace wo::test
