// The program as a FastCGI worker: started by a process manager with a
// listening socket as its standard input, it serves request after request
// through libfcgi, each one as the CGI program serves it (frame/cgi.h) and
// with the same bytes.
#pragma once

#include <functional>
#include <string>

#include "frame/request.h"
#include "frame/response.h"

namespace wo {

// Whether standard input is a socket that listens for connections (and so
// a process manager started this process as a FastCGI worker) rather than
// the body of one CGI request. One system call; never throws.
bool StandardInputListens();

// One accepted request: its parameters (the CGI variables) as a list and
// for look-ups, its body and its output stream.
struct FastCgiRequest {
  const char* const* envp;  // "NAME=value", ending in nullptr
  Request::Env env;
  Request::BodyReader read;
  Response::Sink out;
};

// Serves one request; returns false when the worker should end after it.
using FastCgiServe = std::function<bool(const FastCgiRequest&)>;

// Accepts requests on standard input and hands each to `serve`, until
// `maxRequests` have been served (0: no limit) -- then `startOver`, when
// given, starts the worker over (StartOverAs) and returns only when it
// could not; the worker then ends once no connection waits to be accepted
// (the web server has already sent it; see StopTakingConnections) --,
// `serve` says to stop,
// SIGTERM, SIGINT or SIGUSR1 arrives (a request being served is finished
// first), or the socket fails. An error that escapes `serve` is written to
// standard error and ends the worker once that request is finished, since
// the process can no longer be trusted to start the next one clean.
// Returns the exit status: 0, or 1 when the worker cannot start or ended
// on an error.
int RunFastCgi(const FastCgiServe& serve, long maxRequests, const std::function<void()>& startOver = {});

// Runs `program` (failing that, this process's own program) in this
// process with `argv` and the present environment: a worker that has
// served its number of requests starts over as a new program image while
// its listening socket, standard input, stays open. The web server finds
// the worker neither gone nor refusing (lighttpd leaves a worker that
// refused a connection out of use for a second or more, and all of them
// when they end together), and what connects meanwhile waits in the
// socket's queue for the new image. Every descriptor from 3 up is closed
// by the exec. Returns only when neither could be run, or when a signal to
// end has come: then the worker ends as it would without starting over.
void StartOverAs(const std::string& program, char** argv);

// Makes the listening socket `listenSock` refuse new connections while
// those already waiting can still be accepted (after them accept fails):
// a worker that has served its number of requests stops taking more
// before it serves what waits, so that no request reaches it after its
// last look and is reset as it ends; the web server sends a refused one
// to another worker. Only a Unix socket of the worker's own: shut, one
// that systemd hands to several workers (LISTEN_PID is this process)
// would refuse theirs too, and a TCP socket would drop what waits.
// Returns whether it did.
bool StopTakingConnections(int listenSock);

// Serves `q` by running `program` as a CGI program for it: its parameters
// as the environment, its body on standard input, the program's output
// passed on as it is. Returns false when the program could not be run
// (and nothing was written).
bool ServeThroughProgram(const std::string& program, const FastCgiRequest& q);

}  // namespace wo
