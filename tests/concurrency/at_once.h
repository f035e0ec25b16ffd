// Many requests to the installed program released at the same instant:
// as CGI processes, or through FastCGI workers where the tests run that
// way (ThroughFastCgi).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/fastcgi_client.h"
#include "support/site.h"

namespace wo::test {

// Runs one CGI request per query, all at once: every child is forked first
// and waits on a pipe, and closing the pipe releases them together. Returns
// the answers in query order.
inline std::vector<CgiResult> RunAtOnce(const TempSite& site, std::string_view path, const std::vector<std::string>& queries) {
  const std::string prog = site.program();
  const std::string cwd = site.cgiDir();
  const size_t n = queries.size();
  // Everything the children need is built before the first fork.
  std::vector<std::vector<std::string>> envs(n);
  std::vector<std::vector<char*>> envps(n);
  std::vector<std::string> outFiles(n);
  for (size_t i = 0; i < n; ++i) {
    envs[i] = {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET", "PATH_INFO=" + std::string(path),
               "QUERY_STRING=" + queries[i], "REMOTE_ADDR=127.0.0.1"};
    for (std::string& e : envs[i]) envps[i].push_back(e.data());
    envps[i].push_back(nullptr);
    outFiles[i] = site.root() + "/answer-" + std::to_string(i);
  }
  std::vector<char> progBuf(prog.begin(), prog.end());
  progBuf.push_back('\0');
  char* argv[] = {progBuf.data(), nullptr};

  int gate[2];
  if (pipe(gate) != 0) throw std::runtime_error("pipe failed");
  std::vector<pid_t> pids;
  for (size_t i = 0; i < n; ++i) {
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      close(gate[1]);
      char c;
      while (read(gate[0], &c, 1) > 0) {
      }
      int out = open(outFiles[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open("/dev/null", O_RDONLY);
      if (out < 0 || in < 0 || chdir(cwd.c_str()) != 0) _exit(126);
      dup2(out, 1);
      dup2(in, 0);
      execve(argv[0], argv, envps[i].data());
      _exit(127);
    }
    pids.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);  // go
  for (pid_t pid : pids) {
    int st = 0;
    waitpid(pid, &st, 0);
  }
  std::vector<CgiResult> answers;
  for (const std::string& f : outFiles) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    answers.push_back(ParseCgiOutput(ss.str()));
  }
  return answers;
}

// The same through FastCGI: four workers accept on one socket (as
// spawn-fcgi starts them), and every request has a connection of its own,
// all sent at once. Each worker serves its share one after the other on
// the connection it keeps.
inline std::vector<CgiResult> RunAtOnceThroughFastCgi(const TempSite& site, std::string_view path,
                                               const std::vector<std::string>& queries) {
  FastCgiWorkers workers(site.program(), site.root() + "/pool.sock", 4, {}, site.cgiDir());
  std::vector<std::string> raw(queries.size());
  std::atomic<size_t> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> clients;
  for (size_t i = 0; i < queries.size(); ++i)
    clients.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      raw[i] = workers.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", "GET"},
                                {"PATH_INFO", std::string(path)}, {"QUERY_STRING", queries[i]},
                                {"REMOTE_ADDR", "127.0.0.1"}});
    });
  while (ready < queries.size()) std::this_thread::yield();
  go = true;
  for (std::thread& t : clients) t.join();
  std::vector<CgiResult> answers;
  for (std::string& r : raw) answers.push_back(ParseCgiOutput(std::move(r)));
  return answers;
}

inline std::vector<CgiResult> RunAllAtOnce(const TempSite& site, std::string_view path,
                                    const std::vector<std::string>& queries) {
  return ThroughFastCgi() ? RunAtOnceThroughFastCgi(site, path, queries) : RunAtOnce(site, path, queries);
}

}  // namespace wo::test
