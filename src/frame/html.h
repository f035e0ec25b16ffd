// Escaping at the point of output, inside the builders that write links,
// options and hidden inputs, so that no caller can forget it.
//
// Two kinds of values go into pages. Text -- what comes from the request
// or what a web user typed -- is HTML-escaped in page text and attributes
// and percent-encoded in link queries. Html -- the site's settings and
// templates and the desktop system's tables, which the centre's staff write
// as HTML -- goes in as it is; a builder takes it only when it is marked so.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wo {

// & < > " ' as &amp; &lt; &gt; &quot; &#39;; every other byte unchanged.
std::string HtmlEscape(std::string_view s);

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX (upper-case hex).
std::string UrlEncode(std::string_view s);

// The prefix of every link the program writes.
inline constexpr std::string_view kProgramUrl = "/cgi-bin/WebOrvane.exe/";

// A value that goes into a page as it is (see above).
struct Html {
  std::string_view markup;
};

// One name=value pair of a link's query; the name is the program's own.
struct UrlArg {
  std::string_view name;
  std::string_view value;
};

// kProgramUrl + `action`, then "?" and the pairs joined by "&", each value
// percent-encoded: ProgramUrl("Login", {{"Lang", "Eng"}}) is
// "/cgi-bin/WebOrvane.exe/Login?Lang=Eng". The result is safe in an
// attribute as it is.
std::string ProgramUrl(std::string_view action, std::initializer_list<UrlArg> args);

// "<A HREF=\"" + url + "\">": a link to one of ProgramUrl's URLs.
std::string LinkOpen(std::string_view url);
// LinkOpen(ProgramUrl(action, args)), built in one string.
std::string ProgramLinkOpen(std::string_view action, std::initializer_list<UrlArg> args);
// The same appended to `out`.
void AppendProgramLinkOpen(std::string& out, std::string_view action, std::initializer_list<UrlArg> args);
// The same for a URL of the site's settings, as it is; with a `target`,
// the link opens in that window ("<A HREF=\"url\" target=\"_top\">").
std::string LinkOpen(Html url, std::string_view target = {});

// "<option [selected ]value=\"v\">shown" and a carriage return; text is
// escaped, Html goes in as it is.
std::string OptionTag(bool selected, std::string_view value, std::string_view shown);
std::string OptionTag(bool selected, Html value, Html shown);

// "<input name=\"n\" type=\"hidden\" value=\"v\">" and a carriage return,
// the value escaped.
std::string HiddenInput(std::string_view name, std::string_view value);

}  // namespace wo
