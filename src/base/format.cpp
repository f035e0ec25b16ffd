#include "base/format.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace wo {

namespace {

// printf's "%0*d" of `v` appended to `out`; the calendar formats a few
// hundred of these on a page.
void AppendPadded(std::string& out, int v, int width) {
  if (v < 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, v);
    out += buf;
    return;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

}  // namespace

std::string FormatDate(DateTime t) {
  DateParts p = Decode(t);
  std::string out;
  out.reserve(10);
  AppendPadded(out, p.day, 2);
  out += '.';
  AppendPadded(out, p.month, 2);
  out += '.';
  AppendPadded(out, p.year, 4);
  return out;
}

std::string FormatTime(DateTime t, std::string_view timeSep) {
  DateParts p = Decode(t);
  std::string out;
  out.reserve(4 + timeSep.size());
  AppendPadded(out, p.hour, 2);
  out += timeSep;
  AppendPadded(out, p.minute, 2);
  return out;
}

std::string FormatDateTimeShort(DateTime t, std::string_view timeSep) {
  return FormatDate(t) + " " + FormatTime(t, timeSep);
}

std::string FinnishWeekdayName(int day) {
  static const char* const kNames[] = {"Sunnuntai", "Maanantai", "Tiistai",  "Keskiviikko",
                                       "Torstai",   "Perjantai", "Lauantai"};
  if (day < 1 || day > 7) return "Tuntematon";
  return kNames[day - 1];
}

double RoundCents(double v) {
  if (!std::isfinite(v)) return v;
  const double cents = v * 100.0;
  const double whole = std::trunc(cents);
  double r = std::round(cents);
  if (std::fabs(std::fabs(cents - whole) - 0.5) < 1e-6) r = whole + std::copysign(1.0, cents);
  r /= 100.0;
  return r == 0 ? 0.0 : r;
}

std::string FormatAmount10_2(double v, std::string_view decimalSep) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%10.2f", RoundCents(v));
  std::string s = buf;
  if (decimalSep != ".") {
    size_t dot = s.find('.');
    if (dot != std::string::npos) s.replace(dot, 1, decimalSep);
  }
  return s;
}

}  // namespace wo
