#include "store/win1252.h"

#include <cstdint>

namespace wo::store {

namespace {

// Code points of the bytes 0x80..0x9F.
const uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void PutUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char FromCodePoint(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

}  // namespace

std::string Win1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8);
  size_t i = 0, n = s.size();
  while (i < n) {
    size_t ascii = i;  // a run of ASCII is the same in both
    while (ascii < n && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
    out.append(s.data() + i, ascii - i);
    if (ascii == n) break;
    const auto b = static_cast<unsigned char>(s[ascii]);
    PutUtf8(b < 0xA0 ? kHigh[b - 0x80] : b, out);
    i = ascii + 1;
  }
  return out;
}

std::string Utf8ToWin1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0, n = s.size();
  while (i < n) {
    // A run of ASCII is the same in both.
    size_t ascii = i;
    while (ascii < n && static_cast<unsigned char>(s[ascii]) < 0x80) ++ascii;
    out.append(s.data() + i, ascii - i);
    i = ascii;
    if (i == n) break;
    auto b = static_cast<unsigned char>(s[i]);
    int len = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (b >= 0xF5) len = 0;
    uint32_t cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms and surrogates are malformed too.
    if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
               (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    out += FromCodePoint(cp);
    i += len;
  }
  return out;
}

}  // namespace wo::store
