#include "frame/cgi.h"

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
