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

std::string UrlEncode(std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(s.size());
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      r += ch;
    } else {
      r += '%';
      r += kHex[c >> 4];
      r += kHex[c & 15];
    }
  }
  return r;
}

}  // namespace wo
