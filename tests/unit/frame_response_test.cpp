// The CGI output byte for byte: status lines, headers, redirects and both
// status-500 outputs, through RunCgi with test modules.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <map>

#include "frame/cgi.h"

namespace wo {
namespace {

using Env = std::map<std::string, std::string>;

// A module whose single action runs `body`.
class TestModule : public WebModuleBase {
 public:
  using Body = std::function<void(const Request&, Response&, bool&)>;
  TestModule(Body body, std::vector<std::string>* reports) : reports_(reports) {
    ActionItem root;
    root.name = "WebActRoot";
    root.path = "/Index";
    root.isDefault = true;
    root.handler = std::move(body);
    actions_.push_back(std::move(root));
  }
  std::span<const ActionItem> Actions() override { return actions_; }
  void ReportException(const char* type, const std::string& msg) noexcept override {
    if (reports_) reports_->push_back(std::string(type) + ": " + msg);
  }

 private:
  std::vector<ActionItem> actions_;
  std::vector<std::string>* reports_;
};

std::string Serve(const Env& env, TestModule::Body body, std::vector<std::string>* reports = nullptr,
                  bool failStartup = false) {
  std::string out;
  int devnull = open("/dev/null", O_RDONLY);
  RunCgi([&](const std::string& n) {
           auto it = env.find(n);
           return it == env.end() ? std::string() : it->second;
         },
         devnull, [&](std::string_view b) { out.append(b); },
         [&](const Request&, Response&) -> std::unique_ptr<WebModuleBase> {
           if (failStartup) throw std::runtime_error("Cannot connect\r\nto server");
           return std::make_unique<TestModule>(body, reports);
         });
  close(devnull);
  return out;
}

const Env kHttp = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/Index"}};

TEST(CgiOutput, PageWithStatusTypeLengthAndContentLine) {
  std::string out = Serve(kHttp, [](const Request&, Response& r, bool&) { r.SetContent("<p>hi</p>"); });
  EXPECT_EQ(out,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\nContent:\r\n\r\n<p>hi</p>");
}

TEST(CgiOutput, EmptyPageHasNoContentLength) {
  std::string out = Serve(kHttp, [](const Request&, Response&, bool&) {});
  EXPECT_EQ(out, "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
}

TEST(CgiOutput, NoHeadersWithoutProtocol) {
  Env env = {{"PATH_INFO", "/Index"}};
  EXPECT_EQ(Serve(env, [](const Request&, Response& r, bool&) { r.SetContent("body"); }), "body");
}

TEST(CgiOutput, RedirectIsWrittenOnceWithItsExactBody) {
  std::string out = Serve(kHttp, [](const Request&, Response& r, bool&) {
    r.SendRedirect("/cgi-bin/WebOrvane.exe/index?Lang=Eng");
    r.SetContent("ignored after sending");
    r.Send();
  });
  const std::string body =
      "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
      "This Object may be found <a HREF=\"/cgi-bin/WebOrvane.exe/index?Lang=Eng\">here.</a><br>\r\n"
      "<br></body></html>\r\n";
  EXPECT_EQ(out, "Status: 302 Moved Temporarily\r\nLocation: /cgi-bin/WebOrvane.exe/index?Lang=Eng\r\n"
                 "Content-Type: text/html\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
}

TEST(CgiOutput, LocationCannotSplitTheHeader) {
  std::string out = Serve(kHttp, [](const Request&, Response& r, bool&) { r.SendRedirect("/x\r\nSet-Cookie: a=b"); });
  EXPECT_NE(out.find("Location: /x%0D%0ASet-Cookie: a=b\r\n"), std::string::npos);
  std::string headers = out.substr(0, out.find("\r\n\r\n"));
  EXPECT_EQ(headers.find("\r\nSet-Cookie"), std::string::npos);
}

TEST(CgiOutput, ErrorInActionGivesInternalApplicationError) {
  std::vector<std::string> reports;
  Env env = kHttp;
  env["PATH_INFO"] = "/Viikko";
  env["QUERY_STRING"] = "a=%zz";
  std::string out = Serve(env, [](const Request& q, Response& r, bool&) {
    r.SetContent("half a page");
    q.Field("Lang");
  }, &reports);
  std::string body = "<h1>Internal Application Error</h1>\r\n<p>Invalid URL encoded character (%zz) at position 3"
                     "\r\n<p><hr width=\"100%\"><i>/Viikko</i>";
  EXPECT_EQ(out, "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "DecodeError: Invalid URL encoded character (%zz) at position 3");
}

TEST(CgiOutput, ErrorAfterRedirectWritesNothingMore) {
  std::string out = Serve(kHttp, [](const Request&, Response& r, bool&) {
    r.SendRedirect("/a");
    throw std::runtime_error("late");
  });
  EXPECT_EQ(out.find("Internal Application Error"), std::string::npos);
  EXPECT_EQ(out.rfind("Status:"), 0u);
}

TEST(CgiOutput, RequestPathIsEscapedInTheErrorPage) {
  Env env = kHttp;
  env["PATH_INFO"] = "/<script>";
  std::string out = Serve(env, [](const Request&, Response&, bool&) { throw std::runtime_error("boom"); });
  EXPECT_NE(out.find("<i>/&lt;script&gt;</i>"), std::string::npos);
}

TEST(CgiOutput, StartupFailureFallbackAlsoWithoutProtocol) {
  const std::string body =
      "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: Exception<br>\r\nMessage: Cannot connect\r\nto server<br></html>\r\n";
  const std::string expected = "Status: 500 Cannot connect  to server\r\nContent-Type: text/html\r\n"
                               "Content-Length: " + std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
  EXPECT_EQ(Serve(kHttp, nullptr, nullptr, true), expected);
  EXPECT_EQ(Serve({{"PATH_INFO", "/Index"}}, nullptr, nullptr, true), expected);
}

TEST(CgiRequest, EnvironmentFallbacksAndBody) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "a=1&b=2EXTRA", 12), 12);
  close(fds[1]);
  // Client headers (HTTP_REMOTE_*) never stand in for the server's
  // REMOTE_HOST and REMOTE_ADDR.
  Env env = {{"HTTP_PATH_INFO", "/Login"}, {"QUERY_STRING", "x=1"}, {"CONTENT_LENGTH", "7"},
             {"HTTP_REMOTE_ADDR", "10.0.0.1"}, {"HTTP_REMOTE_HOST", "forged.example"}};
  Request r = Request::FromCgi([&](const std::string& n) {
    auto it = env.find(n);
    return it == env.end() ? std::string() : it->second;
  }, fds[0]);
  close(fds[0]);
  EXPECT_EQ(r.path(), "/Login");
  EXPECT_EQ(r.remoteAddr(), "");
  EXPECT_EQ(r.remoteHost(), "");
  EXPECT_EQ(r.contentLength(), 7);
  EXPECT_EQ(r.body(), "a=1&b=2");
  EXPECT_EQ(r.Field("a"), "");  // the body is never parsed
  EXPECT_EQ(r.Field("x"), "1");
}

TEST(CgiRequest, ContentLengthRules) {
  for (auto [value, expected] : std::vector<std::pair<std::string, long long>>{
           {"", -1}, {"abc", -1}, {"12x", -1}, {"0", 0}, {"-5", -5}, {"42", 42}}) {
    Env env = {{"CONTENT_LENGTH", value}};
    int devnull = open("/dev/null", O_RDONLY);
    Request r = Request::FromCgi([&](const std::string& n) {
      auto it = env.find(n);
      return it == env.end() ? std::string() : it->second;
    }, devnull);
    close(devnull);
    EXPECT_EQ(r.contentLength(), expected) << value;
    EXPECT_EQ(r.body(), "");  // nothing to read from /dev/null, and no hang
  }
}

}  // namespace
}  // namespace wo
