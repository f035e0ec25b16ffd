// The floor of a CGI request on a PostgreSQL server: a minimal C++ program
// that connects over TCP, runs three queries (the settings row, a resource,
// the slots of a day) and writes a fixed 5 KB page. Every page of WebOrvane
// on the same server is measured against it.
//   bench_pg_floor "CONNINFO"
#include <libpq-fe.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  PGconn* c = PQconnectdb(argv[1]);
  if (PQstatus(c) != CONNECTION_OK) return 1;
  const char* queries[] = {
      "SELECT * FROM webparam WHERE numero = '01'",
      "SELECT resno, resnimi FROM varesnimi WHERE resno = 'R01'",
      "SELECT * FROM vavuoro WHERE resno = 'R01' AND vuoroaika >= now()::date AND vuoroaika < now()::date + 1 "
      "ORDER BY resno, vuoroaika",
  };
  std::string page;
  for (const char* q : queries) {
    PGresult* r = PQexec(c, q);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) return 1;
    for (int i = 0; i < PQntuples(r); ++i) page += std::string("<tr><td>") + PQgetvalue(r, i, 0) + "</td></tr>\r";
    PQclear(r);
  }
  PQfinish(c);
  page.resize(5120, ' ');
  std::string out = "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5120\r\nContent:\r\n\r\n" + page;
  for (size_t done = 0; done < out.size();) {
    ssize_t w = write(1, out.data() + done, out.size() - done);
    if (w <= 0) return 1;
    done += static_cast<size_t>(w);
  }
  return 0;
}
