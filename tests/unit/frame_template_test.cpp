// The template tokenizer: tags, parameters, stray "<", long lines, files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "frame/page_producer.h"
#include "frame/request.h"
#include "support/site.h"

namespace wo {
namespace {

struct Recorder {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> params;
  TagHandler Handler() {
    return [this](std::string_view name, const std::vector<std::string>& p) {
      names.emplace_back(name);
      params.push_back(p);
      return "[" + std::string(name) + "]";
    };
  }
};

std::string Expand(std::string_view text) {
  Recorder r;
  return ExpandTemplate(text, r.Handler());
}

TEST(Template, TagSpellingsReachTheHandlerAlike) {
  Recorder r;
  std::string out = ExpandTemplate("<#YRITYS>|<#yritys>|< #YRITYS>|<# YRITYS >|<#YRITYS a=1 b=2>", r.Handler());
  EXPECT_EQ(out, "[YRITYS]|[yritys]|[YRITYS]|[YRITYS]|[YRITYS]");
  EXPECT_EQ(r.params[4], (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_TRUE(r.params[0].empty());
}

TEST(Template, TextOutsideTagsIsCopiedByteForByte) {
  std::string text = "<html>\r\n\t<p>\xe4\xf6\xc5 \x80 caf\xe9</p>\n  <b>x</b>\x01\x7f\xff";
  EXPECT_EQ(Expand(text), text);
  EXPECT_EQ(Expand(""), "");
}

TEST(Template, StrayLessThan) {
  EXPECT_EQ(Expand("a < b"), "a <b");
  EXPECT_EQ(Expand("a<b"), "a<b");
  EXPECT_EQ(Expand("a <\n\t b c"), "a <b c");
  EXPECT_EQ(Expand("end <"), "end <");
  EXPECT_EQ(Expand("end <   "), "end <");
  // The token after a stray "<" is copied, not scanned as a tag start.
  EXPECT_EQ(Expand("<<#A>"), "<<#A>");
  EXPECT_EQ(Expand("x <= y"), "x <= y");
}

TEST(Template, ParameterTextEndsAtFirstUnquotedGreaterThan) {
  Recorder r;
  std::string out = ExpandTemplate("<#T a=\"x>y\" b='p>q'>rest", r.Handler());
  EXPECT_EQ(out, "[T]rest");
  EXPECT_EQ(r.params[0], (std::vector<std::string>{"a=x>y", "b=p>q"}));
  // A double quote inside single quotes does not open a stretch.
  Recorder r2;
  EXPECT_EQ(ExpandTemplate("<#T a='\"'>z", r2.Handler()), "[T]z");
}

TEST(Template, ParametersAreDecodedAndDequoted) {
  Recorder r;
  ExpandTemplate("<#T x=a+b%21 y=%%  \r\n z=\"it's\"  'say+\"hi\"'>", r.Handler());
  ASSERT_EQ(r.params[0].size(), 4u);
  EXPECT_EQ(r.params[0][0], "x=a b!");
  EXPECT_EQ(r.params[0][1], "y=%");
  EXPECT_EQ(r.params[0][2], "z=it&#39;s");
  EXPECT_EQ(r.params[0][3], "say &quot;hi&quot;");
  // Only double quotes keep a space from splitting.
  Recorder r2;
  ExpandTemplate("<#T 'a b' \"c d\">", r2.Handler());
  EXPECT_EQ(r2.params[0], (std::vector<std::string>{"a", "b", "c d"}));
  try {
    Expand("<#T x=%zz>");
    FAIL();
  } catch (const DecodeError& e) {
    EXPECT_STREQ(e.what(), "Invalid URL encoded character (%zz) at position 3");
  }
}

TEST(Template, UnclosedTagTakesTheRest) {
  Recorder r;
  EXPECT_EQ(ExpandTemplate("before <#TAIL and the rest\nof it", r.Handler()), "before [TAIL]");
  // Parameters split at spaces only; a line feed inside a parameter stays.
  EXPECT_EQ(r.params[0], (std::vector<std::string>{"and", "the", "rest\nof", "it"}));
  EXPECT_EQ(Expand("x<#"), "x[]");
}

TEST(Template, ReplacementIsNotScannedAgain) {
  std::string out = ExpandTemplate("<#A> <#B>", [](std::string_view n, const std::vector<std::string>&) {
    return n == "A" ? std::string("<#B>") : std::string("b");
  });
  EXPECT_EQ(out, "<#B> b");
}

TEST(Template, TagNameIsAWordOrOneByte) {
  Recorder r;
  EXPECT_EQ(ExpandTemplate("<#PG_MENU2x><#1abc>", r.Handler()), "[PG_MENU2x][1]");
  EXPECT_EQ(r.params[1], (std::vector<std::string>{"abc"}));
}

TEST(Template, LineBufferLimit) {
  std::string ok(4095, 'a');
  ok += '\n';
  EXPECT_EQ(Expand(ok + "x"), ok + "x");
  EXPECT_EQ(Expand(std::string(4096, 'b')), std::string(4096, 'b'));  // last line, no LF
  std::string longLine = "one\ntwo\n" + std::string(4096, 'c') + "\n";
  try {
    Expand(longLine);
    FAIL();
  } catch (const TemplateError& e) {
    EXPECT_STREQ(e.what(), "Line too long on line 3");
  }
  EXPECT_THROW(Expand(std::string(4097, 'd')), TemplateError);
}

TEST(TemplateDirectory, OnlyEngSelectsEnglish) {
  for (const char* l : {"eng", "Eng", "ENG"}) EXPECT_EQ(TemplateDirectory(l), "..\\WebOrvane\\Eng\\") << l;
  for (const char* l : {"", "FIN", "fi", "SWE", "ENGLISH", "EN"})
    EXPECT_EQ(TemplateDirectory(l), "..\\WebOrvane\\Fin\\") << l;
}

TEST(PageProducer, ReadsRelativeFileWithBackslashesAndReportsMissingOnes) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("wo-tpl-" + std::to_string(::getpid()));
  fs::create_directories(dir / "www" / "cgi-bin");
  fs::create_directories(dir / "www" / "WebOrvane" / "Eng");
  std::ofstream(dir / "www" / "WebOrvane" / "Eng" / "index.html") << "Hello <#WHO>!";
  {
    test::ScopedCwd cwd((dir / "www" / "cgi-bin").string());
    PageProducer p([](std::string_view, const std::vector<std::string>&) { return std::string("world"); });
    p.SetHTMLFile("..\\WebOrvane\\Eng\\index.html");
    EXPECT_EQ(p.Content(), "Hello world!");
    p.SetHTMLFile("..\\WEBORVANE\\ENG\\INDEX.HTML");  // same name but for case: kept
    EXPECT_EQ(p.HTMLFile(), "..\\WebOrvane\\Eng\\index.html");
    // A file longer than one read, whole; lines of text without tags as
    // they are.
    std::string big;
    for (int i = 0; big.size() < 20000; ++i) big += "rivi " + std::to_string(i) + " <b>x</b>\n";
    std::ofstream(dir / "www" / "WebOrvane" / "Eng" / "big.html") << big << "<#WHO>";
    p.SetHTMLFile("..\\WebOrvane\\Eng\\big.html");
    EXPECT_EQ(p.Content(), big + "world");
    // Missing, or a folder: neither can be read.
    for (const char* name : {"omat.html", "sub"}) {
      fs::create_directories(dir / "www" / "WebOrvane" / "Eng" / "sub");
      p.SetHTMLFile(std::string("..\\WebOrvane\\Eng\\") + name);
      try {
        p.Content();
        ADD_FAILURE() << name;
      } catch (const TemplateError& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Cannot open file ..\\WebOrvane\\Eng\\") + name);
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace wo
