// Query-field splitting and decoding, field lookup and dispatch.
#include <gtest/gtest.h>

#include "frame/dispatch.h"
#include "frame/request.h"

namespace wo {
namespace {

Request Q(std::string query) { return Request("GET", "/Index", std::move(query)); }

TEST(QueryFields, FirstFieldWinsAndValueKeepsEquals) {
  EXPECT_EQ(Q("a=1&a=2").Field("a"), "1");
  EXPECT_EQ(Q("a=b=c").Field("a"), "b=c");
  Request noEq = Q("a");
  EXPECT_EQ(noEq.Field("a"), "");
  EXPECT_EQ(noEq.FieldCount(), 1);
}

TEST(QueryFields, LookupIgnoresCase) {
  Request a = Q("Lang=Eng&ID=0"), b = Q("lang=Eng&id=0");
  EXPECT_EQ(a.Field("LANG"), "Eng");
  EXPECT_EQ(b.Field("LANG"), "Eng");
  EXPECT_EQ(a.Field("ID"), "0");
  EXPECT_EQ(b.Field("Id"), "0");
  EXPECT_EQ(a.Field("Missing"), "");
}

TEST(QueryFields, Decoding) {
  EXPECT_EQ(Q("a=x+y%2Bz").Field("a"), "x y+z");
  EXPECT_EQ(Q("a=%41").Field("a"), "A");
  EXPECT_EQ(Q("a=%%").Field("a"), "%");
  EXPECT_EQ(Q("a=%e4%C4").Field("a"), "\xe4\xc4");
  // Decoding comes after splitting: an encoded "&" stays in the value.
  Request r = Q("a=x%26b=y&c=1");
  EXPECT_EQ(r.Field("a"), "x&b=y");
  EXPECT_EQ(r.FieldCount(), 2);
}

TEST(QueryFields, SplittingRules) {
  EXPECT_EQ(Q("").FieldCount(), 0);
  EXPECT_EQ(Q("&&a=1&&").FieldCount(), 1);
  // CR and LF end a field; leading ones are skipped.
  Request crlf = Q("\r\na=1\r\nb=2\nc=3");
  EXPECT_EQ(crlf.FieldCount(), 3);
  EXPECT_EQ(crlf.Field("b"), "2");
  // A field opening with a quote loses its quotes; "&" inside stays.
  Request quoted = Q("\"a=x&y\"&b=2");
  EXPECT_EQ(quoted.Field("a"), "x&y");
  EXPECT_EQ(quoted.Field("b"), "2");
  // A quote inside a field stays with its closing quote.
  EXPECT_EQ(Q("a=\"x&y\"&b=2").Field("a"), "\"x&y\"");
  // An unclosed quote runs to the end.
  EXPECT_EQ(Q("a=\"x&b=2").FieldCount(), 1);
}

TEST(QueryFields, DecodeErrorsGiveQueryPositions) {
  try {
    Q("a=%4").Field("a");
    FAIL();
  } catch (const DecodeError& e) {
    EXPECT_STREQ(e.what(), "Error decoding URL style (%XX) encoded string at position 3");
  }
  try {
    Q("a=%zz").FieldCount();
    FAIL();
  } catch (const DecodeError& e) {
    EXPECT_STREQ(e.what(), "Invalid URL encoded character (%zz) at position 3");
  }
  try {
    Q("x=1&a=%g1").FieldCount();
    FAIL();
  } catch (const DecodeError& e) {
    EXPECT_STREQ(e.what(), "Invalid URL encoded character (%g1) at position 7");
  }
  EXPECT_THROW(Q("a=%").FieldCount(), DecodeError);
  EXPECT_THROW(Q("a=1%").FieldCount(), DecodeError);
}

TEST(QueryFields, NulBytesAndHighBytesPass) {
  Request r = Q("a=x%00y&b=%FF");
  EXPECT_EQ(r.Field("a"), std::string("x\0y", 3));
  EXPECT_EQ(r.Field("b"), "\xff");
}

struct Trace {
  std::vector<std::string> calls;
};

std::vector<ActionItem> TestActions(Trace& t, bool passFirst = false) {
  auto mk = [&t](std::string_view name, std::string_view path, bool def, bool pass) {
    ActionItem a;
    a.name = name;
    a.path = path;
    a.isDefault = def;
    a.handler = [&t, name, pass](const Request&, Response&, bool& handled) {
      t.calls.emplace_back(name);
      if (pass) handled = false;
    };
    return a;
  };
  return {mk("Root", "/Index", true, false), mk("Viikko", "/Viikko", false, false),
          mk("Pass", "/Pass", false, passFirst), mk("Pass2", "/Pass", false, false),
          mk("RecOk", "/RegOk", false, false)};
}

int RunPath(const std::vector<ActionItem>& actions, std::string path) {
  Response resp([](std::string_view) {}, true);
  Request req("GET", std::move(path), "");
  return Dispatch(actions, req, resp);
}

TEST(Dispatch, ExactPathIgnoringCase) {
  Trace t;
  auto acts = TestActions(t);
  EXPECT_EQ(RunPath(acts, "/viikko"), 1);
  EXPECT_EQ(RunPath(acts, "/VIIKKO"), 1);
  EXPECT_EQ(RunPath(acts, "/Viikko"), 1);
  EXPECT_EQ(RunPath(acts, "/RegOk"), 4);
  EXPECT_EQ(t.calls.size(), 4u);
}

TEST(Dispatch, UnknownPathsGoToTheDefault) {
  Trace t;
  auto acts = TestActions(t);
  for (const char* p : {"", "/", "/Foo", "/Viikko/", "/RecOk", "Viikko", "/Viikko2"})
    EXPECT_EQ(RunPath(acts, p), 0) << p;
  // The default runs whatever its enabled flag.
  acts[0].enabled = false;
  EXPECT_EQ(RunPath(acts, "/Foo"), 0);
  EXPECT_EQ(RunPath(acts, "/Index"), 0);
}

TEST(Dispatch, ClearedHandledFlagPassesOn) {
  Trace t;
  auto acts = TestActions(t, /*passFirst=*/true);
  EXPECT_EQ(RunPath(acts, "/pass"), 3);
  EXPECT_EQ(t.calls, (std::vector<std::string>{"Pass", "Pass2"}));
  acts[1].enabled = false;
  t.calls.clear();
  EXPECT_EQ(RunPath(acts, "/Viikko"), 0);
  EXPECT_EQ(t.calls, (std::vector<std::string>{"Root"}));
}

}  // namespace
}  // namespace wo
