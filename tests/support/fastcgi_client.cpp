#include "support/fastcgi_client.h"

#include <fastcgi.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace wo::test {

namespace {

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) throw std::runtime_error("socket path too long: " + path);
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  return a;
}

int Connect(const std::string& path) {
  const sockaddr_un a = AddressOf(path);
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error("socket failed");
  if (connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

void Record(std::string& out, unsigned char type, std::string_view content) {
  do {
    const size_t n = std::min<size_t>(content.size(), 0xfff8);
    const unsigned char h[FCGI_HEADER_LEN] = {FCGI_VERSION_1, type, 0, 1, static_cast<unsigned char>(n >> 8),
                                              static_cast<unsigned char>(n & 0xff), 0, 0};
    out.append(reinterpret_cast<const char*>(h), sizeof h);
    out.append(content.substr(0, n));
    content.remove_prefix(n);
  } while (!content.empty());
}

void Length(std::string& out, size_t n) {
  if (n < 128) {
    out += static_cast<char>(n);
  } else {
    out += static_cast<char>(0x80 | ((n >> 24) & 0x7f));
    out += static_cast<char>((n >> 16) & 0xff);
    out += static_cast<char>((n >> 8) & 0xff);
    out += static_cast<char>(n & 0xff);
  }
}

bool ReadFull(int s, char* p, size_t n) {
  while (n > 0) {
    const ssize_t got = read(s, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

bool ThroughFastCgi() {
  const char* v = std::getenv("WO_THROUGH");
  return v && std::string(v) == "fastcgi";
}

FastCgiWorkers::FastCgiWorkers(const std::string& program, const std::string& socketPath, int processes,
                               const std::vector<std::string>& env, const std::string& cwd)
    : socketPath_(socketPath) {
  unlink(socketPath.c_str());
  const sockaddr_un a = AddressOf(socketPath);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      listen(listener, 128) != 0)
    throw std::runtime_error("cannot listen on " + socketPath);
  std::vector<std::string> envCopy = env;
  std::vector<char*> envp;
  for (std::string& e : envCopy) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string prog = program;
  char* argv[] = {prog.data(), nullptr};
  for (int i = 0; i < processes; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(listener, 0);
      if (listener != 0) close(listener);
      const int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      execve(argv[0], argv, envp.data());
      _exit(127);
    }
    if (pid < 0) break;
    pids_.push_back(pid);
    reaped_.push_back(false);
  }
  close(listener);
  for (int i = 0; i < 500; ++i) {  // the socket listens from the start; a worker takes it up
    const int s = Connect(socketPath);
    if (s >= 0) {
      close(s);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("the FastCGI workers on " + socketPath + " do not accept");
}

FastCgiWorkers::~FastCgiWorkers() {
  for (size_t i = 0; i < pids_.size(); ++i)
    if (!reaped_[i]) kill(pids_[i], SIGTERM);
  for (size_t i = 0; i < pids_.size(); ++i)
    if (WaitExit(i, 5) < 0 && !reaped_[i]) {
      kill(pids_[i], SIGKILL);
      waitpid(pids_[i], nullptr, 0);
    }
  unlink(socketPath_.c_str());
}

int FastCgiWorkers::WaitExit(size_t i, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  do {
    int st = 0;
    if (reaped_[i]) return 0;
    if (waitpid(pids_[i], &st, WNOHANG) == pids_[i]) {
      reaped_[i] = true;
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < until);
  return -1;
}

std::string FastCgiWorkers::Request(const std::map<std::string, std::string>& params, std::string_view body) const {
  std::string msg;
  const unsigned char begin[8] = {0, FCGI_RESPONDER, 0, 0, 0, 0, 0, 0};
  Record(msg, FCGI_BEGIN_REQUEST, std::string_view(reinterpret_cast<const char*>(begin), sizeof begin));
  std::string pairs;
  for (const auto& [name, value] : params) {
    if (value.empty()) continue;
    Length(pairs, name.size());
    Length(pairs, value.size());
    pairs += name;
    pairs += value;
  }
  if (!pairs.empty()) Record(msg, FCGI_PARAMS, pairs);
  Record(msg, FCGI_PARAMS, {});
  if (!body.empty()) Record(msg, FCGI_STDIN, body);
  Record(msg, FCGI_STDIN, {});

  const int s = Connect(socketPath_);
  if (s < 0) throw std::runtime_error("cannot connect to the FastCGI workers on " + socketPath_);
  for (size_t done = 0; done < msg.size();) {
    const ssize_t w = send(s, msg.data() + done, msg.size() - done, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  std::string out;
  for (;;) {
    char h[FCGI_HEADER_LEN];
    if (!ReadFull(s, h, sizeof h)) {
      close(s);
      throw std::runtime_error("the FastCGI worker closed the connection before the end of its answer:\n" + out);
    }
    const size_t n = (static_cast<unsigned char>(h[4]) << 8) | static_cast<unsigned char>(h[5]);
    std::string content(n + static_cast<unsigned char>(h[6]), '\0');
    if (!ReadFull(s, content.data(), content.size())) {
      close(s);
      throw std::runtime_error("the FastCGI worker broke off a record");
    }
    content.resize(n);
    if (h[1] == FCGI_STDOUT) out += content;
    if (h[1] == FCGI_END_REQUEST) break;
  }
  close(s);
  return out;
}

}  // namespace wo::test
