#include "store/value.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "store/win1252.h"

namespace wo::store {

namespace {

[[noreturn]] void Bad(const std::string& table, const ColumnDef& c, const std::string& what) {
  throw DatabaseError(table + "." + c.name + ": " + what);
}

std::string NumberText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  return buf;
}

bool ParseInt(std::string_view s, int64_t& out) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (size_t j = i; j < t.size(); ++j)
    if (t[j] < '0' || t[j] > '9') return false;
  errno = 0;
  long long v = std::strtoll(t.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  out = v;
  return true;
}

bool ParseFloat(std::string_view s, double& out) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// 1 / 0 for the boolean spellings (PostgreSQL answers "t" and "f"), -1 otherwise.
int ParseBool(std::string_view s) {
  std::string t = Upper(Trim(s));
  if (t == "T" || t == "TRUE" || t == "1" || t == "Y" || t == "YES") return 1;
  if (t == "F" || t == "FALSE" || t == "0" || t == "N" || t == "NO") return 0;
  return -1;
}

Stored IntColumn(const std::string& table, const ColumnDef& c, int64_t v) {
  if (c.type == FieldType::SmallInt && (v < -32768 || v > 32767))
    Bad(table, c, std::to_string(v) + " is out of the range of a smallint");
  if (c.type == FieldType::Integer && (v < INT32_MIN || v > INT32_MAX))
    Bad(table, c, std::to_string(v) + " is out of the range of an integer");
  return Stored::OfInt(v);
}

}  // namespace

Stored ToStored(const std::string& table, const ColumnDef& c, const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) return Stored();
  const std::string* s = std::get_if<std::string>(&v);
  const int64_t* i = std::get_if<int64_t>(&v);
  const double* d = std::get_if<double>(&v);
  const bool* b = std::get_if<bool>(&v);
  switch (c.type) {
    case FieldType::Text: {
      std::string t = s ? *s : i ? std::to_string(*i) : d ? NumberText(*d) : (*b ? "True" : "False");
      return Stored::OfText(Win1252ToUtf8(Cut(t, static_cast<size_t>(c.width))));
    }
    case FieldType::SmallInt:
    case FieldType::Integer: {
      int64_t n = 0;
      if (i) n = *i;
      else if (b) n = *b ? 1 : 0;
      else if (d) {
        if (!std::isfinite(*d) || std::fabs(*d) > 9.0e18) Bad(table, c, "not a valid integer value");
        n = std::llround(*d);
      } else if (!ParseInt(*s, n))
        Bad(table, c, "'" + *s + "' is not a valid integer value");
      return IntColumn(table, c, n);
    }
    case FieldType::Float: {
      double x = 0;
      if (d) x = *d;
      else if (i) x = static_cast<double>(*i);
      else if (b) x = *b ? 1 : 0;
      else if (!ParseFloat(*s, x))
        Bad(table, c, "'" + *s + "' is not a valid floating point value");
      if (!std::isfinite(x)) Bad(table, c, "not a finite number");
      return Stored::OfReal(x);
    }
    case FieldType::DateTime:
    case FieldType::Time: {
      bool isTime = c.type == FieldType::Time;
      double x = 0;
      if (d) x = *d;
      else if (i) x = static_cast<double>(*i);
      else if (s) {
        bool ok = isTime ? ParseStoredTime(*s, x) : ParseStoredDateTime(*s, x);
        if (!ok) Bad(table, c, "'" + *s + "' is not a valid date-time value");
      } else
        Bad(table, c, "a boolean is not a date-time value");
      if (!std::isfinite(x)) Bad(table, c, "not a valid date-time value");
      if (isTime) {
        if (x < 0) Bad(table, c, "a negative time cannot be stored");
        return Stored::OfText(ToStoredTime(x));
      }
      // Years 1..9999 only: the stored form has four digits of year.
      if (x < -693593.0 || x >= 2958466.0) Bad(table, c, "the date-time is out of range");
      return Stored::OfText(ToStoredDateTime(x));
    }
    case FieldType::Boolean: {
      bool x = false;
      if (b) x = *b;
      else if (i) x = *i != 0;
      else if (d) x = *d != 0;
      else {
        int p = ParseBool(*s);
        if (p < 0) Bad(table, c, "'" + *s + "' is not a valid boolean value");
        x = p == 1;
      }
      return Stored::OfInt(x ? 1 : 0);
    }
  }
  return Stored();
}

std::string StoredAsText(const std::string& table, const ColumnDef& c, const Stored& v) {
  switch (v.kind) {
    case Stored::Null:
      return "";
    case Stored::Int:
      return std::to_string(v.i);
    case Stored::Real:
      return NumberText(v.d);
    case Stored::Text:
      break;
  }
  switch (c.type) {
    case FieldType::Text:
    case FieldType::DateTime:
    case FieldType::Time:
      return Utf8ToWin1252(v.s);
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Boolean:
      return std::to_string(StoredAsInt(table, c, v));
    case FieldType::Float:
      return NumberText(StoredAsFloat(table, c, v));
  }
  return v.s;
}

int64_t StoredAsInt(const std::string& table, const ColumnDef& c, const Stored& v) {
  switch (v.kind) {
    case Stored::Null:
      return 0;
    case Stored::Int:
      return v.i;
    case Stored::Real:
      if (!std::isfinite(v.d) || std::fabs(v.d) > 9.0e18) Bad(table, c, "not a valid integer value");
      return std::llround(v.d);
    case Stored::Text:
      break;
  }
  int64_t n;
  if (ParseInt(v.s, n)) return n;
  double x;
  if (c.type != FieldType::Text && c.type != FieldType::DateTime && c.type != FieldType::Time &&
      ParseFloat(v.s, x) && std::fabs(x) < 9.0e18)
    return std::llround(x);
  int b = ParseBool(v.s);
  if (b >= 0 && c.type == FieldType::Boolean) return b;
  if (c.type == FieldType::DateTime || c.type == FieldType::Time)
    return static_cast<int64_t>(StoredAsDateTime(table, c, v));
  Bad(table, c, "'" + Utf8ToWin1252(v.s) + "' is not a valid integer value");
}

double StoredAsFloat(const std::string& table, const ColumnDef& c, const Stored& v) {
  switch (v.kind) {
    case Stored::Null:
      return 0;
    case Stored::Int:
      return static_cast<double>(v.i);
    case Stored::Real:
      return v.d;
    case Stored::Text:
      break;
  }
  if (c.type == FieldType::DateTime || c.type == FieldType::Time) return StoredAsDateTime(table, c, v);
  double x;
  if (ParseFloat(v.s, x)) return x;
  int b = ParseBool(v.s);
  if (b >= 0 && c.type == FieldType::Boolean) return b;
  Bad(table, c, "'" + Utf8ToWin1252(v.s) + "' is not a valid floating point value");
}

DateTime StoredAsDateTime(const std::string& table, const ColumnDef& c, const Stored& v) {
  switch (v.kind) {
    case Stored::Null:
      return 0;
    case Stored::Int:
      return static_cast<double>(v.i);
    case Stored::Real:
      return v.d;
    case Stored::Text:
      break;
  }
  double x = 0;
  bool ok = c.type == FieldType::Time
                ? ParseStoredTime(v.s, x)
                : (ParseStoredDateTime(v.s, x) || ParseStoredTime(v.s, x));
  if (!ok) Bad(table, c, "'" + Utf8ToWin1252(v.s) + "' is not a valid date-time value");
  return x;
}

bool StoredAsBool(const std::string& table, const ColumnDef& c, const Stored& v) {
  (void)table;
  (void)c;
  switch (v.kind) {
    case Stored::Null:
      return false;
    case Stored::Int:
      return v.i != 0;
    case Stored::Real:
      return v.d != 0;
    case Stored::Text:
      break;
  }
  int b = ParseBool(v.s);
  if (b >= 0) return b == 1;
  double x;
  return ParseFloat(v.s, x) && x != 0;
}

}  // namespace wo::store
