// The servers and clients of the benchmark's web rows: shell commands,
// processes it starts and ends, lighttpd, php-fpm, a FastCGI probe, wrk
// and a plain HTTP client on loopback.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

// Runs `cmd` with /bin/sh and returns its standard output. With `status`
// the exit status is stored there; without, a failure throws.
std::string Sh(const std::string& cmd, int* status = nullptr);

// `s` quoted for /bin/sh.
std::string Quote(const std::string& s);

void WriteFile(const fs::path& p, const std::string& bytes);
std::string ReadFile(const fs::path& p);

// A free TCP port on 127.0.0.1.
int FreePort();

// A process the benchmark started. Ended when the object goes: SIGTERM,
// then SIGKILL if it has not ended within two seconds.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child(Child&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
  Child& operator=(Child&& o) noexcept;
  ~Child() { Stop(); }

  // Runs argv[0] with `env` as its whole environment, standard input from
  // `stdinFd` (/dev/null when -1), standard output and error appended to
  // `log`, in `dir` when not empty.
  void Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& log,
             int stdinFd = -1, const fs::path& dir = {});
  // True while the process runs; once it ended, its wait status is in *status.
  bool Running(int* status = nullptr);
  void Stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A lighttpd in the foreground (-D) with the configuration `conf`, ready
// once `readyPath` answers on `port`; `log` takes what lighttpd itself
// prints. Throws when it does not come up within ten seconds.
void StartLighttpd(Child& proc, const fs::path& conf, int port, const std::string& readyPath, const fs::path& log);

// The lighttpd configuration of one FastCGI backend for fastcgi.server:
// `match` is an extension (".php") or a URL prefix ("/cgi-bin/WebOrvane.exe",
// whose rest becomes PATH_INFO). With `binPath` lighttpd starts `procs`
// workers on `socket` itself (their standard input is the listening
// socket); without, it connects to a socket a process manager serves.
struct FastCgiBackend {
  std::string match;
  fs::path socket;
  fs::path binPath;
  int procs = 1;
  std::map<std::string, std::string> env;  // the workers' environment
};
std::string FastCgiServer(const std::vector<FastCgiBackend>& backends);

// A whole lighttpd configuration that serves the files of `docRoot` and the
// FastCGI `backends` on 127.0.0.1:`port`, and nothing else (no CGI), with
// its error log at `errorLog`.
std::string FastCgiOnlyConf(const fs::path& docRoot, int port, const fs::path& errorLog,
                            const std::vector<FastCgiBackend>& backends);

// php-fpm with a pool of its own: `workers` static children on the unix
// socket `socket`, the environment `env`, opcache on. Its configuration and
// log go into `dir`. Throws when php-fpm is missing or does not come up.
void StartPhpFpm(Child& proc, const fs::path& dir, const fs::path& socket, int workers,
                 const std::map<std::string, std::string>& env);

// Whether `program` serves FastCGI: started as a process manager starts a
// worker (standard input a listening unix socket in `socketDir`, the
// environment `workerEnv`, in its own folder), it must stay up and answer
// one request made with `cgi-fcgi` from the CGI variables `request`.
// `answer` is what came back (CGI form: "Status: ...", headers, body); `why`
// says why not. The worker is ended before this returns.
struct FastCgiProbe {
  bool serves = false;
  std::string why, answer;
};
FastCgiProbe ProbeFastCgi(const fs::path& program, const std::vector<std::string>& request, const fs::path& socketDir,
                          const std::vector<std::string>& workerEnv = {"PATH=/usr/bin:/bin"});

// wrk on `url`: two threads, `connections` connections, `seconds` seconds.
// Errors and answers other than 2xx and 3xx are added to *problems.
struct WrkResult {
  double rps = 0, p99Ms = 0;
};
WrkResult Wrk(const std::string& url, int seconds, int connections, std::string* problems);

// One GET of `target` on 127.0.0.1:`port` over a new connection (HTTP/1.0):
// wall time, status and the whole answer (headers and body).
struct HttpResult {
  double ms = 0;
  int status = 0;
  std::string out;
};
HttpResult HttpGet(int port, const std::string& target);

}  // namespace bench
