#include "servers.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// The absolute path of the program `name`: PATH first, then the folders of
// system programs (which a user's PATH may lack).
std::string Which(const std::string& name) {
  std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
  dirs += ":/usr/local/sbin:/usr/sbin:/sbin:/usr/local/bin:/usr/bin:/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    fs::path p = fs::path(dirs.substr(at, end - at)) / name;
    if (end > at && access(p.c_str(), X_OK) == 0) return p.string();
    at = end + 1;
  }
  return {};
}

// A value as a lighttpd configuration string.
std::string Conf(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// True once a unix socket at `path` accepts a connection.
bool Accepts(const fs::path& path) {
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// A listening unix socket at `path` (any old one removed first).
int ListenUnix(const fs::path& path) {
  sockaddr_un a{};
  if (path.string().size() >= sizeof a.sun_path) throw std::runtime_error("socket path too long: " + path.string());
  fs::remove(path);
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0)
    throw std::runtime_error("cannot listen on " + path.string());
  return s;
}

double Millis(const std::string& v) {
  double x = std::atof(v.c_str());
  if (v.find("us") != std::string::npos) return x / 1000;
  if (v.find("ms") != std::string::npos) return x;
  if (v.find('m') != std::string::npos) return x * 60000;
  return x * 1000;  // seconds
}

}  // namespace

std::string Sh(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + cmd);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  int rc = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (status) *status = rc;
  else if (rc != 0) throw std::runtime_error(cmd + " failed:\n" + out);
  return out;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// ---- processes ----------------------------------------------------------------

Child& Child::operator=(Child&& o) noexcept {
  if (this != &o) {
    Stop();
    pid_ = o.pid_;
    o.pid_ = -1;
  }
  return *this;
}

void Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& log,
                  int stdinFd, const fs::path& dir) {
  Stop();
  std::vector<char*> av, ev;
  for (const std::string& a : argv) av.push_back(const_cast<char*>(a.c_str()));
  av.push_back(nullptr);
  for (const std::string& e : env) ev.push_back(const_cast<char*>(e.c_str()));
  ev.push_back(nullptr);
  fs::create_directories(log.parent_path());
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    int in = stdinFd >= 0 ? stdinFd : open("/dev/null", O_RDONLY);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    close_range(3, ~0U, 0);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    execve(av[0], av.data(), ev.data());
    _exit(127);
  }
}

bool Child::Running(int* status) {
  if (pid_ <= 0) return false;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) == 0) return true;
  pid_ = -1;
  if (status) *status = st;
  return false;
}

void Child::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 200 && Running(); ++i) usleep(10000);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

// ---- lighttpd and php-fpm --------------------------------------------------------

void StartLighttpd(Child& proc, const fs::path& conf, int port, const std::string& readyPath, const fs::path& log) {
  std::string lighttpd = Which("lighttpd");
  if (lighttpd.empty()) throw std::runtime_error("lighttpd is not installed");
  proc.Start({lighttpd, "-D", "-f", conf.string()}, {"PATH=/usr/bin:/bin"}, log);
  for (int i = 0; i < 100; ++i) {
    int st = 0;
    Sh("curl -fsS -o /dev/null " + Quote("http://127.0.0.1:" + std::to_string(port) + readyPath) + " 2>/dev/null",
       &st);
    if (st == 0) return;
    if (!proc.Running()) break;
    usleep(100000);
  }
  throw std::runtime_error("lighttpd did not start with " + conf.string() + ":\n" + ReadFile(log));
}

std::string FastCgiServer(const std::vector<FastCgiBackend>& backends) {
  std::string c = "fastcgi.server = (\n";
  for (const FastCgiBackend& b : backends) {
    c += "  " + Conf(b.match) + " => ((\n    \"socket\" => " + Conf(b.socket.string()) + ",\n";
    // A prefix names no file: the rest of the URL is PATH_INFO.
    if (!b.match.empty() && b.match[0] == '/') c += "    \"check-local\" => \"disable\",\n";
    if (!b.binPath.empty()) {
      c += "    \"bin-path\" => " + Conf(b.binPath.string()) + ",\n";
      c += "    \"max-procs\" => " + std::to_string(b.procs) + ",\n";
      if (!b.env.empty()) {
        c += "    \"bin-environment\" => (";
        const char* sep = " ";
        for (const auto& [k, v] : b.env) {
          c += sep + Conf(k) + " => " + Conf(v);
          sep = ", ";
        }
        c += " ),\n";
      }
    }
    c += "  )),\n";
  }
  return c + ")\n";
}

std::string FastCgiOnlyConf(const fs::path& docRoot, int port, const fs::path& errorLog,
                            const std::vector<FastCgiBackend>& backends) {
  return "server.modules = ( \"mod_fastcgi\" )\nserver.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port) +
         "\nserver.document-root = " + Conf(docRoot.string()) + "\nserver.errorlog = " + Conf(errorLog.string()) +
         // Form fields in Windows-1252 are not UTF-8: the program decodes them.
         "\nserver.http-parseopts = ( \"url-normalize\" => \"disable\" )\n" + FastCgiServer(backends);
}

void StartPhpFpm(Child& proc, const fs::path& dir, const fs::path& socket, int workers,
                 const std::map<std::string, std::string>& env) {
  std::string fpm = Which("php-fpm");
  if (fpm.empty() && fs::is_directory("/usr/sbin")) {
    for (const auto& e : fs::directory_iterator("/usr/sbin")) {
      std::string name = e.path().filename().string();
      if (name.rfind("php-fpm", 0) == 0 && e.path().string() > fpm) fpm = e.path().string();
    }
  }
  if (fpm.empty()) throw std::runtime_error("php-fpm is not installed");
  std::string conf = "[global]\npid = " + (dir / "php-fpm.pid").string() + "\nerror_log = " +
                     (dir / "php-fpm.log").string() + "\ndaemonize = no\n\n[peer]\nlisten = " + socket.string() +
                     "\npm = static\npm.max_children = " + std::to_string(workers) +
                     "\nclear_env = yes\nphp_admin_value[opcache.enable] = 1\n";
  for (const auto& [k, v] : env) conf += "env[" + k + "] = " + v + "\n";
  WriteFile(dir / "php-fpm.conf", conf);
  fs::remove(socket);
  std::vector<std::string> argv{fpm, "-F", "-y", (dir / "php-fpm.conf").string()};
  if (geteuid() == 0) argv.push_back("-R");  // the pool runs as root only when told so
  proc.Start(argv, {"PATH=/usr/bin:/bin"}, dir / "php-fpm.out");
  for (int i = 0; i < 100; ++i) {
    if (fs::exists(socket) && Accepts(socket)) return;
    if (!proc.Running()) break;
    usleep(100000);
  }
  throw std::runtime_error("php-fpm did not start:\n" + ReadFile(dir / "php-fpm.log") + ReadFile(dir / "php-fpm.out"));
}

// ---- FastCGI probe ------------------------------------------------------------------

FastCgiProbe ProbeFastCgi(const fs::path& program, const std::vector<std::string>& request, const fs::path& socketDir,
                          const std::vector<std::string>& workerEnv) {
  FastCgiProbe p;
  const std::string cgiFcgi = Which("cgi-fcgi");
  if (cgiFcgi.empty()) {
    p.why = "cgi-fcgi (libfcgi-bin) is not installed to ask it";
    return p;
  }
  const fs::path sock = socketDir / "probe.sock";
  const fs::path log = socketDir / "probe.log";
  fs::remove(log);
  int listener = ListenUnix(sock);
  Child worker;
  worker.Start({program.string()}, workerEnv, log, listener, program.parent_path());
  close(listener);  // the socket lives on in the worker alone

  auto ended = [&](int st) {
    if (WIFEXITED(st)) return "exit status " + std::to_string(WEXITSTATUS(st));
    return "signal " + std::to_string(WIFSIGNALED(st) ? WTERMSIG(st) : 0);
  };
  int st = 0;
  for (int i = 0; i < 50; ++i) {
    if (!worker.Running(&st)) {
      p.why = "started with a listening socket as its standard input, it ended at once (" + ended(st) + ")";
      fs::remove(sock);
      return p;
    }
    usleep(10000);
  }
  std::string cmd = "env -i";
  for (const std::string& e : request) cmd += " " + Quote(e);
  cmd += " timeout 10 " + Quote(cgiFcgi) + " -bind -connect " + Quote(sock.string()) + " </dev/null 2>/dev/null";
  int rc = 0;
  p.answer = Sh(cmd, &rc);
  if (rc != 0 || p.answer.empty()) {
    p.why = rc == 124 ? "no answer to a FastCGI request within 10 s"
                      : "no answer to a FastCGI request (cgi-fcgi exit status " + std::to_string(rc) + ")";
    if (!worker.Running(&st)) p.why += "; the worker ended (" + ended(st) + ")";
  } else {
    p.serves = true;
  }
  worker.Stop();
  fs::remove(sock);
  return p;
}

// ---- clients ------------------------------------------------------------------------

WrkResult Wrk(const std::string& url, int seconds, int connections, std::string* problems) {
  std::string out = Sh("wrk -t2 -c" + std::to_string(connections) + " -d" + std::to_string(seconds) +
                       "s --latency --timeout 10s " + Quote(url) + " 2>&1");
  WrkResult r;
  size_t at = out.find("Requests/sec:");
  if (at != std::string::npos) r.rps = std::atof(out.c_str() + at + 13);
  at = out.find("Latency Distribution");
  if (at != std::string::npos) at = out.find("99%", at);
  if (at != std::string::npos) {
    size_t v = out.find_first_not_of(" \t", at + 3);
    size_t e = out.find_first_of(" \t\r\n", v);
    if (v != std::string::npos) r.p99Ms = Millis(out.substr(v, e - v));
  }
  if (out.find("Non-2xx") != std::string::npos || out.find("Socket errors") != std::string::npos || r.rps <= 0)
    *problems += "wrk " + url + ":\n" + out;
  return r;
}

HttpResult HttpGet(int port, const std::string& target) {
  HttpResult r;
  auto t0 = Clock::now();
  int s = socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{30, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
  }
  const std::string req = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  for (size_t done = 0; done < req.size();) {
    ssize_t w = send(s, req.data() + done, req.size() - done, MSG_NOSIGNAL);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  char buf[65536];
  ssize_t n;
  while ((n = recv(s, buf, sizeof buf, 0)) > 0) r.out.append(buf, static_cast<size_t>(n));
  close(s);
  r.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  if (r.out.rfind("HTTP/1.", 0) == 0 && r.out.size() > 12) r.status = std::atoi(r.out.c_str() + 9);
  return r;
}

}  // namespace bench
