/* The limit of a persistent page: a minimal FastCGI program (libfcgi's
 * FCGI_Accept loop) that keeps one SQLite file open with three prepared
 * statements and, per request, runs them (the settings row, the name of a
 * resource, the slots of a week of that resource with their reservation
 * counts by index) and fills a template. Its twin under php-fpm
 * (bench/peer_week.php) writes the same bytes; the benchmark measures
 * WebOrvane's FastCGI pages against both.
 *
 *   environment: BENCH_DB        the SQLite file (opened read-only)
 *                BENCH_TEMPLATE  the page with @ADDRESS@, @RESOURCE@, @ROWS@
 *   request:     QUERY_STRING    Resurssi=R01&Alku=YYYY-MM-DD&Loppu=YYYY-MM-DD
 *
 * Started without a FastCGI socket it answers one request as a CGI
 * program (what libfcgi does), which the benchmark uses to check it. */
#include <fcgi_stdio.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>

/* A growing output buffer; the page is written in one piece. */
struct Buf {
  char* p;
  size_t n, cap;
};

static void Put(struct Buf* b, const char* s, size_t n) {
  if (b->n + n > b->cap) {
    size_t cap = b->cap ? b->cap : 16384;
    while (cap < b->n + n) cap *= 2;
    char* p = realloc(b->p, cap);
    if (!p) abort();
    b->p = p;
    b->cap = cap;
  }
  memcpy(b->p + b->n, s, n);
  b->n += n;
}

static void PutStr(struct Buf* b, const char* s) { Put(b, s, strlen(s)); }

/* The HTML escaping of PHP's htmlspecialchars with ENT_QUOTES. */
static void PutEscaped(struct Buf* b, const char* s) {
  for (; s && *s; ++s) {
    switch (*s) {
      case '&': PutStr(b, "&amp;"); break;
      case '<': PutStr(b, "&lt;"); break;
      case '>': PutStr(b, "&gt;"); break;
      case '"': PutStr(b, "&quot;"); break;
      case '\'': PutStr(b, "&#039;"); break;
      default: Put(b, s, 1);
    }
  }
}

static void PutInt(struct Buf* b, long long v) {
  char t[32];
  int n = snprintf(t, sizeof t, "%lld", v);
  Put(b, t, (size_t)n);
}

/* The value of `name` in the query string, copied into out (values here are
 * plain keys and dates: no percent decoding). */
static const char* Param(const char* query, const char* name, char* out, size_t size) {
  size_t len = strlen(name);
  out[0] = '\0';
  for (const char* p = query; p && *p;) {
    const char* end = strchr(p, '&');
    if (!end) end = p + strlen(p);
    if ((size_t)(end - p) > len && strncmp(p, name, len) == 0 && p[len] == '=') {
      size_t n = (size_t)(end - p) - len - 1;
      if (n >= size) n = size - 1;
      memcpy(out, p + len + 1, n);
      out[n] = '\0';
      break;
    }
    p = *end ? end + 1 : end;
  }
  return out;
}

static const char* Text(sqlite3_stmt* st, int col) {
  const unsigned char* t = sqlite3_column_text(st, col);
  return t ? (const char*)t : "";
}

int main(void) {
  const char* dbPath = getenv("BENCH_DB");
  const char* tplPath = getenv("BENCH_TEMPLATE");
  if (!dbPath || !tplPath) return 2;

  /* The template, split at its three holes. */
  static char tpl[1 << 20];
  FILE* f = fopen(tplPath, "rb");
  if (!f) return 2;
  size_t tn = fread(tpl, 1, sizeof tpl - 1, f);
  fclose(f);
  tpl[tn] = '\0';
  static const char* const holes[3] = {"@ADDRESS@", "@RESOURCE@", "@ROWS@"};
  const char* piece[4];
  size_t pieceLen[4];
  const char* at = tpl;
  for (int i = 0; i < 3; ++i) {
    const char* h = strstr(at, holes[i]);
    if (!h) return 2;
    piece[i] = at;
    pieceLen[i] = (size_t)(h - at);
    at = h + strlen(holes[i]);
  }
  piece[3] = at;
  pieceLen[3] = strlen(at);

  sqlite3* db = NULL;
  if (sqlite3_open_v2(dbPath, &db, SQLITE_OPEN_READONLY, NULL) != SQLITE_OK) return 1;
  sqlite3_stmt *settings = NULL, *resource = NULL, *week = NULL;
  if (sqlite3_prepare_v2(db, "SELECT OsoiteRivi1, OsoiteRivi2, Puhelin FROM WEBPARAM WHERE Numero = '01'", -1,
                         &settings, NULL) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "SELECT ResNimi FROM VARESNIMI WHERE ResNo = ?1", -1, &resource, NULL) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "SELECT v.Kausi, v.VuoroNo, v.VuoroAika, v.Maara, "
                         "(SELECT COUNT(*) FROM VAVARAUS r WHERE r.Kausi = v.Kausi AND r.VuoroNo = v.VuoroNo "
                         "AND r.VuoroNoSeq = v.VuoroNoSeq) "
                         "FROM VaVuoro v WHERE v.ResNo = ?1 AND v.VuoroAika >= ?2 AND v.VuoroAika < ?3 "
                         "ORDER BY v.VuoroAika",
                         -1, &week, NULL) != SQLITE_OK)
    return 1;

  struct Buf page = {NULL, 0, 0}, head = {NULL, 0, 0};
  while (FCGI_Accept() >= 0) {
    char res[16], from[16], to[16];
    const char* q = getenv("QUERY_STRING");
    Param(q, "Resurssi", res, sizeof res);
    Param(q, "Alku", from, sizeof from);
    Param(q, "Loppu", to, sizeof to);
    page.n = 0;
    int ok = 1;

    Put(&page, piece[0], pieceLen[0]);
    if (sqlite3_step(settings) == SQLITE_ROW) {
      for (int i = 0; i < 3; ++i) {
        if (i) PutStr(&page, ", ");
        PutEscaped(&page, Text(settings, i));
      }
    } else {
      ok = 0;
    }
    sqlite3_reset(settings);

    Put(&page, piece[1], pieceLen[1]);
    sqlite3_bind_text(resource, 1, res, -1, SQLITE_TRANSIENT);
    if (sqlite3_step(resource) == SQLITE_ROW) PutEscaped(&page, Text(resource, 0));
    else ok = 0;
    sqlite3_reset(resource);

    Put(&page, piece[2], pieceLen[2]);
    sqlite3_bind_text(week, 1, res, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(week, 2, from, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(week, 3, to, -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(week)) == SQLITE_ROW) {
      PutStr(&page, "<tr><td>");
      PutEscaped(&page, Text(week, 2));
      PutStr(&page, "</td><td>");
      PutInt(&page, sqlite3_column_int64(week, 3));
      PutStr(&page, "</td><td>");
      PutInt(&page, sqlite3_column_int64(week, 4));
      PutStr(&page, "</td><td><a href=\"/cgi-bin/WebOrvane.exe/Varaa?Kau=");
      PutEscaped(&page, Text(week, 0));
      PutStr(&page, "&amp;Vuo=");
      PutEscaped(&page, Text(week, 1));
      PutStr(&page, "\">Varaa</a></td></tr>\n");
    }
    if (rc != SQLITE_DONE) ok = 0;
    sqlite3_reset(week);
    Put(&page, piece[3], pieceLen[3]);

    head.n = 0;
    PutStr(&head, ok ? "Status: 200 OK\r\n" : "Status: 500 Internal Server Error\r\n");
    PutStr(&head, "Content-Type: text/html; charset=UTF-8\r\nContent-Length: ");
    PutInt(&head, (long long)page.n);
    PutStr(&head, "\r\n\r\n");
    fwrite(head.p, 1, head.n, stdout);
    fwrite(page.p, 1, page.n, stdout);
  }
  sqlite3_finalize(settings);
  sqlite3_finalize(resource);
  sqlite3_finalize(week);
  sqlite3_close(db);
  return 0;
}
