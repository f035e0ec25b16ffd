#include "base/format.h"

#include <cmath>
#include <cstdio>

namespace wo {

std::string FormatDate(DateTime t) {
  DateParts p = Decode(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year);
  return buf;
}

std::string FormatTime(DateTime t, std::string_view timeSep) {
  DateParts p = Decode(t);
  char h[8], m[8];
  std::snprintf(h, sizeof h, "%02d", p.hour);
  std::snprintf(m, sizeof m, "%02d", p.minute);
  return std::string(h) + std::string(timeSep) + m;
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
