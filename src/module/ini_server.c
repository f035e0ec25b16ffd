#include "module/ini_server.h"

static int blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

static char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

/* [*from, *to) without the blanks at either end. */
static void trim(const char* p, unsigned long* from, unsigned long* to) {
  while (*from < *to && blank(p[*from])) ++*from;
  while (*to > *from && blank(p[*to - 1])) --*to;
}

/* Whether p[from, to) is `name`, letters in either case. */
static int same(const char* p, unsigned long from, unsigned long to, const char* name) {
  unsigned long i = 0;
  for (; from + i < to; ++i)
    if (!name[i] || upper(p[from + i]) != upper(name[i])) return 0;
  return !name[i];
}

int wo_ini_names_server(const char* p, unsigned long n) {
  unsigned long i = 0;
  int inDataBase = 0;
  int nameSeen = 0, addressSeen = 0, name = 0, address = 0;
  if (n >= 3 && (unsigned char)p[0] == 0xef && (unsigned char)p[1] == 0xbb && (unsigned char)p[2] == 0xbf) i = 3;
  while (i < n) {
    unsigned long from = i, to, eq, k, value, end;
    while (i < n && p[i] != '\n') ++i;
    to = i;
    if (i < n) ++i;
    trim(p, &from, &to);
    if (from == to || p[from] == ';' || p[from] == '#') continue;
    if (p[from] == '[') {
      unsigned long a = from + 1, b = a;
      while (b < to && p[b] != ']') ++b;
      trim(p, &a, &b);
      inDataBase = same(p, a, b, "DataBase");
      continue;
    }
    for (eq = from; eq < to && p[eq] != '='; ++eq) {
    }
    if (eq == to || !inDataBase) continue;
    k = eq;
    trim(p, &from, &k);
    value = eq + 1;
    end = to;
    trim(p, &value, &end);
    /* A ";" after a blank starts a comment. */
    for (unsigned long j = value + 1; j < end; ++j) {
      if (p[j] == ';' && blank(p[j - 1])) {
        end = j;
        trim(p, &value, &end);
        break;
      }
    }
    if (!nameSeen && same(p, from, k, "ServerName")) {
      nameSeen = 1;
      name = value < end;
    } else if (!addressSeen && same(p, from, k, "ServerAddress")) {
      addressSeen = 1;
      address = value < end;
    }
  }
  return name && address;
}
