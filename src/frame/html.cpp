#include "frame/html.h"

#include <array>
#include <cstring>

namespace wo {

std::string HtmlEscape(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      case '\'': r += "&#39;"; break;
      default: r += c;
    }
  }
  return r;
}

namespace {

// The bytes that stand for themselves in a URL's value.
constexpr std::array<bool, 256> kPlainInUrl = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<size_t>(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
  return t;
}();

// Writes `s` percent-encoded at `p` (room for three bytes each); returns
// the end of what it wrote.
char* PutUrlEncoded(char* p, std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (kPlainInUrl[c]) {
      *p++ = ch;
    } else {
      *p++ = '%';
      *p++ = kHex[c >> 4];
      *p++ = kHex[c & 15];
    }
  }
  return p;
}

char* Put(char* p, std::string_view s) {
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

// `before`, the program's URL of `action` with `args`, then `after`,
// appended to `out`: written into room for the longest form, then cut to
// what it took.
void AppendProgramUrlWithin(std::string& out, std::string_view before, std::string_view action,
                            std::initializer_list<UrlArg> args, std::string_view after) {
  size_t room = before.size() + kProgramUrl.size() + action.size() + after.size();
  for (const UrlArg& a : args) room += a.name.size() + 3 * a.value.size() + 2;
  const size_t at = out.size();
  out.resize(at + room);
  char* p = Put(Put(Put(out.data() + at, before), kProgramUrl), action);
  char sep = '?';
  for (const UrlArg& a : args) {
    *p++ = sep;
    p = Put(p, a.name);
    *p++ = '=';
    p = PutUrlEncoded(p, a.value);
    sep = '&';
  }
  p = Put(p, after);
  out.resize(static_cast<size_t>(p - out.data()));
}

std::string ProgramUrlWithin(std::string_view before, std::string_view action, std::initializer_list<UrlArg> args,
                             std::string_view after) {
  std::string url;
  AppendProgramUrlWithin(url, before, action, args, after);
  return url;
}

}  // namespace

std::string UrlEncode(std::string_view s) {
  std::string r(3 * s.size(), '\0');
  r.resize(static_cast<size_t>(PutUrlEncoded(r.data(), s) - r.data()));
  return r;
}

std::string ProgramUrl(std::string_view action, std::initializer_list<UrlArg> args) {
  return ProgramUrlWithin({}, action, args, {});
}

std::string ProgramLinkOpen(std::string_view action, std::initializer_list<UrlArg> args) {
  return ProgramUrlWithin("<A HREF=\"", action, args, "\">");
}

void AppendProgramLinkOpen(std::string& out, std::string_view action, std::initializer_list<UrlArg> args) {
  AppendProgramUrlWithin(out, "<A HREF=\"", action, args, "\">");
}

std::string LinkOpen(std::string_view url) {
  std::string r = "<A HREF=\"";
  r += url;
  r += "\">";
  return r;
}

std::string LinkOpen(Html url, std::string_view target) {
  if (target.empty()) return LinkOpen(url.markup);
  std::string r = "<A HREF=\"";
  r += url.markup;
  r += "\" target=\"";
  r += target;
  r += "\">";
  return r;
}

namespace {

std::string Option(bool selected, std::string_view value, std::string_view shown) {
  std::string r = "<option ";
  if (selected) r += "selected ";
  r += "value=\"";
  r += value;
  r += "\">";
  r += shown;
  r += "\r";
  return r;
}

}  // namespace

std::string OptionTag(bool selected, std::string_view value, std::string_view shown) {
  return Option(selected, HtmlEscape(value), HtmlEscape(shown));
}

std::string OptionTag(bool selected, Html value, Html shown) { return Option(selected, value.markup, shown.markup); }

std::string HiddenInput(std::string_view name, std::string_view value) {
  std::string s = "<input name=\"";
  s += name;
  s += "\" type=\"hidden\" value=\"";
  s += HtmlEscape(value);
  s += "\">\r";
  return s;
}

}  // namespace wo
