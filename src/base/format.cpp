#include "base/format.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace wo {

namespace {

// printf's "%0*d" of `v` appended to `out`, for what does not fit the
// fixed forms below.
void AppendPadded(std::string& out, int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  out += buf;
}

// "dd.mm.yyyy" of `p` appended to `out`. The calendar formats a few
// hundred dates and times on a page: they are written digit by digit
// into the string's own storage.
void AppendDate(std::string& out, const DateParts& p) {
  if (p.year < 0 || p.year > 9999) {
    AppendPadded(out, p.day, 2);
    out += '.';
    AppendPadded(out, p.month, 2);
    out += '.';
    AppendPadded(out, p.year, 4);
    return;
  }
  const size_t at = out.size();
  out.resize(at + 10);
  char* d = out.data() + at;
  PutDigits(d, p.day, 2);
  d[2] = '.';
  PutDigits(d + 3, p.month, 2);
  d[5] = '.';
  PutDigits(d + 6, p.year, 4);
}

// "hh" `timeSep` "nn" of `p` appended to `out`.
void AppendTime(std::string& out, const DateParts& p, std::string_view timeSep) {
  const size_t at = out.size();
  out.resize(at + 4 + timeSep.size());
  char* d = out.data() + at;
  PutDigits(d, p.hour, 2);
  timeSep.copy(d + 2, timeSep.size());
  PutDigits(d + 2 + timeSep.size(), p.minute, 2);
}

}  // namespace

std::string FormatDate(DateTime t) {
  std::string out;
  AppendDate(out, Decode(t));
  return out;
}

std::string FormatTime(DateTime t, std::string_view timeSep) {
  std::string out;
  AppendTime(out, Decode(t), timeSep);
  return out;
}

void AppendTimeSpan(std::string& out, DateTime from, DateTime to, std::string_view timeSep) {
  AppendTime(out, Decode(from), timeSep);
  out += '-';
  AppendTime(out, Decode(to), timeSep);
}

std::string FormatDateTimeShort(DateTime t, std::string_view timeSep) {
  std::string out;
  out.reserve(15 + timeSep.size());
  AppendDateTimeShort(out, t, timeSep);
  return out;
}

void AppendTime(std::string& out, DateTime t, std::string_view timeSep) { AppendTime(out, Decode(t), timeSep); }

void AppendDateTimeShort(std::string& out, DateTime t, std::string_view timeSep) {
  const DateParts p = Decode(t);
  AppendDate(out, p);
  out += ' ';
  AppendTime(out, p, timeSep);
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
