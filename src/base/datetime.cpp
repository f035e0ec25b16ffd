#include "base/datetime.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace wo {

namespace {

// Days from 0001-01-01 (proleptic Gregorian) to the given date, 0-based.
constexpr long long DaysFromCivil(int y, int m, int d) {
  // Howard Hinnant's algorithm, shifted to the epoch 1970-01-01.
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr long long kEpochOffset = DaysFromCivil(1899, 12, 30);

}  // namespace

DateTime Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm lt;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &lt);
  return EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
         EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

namespace {

bool Digits(std::string_view s, size_t pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[month - 1];
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leap) dim = 29;
  return day <= dim;
}

DateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
}

double EncodeTime(int hour, int minute, int second, int msec) {
  return (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / (kSecondsPerDay * 1000.0);
}

namespace {

// `t` to the nearest millisecond, as whole days and the milliseconds of
// the day after them.
void SplitDays(DateTime t, long long& days, long long& rest) {
  const long long ms = std::llround(t * kSecondsPerDay * 1000.0);
  days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  rest = ms - days * 86400000;
}

}  // namespace

DateParts Decode(DateTime t) {
  DateParts p;
  long long days, rest;
  SplitDays(t, days, rest);
  CivilFromDays(days + kEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(rest / 3600000);
  p.minute = static_cast<int>(rest / 60000 % 60);
  p.second = static_cast<int>(rest / 1000 % 60);
  p.msec = static_cast<int>(rest % 1000);
  return p;
}

DateTime DateOf(DateTime t) {
  // Decode's day without its calendar date: EncodeDate of that date is
  // the day's number itself.
  long long days, rest;
  SplitDays(t, days, rest);
  return static_cast<double>(days);
}

int DayOfWeek(DateTime t) {
  long long days = static_cast<long long>(std::floor(DateOf(t) + 0.5));
  // Day 0 (30 December 1899) was a Saturday.
  long long w = ((days + 6) % 7 + 7) % 7;  // 0 = Sunday
  return static_cast<int>(w) + 1;
}

void PutDigits(char* p, int v, int width) {
  for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
}

std::string ToStoredDateTime(DateTime t) {
  // Rounded to the nearest whole second first, so 10:00:59.6 is stored as
  // 10:01:00 (and 23:59:59.6 as the next day's midnight).
  DateParts p = Decode(static_cast<double>(std::llround(t * kSecondsPerDay)) / kSecondsPerDay);
  if (p.year < 0 || p.year > 9999) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return buf;
  }
  // A page binds dozens of these; printf costs ten times the digits.
  char buf[19];
  PutDigits(buf, p.year, 4);
  buf[4] = '-';
  PutDigits(buf + 5, p.month, 2);
  buf[7] = '-';
  PutDigits(buf + 8, p.day, 2);
  buf[10] = ' ';
  PutDigits(buf + 11, p.hour, 2);
  buf[13] = ':';
  PutDigits(buf + 14, p.minute, 2);
  buf[16] = ':';
  PutDigits(buf + 17, p.second, 2);
  return std::string(buf, sizeof buf);
}

std::string ToStoredTime(double f) {
  long long secs = std::llround(f * kSecondsPerDay);
  if (secs < 0) secs = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", secs / 3600, secs / 60 % 60, secs % 60);
  return buf;
}

bool ParseStoredDateTime(std::string_view s, DateTime& out) {
  int y, mo, d, h = 0, mi = 0, se = 0;
  if (!Digits(s, 0, 4, y) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, mo) || s[7] != '-' ||
      !Digits(s, 8, 2, d) || !IsValidDate(y, mo, d))
    return false;
  double frac = 0;
  if (s.size() > 10) {
    if ((s[10] != ' ' && s[10] != 'T') || !Digits(s, 11, 2, h) || s.size() < 16 || s[13] != ':' ||
        !Digits(s, 14, 2, mi))
      return false;
    if (s.size() > 16) {
      if (s[16] != ':' || !Digits(s, 17, 2, se)) return false;
      if (s.size() > 19) {
        if (s[19] != '.') return false;
        double scale = 0.1;
        for (size_t i = 20; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
          frac += (s[i] - '0') * scale;
      }
    }
  }
  out = EncodeDate(y, mo, d) + (h * 3600.0 + mi * 60.0 + se + frac) / kSecondsPerDay;
  return true;
}

bool ParseStoredTime(std::string_view s, double& out) {
  // "HH:MM:SS" with an hour of any length; PostgreSQL may add "N day(s) ".
  double days = 0;
  size_t sp = s.find(' ');
  if (sp != std::string_view::npos) {
    long long n = 0;
    for (size_t i = 0; i < sp; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      n = n * 10 + (s[i] - '0');
    }
    days = static_cast<double>(n);
    size_t rest = s.find(' ', sp + 1);
    s = rest == std::string_view::npos ? std::string_view() : s.substr(rest + 1);
    if (s.empty()) {
      out = days;
      return true;
    }
  }
  size_t c1 = s.find(':');
  if (c1 == std::string_view::npos || c1 == 0) return false;
  int h = 0;
  for (size_t i = 0; i < c1; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    h = h * 10 + (s[i] - '0');
  }
  int mi, se = 0;
  if (!Digits(s, c1 + 1, 2, mi)) return false;
  double frac = 0;
  if (s.size() > c1 + 3) {
    if (s[c1 + 3] != ':' || !Digits(s, c1 + 4, 2, se)) return false;
    if (s.size() > c1 + 6) {
      if (s[c1 + 6] != '.') return false;
      double scale = 0.1;
      for (size_t i = c1 + 7; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
        frac += (s[i] - '0') * scale;
    }
  }
  out = days + (h * 3600.0 + mi * 60.0 + se + frac) / kSecondsPerDay;
  return true;
}

}  // namespace wo
