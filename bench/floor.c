/* The floor of a CGI request: the least a CGI program can do, a minimal C
 * program that writes a fixed 5 KB page in one write. The benchmark
 * measures every page of WebOrvane against it. */
#include <string.h>
#include <unistd.h>

#define PAGE 5120

int main(void) {
  static char out[PAGE + 256];
  static const char head[] =
      "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5120\r\nContent:\r\n\r\n";
  static const char line[] = "<tr><td>08:00-09:00</td><td>Kuntosali</td><td>Varaa</td></tr>\r";
  size_t n = sizeof head - 1, body = 0;
  memcpy(out, head, n);
  while (body < PAGE) {
    size_t k = sizeof line - 1;
    if (k > PAGE - body) k = PAGE - body;
    memcpy(out + n + body, line, k);
    body += k;
  }
  n += body;
  for (size_t done = 0; done < n;) {
    ssize_t w = write(1, out + done, n - done);
    if (w <= 0) return 1;
    done += (size_t)w;
  }
  return 0;
}
