// FastCGI workers for the tests: the program started as a process manager
// starts it (a listening Unix socket as its standard input), and requests
// sent to it as a web server sends them, one connection each.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace wo::test {

class FastCgiWorkers {
 public:
  // Starts `processes` copies of `program`, all accepting on one socket
  // at `socketPath`, with the environment `env` ("NAME=value") and the
  // working directory `cwd`. Waits until the socket accepts.
  FastCgiWorkers(const std::string& program, const std::string& socketPath, int processes = 1,
                 const std::vector<std::string>& env = {}, const std::string& cwd = "/");
  // Ends the workers (SIGTERM, then SIGKILL after five seconds).
  ~FastCgiWorkers();
  FastCgiWorkers(const FastCgiWorkers&) = delete;
  FastCgiWorkers& operator=(const FastCgiWorkers&) = delete;

  // One request: `params` (the CGI variables; an empty value is sent as
  // none) and `body`. Returns what the worker wrote to its output stream.
  // Throws std::runtime_error when the worker does not answer in full.
  std::string Request(const std::map<std::string, std::string>& params, std::string_view body = {}) const;

  const std::vector<pid_t>& pids() const { return pids_; }
  // Waits up to `seconds` for worker `i` to end; its exit status, or -1
  // when it is still running.
  int WaitExit(size_t i, double seconds);

 private:
  std::string socketPath_;
  std::vector<pid_t> pids_;
  std::vector<bool> reaped_;
};

// Whether the tests of the running binary serve their requests through
// FastCGI workers (environment WO_THROUGH=fastcgi, which ctest sets for
// the second run of the process-level tests) instead of one CGI process
// each.
bool ThroughFastCgi();

}  // namespace wo::test
