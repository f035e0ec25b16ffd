#include "frame/html.h"

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

// Appends `s` to `out` percent-encoded.
void AppendUrlEncoded(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

}  // namespace

std::string UrlEncode(std::string_view s) {
  std::string r;
  r.reserve(s.size());
  AppendUrlEncoded(r, s);
  return r;
}

std::string ProgramUrl(std::string_view action, std::initializer_list<UrlArg> args) {
  size_t size = kProgramUrl.size() + action.size();
  for (const UrlArg& a : args) size += a.name.size() + a.value.size() + 2;
  std::string url;
  url.reserve(size);
  url += kProgramUrl;
  url += action;
  char sep = '?';
  for (const UrlArg& a : args) {
    url += sep;
    url += a.name;
    url += '=';
    AppendUrlEncoded(url, a.value);
    sep = '&';
  }
  return url;
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
