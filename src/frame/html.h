// Escaping at the point of output. Values that come from the request or
// that a web user typed go through these; site settings, templates and the
// desktop system's own tables go into pages as they are.
#pragma once

#include <string>
#include <string_view>

namespace wo {

// & < > " ' as &amp; &lt; &gt; &quot; &#39;; every other byte unchanged.
std::string HtmlEscape(std::string_view s);

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX (upper-case hex).
std::string UrlEncode(std::string_view s);

// The prefix of every link the program writes.
inline constexpr std::string_view kProgramUrl = "/cgi-bin/WebOrvane.exe/";

}  // namespace wo
