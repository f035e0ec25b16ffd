#include "base/text.h"

#include <cerrno>
#include <cstdlib>

namespace wo {

std::string Cut(std::string_view s, size_t width) {
  return std::string(s.substr(0, width));
}

static char UpperChar(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperChar(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

std::string_view TrimmedView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::string Trim(std::string_view s) { return std::string(TrimmedView(s)); }

long long ToIntDef(std::string_view s, long long fallback) {
  std::string t = Trim(s);
  if (t.empty()) return fallback;
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return fallback;
  for (size_t j = i; j < t.size(); ++j)
    if (t[j] < '0' || t[j] > '9') return fallback;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno == ERANGE) return fallback;
  return v;
}

std::string PadLeft15(std::string_view s) {
  std::string t = Cut(s, 15);
  return std::string(15 - t.size(), ' ') + t;
}

std::string PadKey5(std::string_view s) {
  std::string r(s);
  if (r.size() < 5) r.insert(0, 5 - r.size(), ' ');
  return r;
}

}  // namespace wo
