#include "frame/fastcgi.h"

#include <dirent.h>
#include <fcgiapp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace wo {

namespace {

// Set by SIGTERM, SIGINT and SIGUSR1: the worker ends once the request
// being served (if any) is finished.
volatile sig_atomic_t endRequested = 0;

void OnEndSignal(int) {
  endRequested = 1;
  FCGX_ShutdownPending();
}

// The signals that end the worker.
sigset_t EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1}) sigaddset(&set, sig);
  return set;
}

// A signal to end interrupts the wait for a request (libfcgi's accept
// then gives up, having been told of the shutdown), and the worker ends
// the ordinary way: its connection closed, the database's log moved into
// the database.
void CatchEndSignals() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnEndSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  for (int sig : {SIGTERM, SIGINT, SIGUSR1}) sigaction(sig, &sa, nullptr);
}

// While the worker serves, the signals to end wait (blocked), so that
// nothing the request does is cut short; one that came meanwhile arrives
// when the worker waits again.
void HoldEndSignals(bool hold) {
  const sigset_t set = EndSignals();
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// Whether a connection waits on `listenSock` to be accepted. A worker
// that has served its number of requests still serves those: the web
// server has sent them to it, and they would be lost (reset) with it.
bool Waiting(int listenSock) {
  pollfd p{listenSock, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace

bool StopTakingConnections(int listenSock) {
  sockaddr_storage addr;
  socklen_t len = sizeof addr;
  if (getsockname(listenSock, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.ss_family != AF_UNIX)
    return false;
  const char* owner = std::getenv("LISTEN_PID");
  if (owner && std::strtol(owner, nullptr, 10) == static_cast<long>(getpid())) return false;
  return shutdown(listenSock, SHUT_RD) == 0;
}

bool StandardInputListens() {
  sockaddr_storage peer;
  socklen_t len = sizeof peer;
  return getpeername(0, reinterpret_cast<sockaddr*>(&peer), &len) != 0 && errno == ENOTCONN;
}

void StartOverAs(const std::string& program, char** argv) {
  // A signal to end that came while the last request was served arrives
  // now, and the worker ends instead.
  HoldEndSignals(false);
  if (endRequested) return;
  // One that comes from here on waits, through the exec, until the new
  // image waits for a request.
  HoldEndSignals(true);
  // Nothing but the standard three goes on into the new image.
  if (DIR* d = opendir("/proc/self/fd")) {
    const int own = dirfd(d);
    while (const dirent* e = readdir(d)) {
      const int fd = std::atoi(e->d_name);
      if (fd > 2 && fd != own) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
    closedir(d);
  }
  execv(program.c_str(), argv);
  execv("/proc/self/exe", argv);
}

int RunFastCgi(const FastCgiServe& serve, long maxRequests, const std::function<void()>& startOver) {
  if (FCGX_Init() != 0) {
    std::fputs("WebOrvane: the FastCGI library cannot start\n", stderr);
    return 1;
  }
  // A client gone away fails the write, not the worker.
  signal(SIGPIPE, SIG_IGN);
  FCGX_Request r;
  if (FCGX_InitRequest(&r, 0, 0) != 0) {
    std::fputs("WebOrvane: the FastCGI library cannot start\n", stderr);
    return 1;
  }
  int status = 0;
  long served = 0;
  bool more = true;
  CatchEndSignals();
  bool refusing = false;  // StopTakingConnections: accept ends with what waits
  while (more) {
    if (maxRequests > 0 && served >= maxRequests) {
      if (startOver && served == maxRequests) startOver();  // returns when it could not
      if (!refusing) refusing = StopTakingConnections(r.listen_sock);
      if (!refusing && !Waiting(r.listen_sock)) break;
    }
    HoldEndSignals(false);
    if (endRequested) break;
    const int accepted = FCGX_Accept_r(&r);
    HoldEndSignals(true);
    if (accepted < 0) break;
    FastCgiRequest q;
    q.envp = r.envp;
    q.env = [&r](const std::string& name) {
      const char* v = FCGX_GetParam(name.c_str(), r.envp);
      return v ? std::string(v) : std::string();
    };
    q.read = [&r](char* buf, size_t n) -> long {
      return FCGX_GetStr(buf, static_cast<int>(n > 1 << 20 ? 1 << 20 : n), r.in);
    };
    q.out = [&r](std::string_view bytes) { FCGX_PutStr(bytes.data(), static_cast<int>(bytes.size()), r.out); };
    try {
      more = serve(q);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "WebOrvane: the FastCGI worker ends after an error: %s\n", e.what());
      more = false;
      status = 1;
    } catch (...) {
      std::fputs("WebOrvane: the FastCGI worker ends after an unknown error\n", stderr);
      more = false;
      status = 1;
    }
    FCGX_Finish_r(&r);
    ++served;
    if (endRequested) break;
  }
  // The worker takes no more connections: its listening socket is closed
  // before anything else ends, so that from here on the web server finds
  // it gone at once (and starts another worker) rather than queueing a
  // request on it that would be reset when the process ends.
  close(r.listen_sock);
  HoldEndSignals(false);
  FCGX_Free(&r, 0);
  return status;
}

bool ServeThroughProgram(const std::string& program, const FastCgiRequest& q) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // The program starts with the signals to end as they come.
    HoldEndSignals(false);
    dup2(in[0], 0);
    dup2(out[1], 1);
    execve(program.c_str(), std::array<char*, 2>{const_cast<char*>(program.c_str()), nullptr}.data(),
           const_cast<char* const*>(q.envp));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid < 0) {
    close(in[1]);
    close(out[0]);
    return false;
  }
  // The program reads the whole body before it writes a byte.
  char buf[65536];
  long n;
  bool writing = true;
  while ((n = q.read(buf, sizeof buf)) > 0 && writing) {
    for (long done = 0; done < n;) {
      const ssize_t w = write(in[1], buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        writing = false;  // it has stopped reading
        break;
      }
      done += w;
    }
  }
  close(in[1]);
  std::string answer;
  ssize_t got;
  while ((got = read(out[0], buf, sizeof buf)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    answer.append(buf, static_cast<size_t>(got));
  }
  close(out[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  if (answer.empty() && WIFEXITED(st) && WEXITSTATUS(st) == 127) return false;
  q.out(answer);
  return true;
}

}  // namespace wo
