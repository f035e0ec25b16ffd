// One CGI request from process start to exit.
#pragma once

#include <exception>
#include <memory>
#include <span>

#include "frame/dispatch.h"
#include "frame/request.h"
#include "frame/response.h"

namespace wo {

// What the frame asks of a web module.
class WebModuleBase {
 public:
  virtual ~WebModuleBase() = default;
  virtual std::span<const ActionItem> Actions() = 0;
  // Called for every error that escapes an action or start-up; must not
  // throw.
  virtual void ReportException(const char* /*type*/, const std::string& /*msg*/) noexcept {}
};

// Creates the module for a request; its constructor is the create hook and
// its destructor the destroy hook. Errors thrown end the request with the
// start-up fallback output.
using ModuleFactory = std::function<std::unique_ptr<WebModuleBase>(const Request&, Response&)>;

// Builds the request from `env` and the body `read` gives, runs it, writes
// the response to `out`. Returns the process exit status (0).
int RunCgi(const Request::Env& env, const Request::BodyReader& read, const Response::Sink& out,
           const ModuleFactory& factory);
// The same with the body on file descriptor `bodyFd`.
int RunCgi(const Request::Env& env, int bodyFd, const Response::Sink& out, const ModuleFactory& factory);

// For a process that serves one request and ends, called first: the C
// library's heap takes its memory from the system in one piece, which a
// single call maps page by page (page faults cost far more on a virtual
// machine), and keeps what is freed until the process ends. Kernels before
// 5.14 leave the pages to come as they are first written.
void ReadyHeapForOneRequest();

// The name an error is reported under: "DatabaseError", "DecodeError",
// "TemplateError", "OutOfMemory" or "Exception".
const char* ErrorTypeName(const std::exception& e);

// The status-500 output of a failed start-up.
std::string StartupFailureOutput(std::string_view typeName, std::string_view message);
// The content that replaces the page when an error escapes an action.
std::string InternalErrorContent(std::string_view message, std::string_view path);

}  // namespace wo
