// The installed program run as a web server runs it, output compared byte
// for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/site.h"

namespace wo {
namespace {

using test::TempSite;

std::string Headers(size_t length) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(length) +
         "\r\nContent:\r\n\r\n";
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site.WriteTemplate("Fin", "index.html", "<p>Etusivu \xe4\xf6</p>");
    site.WriteTemplate("Eng", "index.html", "<p>Start page</p>");
  }
  TempSite site;
};

TEST_F(ProgramTest, PageOfTheDefaultActionForUnknownPaths) {
  const std::string fin = "<p>Etusivu \xe4\xf6</p>";
  for (const char* path : {"/Index", "", "/", "/Foo", "/Viikko/", "/RecOk", "/INDEX"}) {
    test::CgiResult r = site.Run(path, "");
    EXPECT_EQ(r.raw, Headers(fin.size()) + fin) << path;
  }
  test::CgiResult eng = site.Run("/foo", "Lang=Eng");
  EXPECT_EQ(eng.raw, Headers(17) + "<p>Start page</p>");
}

TEST_F(ProgramTest, WithoutServerProtocolOnlyTheContentIsWritten) {
  test::CgiResult r = site.Run("/Index", "Lang=eng", {{"SERVER_PROTOCOL", ""}});
  EXPECT_EQ(r.raw, "<p>Start page</p>");
}

TEST_F(ProgramTest, EmptyPageHasNoContentLength) {
  site.WriteTemplate("Fin", "index.html", "");
  EXPECT_EQ(site.Run("/Index", "").raw, "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
}

TEST_F(ProgramTest, BadQueryGivesInternalApplicationError) {
  test::CgiResult r = site.Run("/Index", "Lang=%4");
  EXPECT_EQ(r.status, 500);
  std::string body = "<h1>Internal Application Error</h1>\r\n"
                     "<p>Error decoding URL style (%XX) encoded string at position 6\r\n"
                     "<p><hr width=\"100%\"><i>/Index</i>";
  EXPECT_EQ(r.raw, "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
}

TEST_F(ProgramTest, MissingTemplateNamesTheFile) {
  test::CgiResult r = site.Run("/Omat", "Lang=Eng&ID=0");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("<p>Cannot open file ..\\WebOrvane\\Eng\\omat.html\r\n"), std::string::npos) << r.raw;
  EXPECT_NE(r.body.find("<i>/Omat</i>"), std::string::npos);
}

TEST_F(ProgramTest, UnreachableDatabaseGivesTheStartupFallback) {
  std::filesystem::remove(site.dbFile());
  for (const char* protocol : {"HTTP/1.1", ""}) {
    test::CgiResult r = site.Run("/Index", "", {{"SERVER_PROTOCOL", protocol}});
    ASSERT_EQ(r.raw.rfind("Status: 500 ", 0), 0u) << r.raw;
    std::string first = r.raw.substr(0, r.raw.find("\r\n"));
    EXPECT_NE(first.find("VELMORI.db"), std::string::npos) << first;
    EXPECT_NE(r.raw.find("\r\nContent-Type: text/html\r\nContent-Length: "), std::string::npos);
    EXPECT_NE(r.raw.find("\r\nContent:\r\n\r\n<html><title>Internal Server Error 500</title>\r\n"
                         "<h1>Internal Server Error 500</h1><hr>\r\nException: DatabaseError<br>\r\nMessage: "),
              std::string::npos)
        << r.raw;
    size_t len = test::ParseCgiOutput(r.raw).body.size();
    EXPECT_NE(r.raw.find("Content-Length: " + std::to_string(len) + "\r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace wo
