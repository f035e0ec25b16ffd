// The builders that escape what they write: request text is escaped (or
// percent-encoded in links) and ordinary values come out unchanged; site
// markup marked Html goes in as it is.
#include <gtest/gtest.h>

#include "frame/html.h"

namespace wo {
namespace {

TEST(HtmlBuilders, LinksPercentEncodeEveryValue) {
  EXPECT_EQ(ProgramUrl("index", {}), "/cgi-bin/WebOrvane.exe/index");
  EXPECT_EQ(ProgramUrl("Varaa", {{"ID", "ABC123"}, {"Lang", "Eng"}, {"Kau", "2024"}}),
            "/cgi-bin/WebOrvane.exe/Varaa?ID=ABC123&Lang=Eng&Kau=2024");
  EXPECT_EQ(ProgramUrl("Login", {{"Lang", "\"><b a&b=c"}}),
            "/cgi-bin/WebOrvane.exe/Login?Lang=%22%3E%3Cb%20a%26b%3Dc");
  EXPECT_EQ(ProgramUrl("Omat", {{"ID", ""}, {"Lang", "\xe4-a~ b%"}, {"Kau", "%"}}),
            "/cgi-bin/WebOrvane.exe/Omat?ID=&Lang=%E4-a~%20b%25&Kau=%25");
  EXPECT_EQ(UrlEncode("\x01\xff/Zz09"), "%01%FF%2FZz09");
  EXPECT_EQ(LinkOpen(ProgramUrl("index", {{"Lang", "Fin"}})), "<A HREF=\"/cgi-bin/WebOrvane.exe/index?Lang=Fin\">");
  EXPECT_EQ(ProgramLinkOpen("Varaa", {{"ID", "a\"b"}, {"Seq", "7"}}),
            "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=a%22b&Seq=7\">");
  EXPECT_EQ(LinkOpen(Html{"http://example.org/?a=1&b=2"}, "_top"),
            "<A HREF=\"http://example.org/?a=1&b=2\" target=\"_top\">");
}

TEST(HtmlBuilders, OptionsAndHiddenInputsEscapeTextOnly) {
  const struct {
    std::string built, expected;
  } cases[] = {
      {OptionTag(true, "12", "12"), "<option selected value=\"12\">12\r"},
      {OptionTag(false, "a\"b", "<i>"), "<option value=\"a&quot;b\">&lt;i&gt;\r"},
      {OptionTag(false, Html{"R2"}, Html{"Sali & 2"}), "<option value=\"R2\">Sali & 2\r"},
      {HiddenInput("Kau", "2024"), "<input name=\"Kau\" type=\"hidden\" value=\"2024\">\r"},
      {HiddenInput("ID", "x\"><script>"), "<input name=\"ID\" type=\"hidden\" value=\"x&quot;&gt;&lt;script&gt;\">\r"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.built, c.expected);
}

}  // namespace
}  // namespace wo
