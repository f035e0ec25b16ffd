#include "frame/cgi.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <typeinfo>

#include "base/errors.h"
#include "frame/html.h"

namespace wo {

namespace {

std::string NoLineBreaks(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\r' || c == '\n') c = ' ';
  return r;
}

}  // namespace

void ReadyHeapForOneRequest() {
// A sanitized build keeps its own allocator, whose every allocation the
// sanitizer watches.
#if !defined(__SANITIZE_ADDRESS__) && defined(MADV_POPULATE_WRITE)
  // What a request takes of the heap: the strings of a large page and
  // SQLite's 256 KB blocks, which the threshold keeps in the heap rather
  // than in mappings of their own.
  constexpr size_t kReady = 512 * 1024;
  constexpr int kOwnMappingFrom = 1024 * 1024;
  mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
  mallopt(M_TRIM_THRESHOLD, INT32_MAX);  // freed memory is kept: the process ends soon
  void* block = std::malloc(kReady);
  if (!block) return;
  constexpr uintptr_t kPage = 4096;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + kReady) & ~(kPage - 1);
  madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
  std::free(block);
#endif
}

const char* ErrorTypeName(const std::exception& e) {
  if (dynamic_cast<const store::DatabaseError*>(&e)) return "DatabaseError";
  if (dynamic_cast<const DecodeError*>(&e)) return "DecodeError";
  if (dynamic_cast<const TemplateError*>(&e)) return "TemplateError";
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "OutOfMemory";
  return "Exception";
}

std::string StartupFailureOutput(std::string_view typeName, std::string_view message) {
  std::string body = "<html><title>Internal Server Error 500</title>\r\n"
                     "<h1>Internal Server Error 500</h1><hr>\r\n"
                     "Exception: " + HtmlEscape(typeName) + "<br>\r\n"
                     "Message: " + HtmlEscape(message) + "<br></html>\r\n";
  std::string out = "Status: 500 " + NoLineBreaks(message) + "\r\n";
  out += "Content-Type: text/html\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "Content:\r\n\r\n";
  out += body;
  return out;
}

std::string InternalErrorContent(std::string_view message, std::string_view path) {
  return "<h1>Internal Application Error</h1>\r\n<p>" + HtmlEscape(message) +
         "\r\n<p><hr width=\"100%\"><i>" + HtmlEscape(path) + "</i>";
}

namespace {

// One request, built: the module made, the action dispatched, the response
// written, the module ended.
int Serve(const Request& req, const Response::Sink& out, const ModuleFactory& factory) {
  Response resp(out, !req.protocol().empty());

  std::unique_ptr<WebModuleBase> module;
  try {
    module = factory(req, resp);
  } catch (const std::exception& e) {
    out(StartupFailureOutput(ErrorTypeName(e), e.what()));
    return 0;
  } catch (...) {
    out(StartupFailureOutput("Exception", "Unknown error"));
    return 0;
  }

  bool handled = true;
  try {
    handled = Dispatch(module->Actions(), req, resp) >= 0;
  } catch (const std::exception& e) {
    module->ReportException(ErrorTypeName(e), e.what());
    resp.SetContent(InternalErrorContent(e.what(), req.path()));
    if (!resp.sent()) resp.SetStatus(500);
  } catch (...) {
    module->ReportException("Exception", "Unknown error");
    resp.SetContent(InternalErrorContent("Unknown error", req.path()));
    if (!resp.sent()) resp.SetStatus(500);
  }
  if (handled) resp.Send();
  module.reset();  // the destroy hook; it must not throw
  return 0;
}

}  // namespace

int RunCgi(const Request::Env& env, int bodyFd, const Response::Sink& out, const ModuleFactory& factory) {
  return Serve(Request::FromCgi(env, bodyFd), out, factory);
}

int RunCgi(const Request::Env& env, const Request::BodyReader& read, const Response::Sink& out,
           const ModuleFactory& factory) {
  return Serve(Request::FromCgi(env, read), out, factory);
}

}  // namespace wo
