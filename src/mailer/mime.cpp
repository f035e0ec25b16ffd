#include "mailer/mime.h"

#include <cstdio>
#include <cstdlib>

namespace wo::mailer {

namespace {

const char kHex[] = "0123456789ABCDEF";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool PlainAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7e) return false;
  return true;
}

std::string Base64(std::string_view in) {
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The length of the UTF-8 sequence that starts with `lead` (1 for a stray
// byte), so that an encoded word never splits a character.
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xf0 && lead < 0xf8) return 4;
  if (lead >= 0xe0) return lead < 0xf0 ? 3 : 1;
  if (lead >= 0xc0) return 2;
  return 1;
}

std::string Address(const std::string& name, const std::string& address) {
  if (name.empty()) return address;
  // Encoded words fill a line of their own: the address goes on the next.
  return EncodeHeaderText(name, true) + (PlainAscii(name) ? " <" : "\r\n <") + address + ">";
}

// "Tue, 11 Jun 2030 12:00:00 +0300"
std::string DateHeader(DateTime t, int offsetMinutes) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const DateParts p = Decode(t);
  const int off = std::abs(offsetMinutes);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[DayOfWeek(t) - 1], p.day,
                kMonths[p.month - 1], p.year, p.hour, p.minute, p.second, offsetMinutes < 0 ? '-' : '+', off / 60,
                off % 60);
  return buf;
}

}  // namespace

std::string EncodeHeaderText(std::string_view s, bool phrase) {
  if (PlainAscii(s)) {
    if (!phrase || s.find_first_of("()<>[]:;@\\,.\"") == std::string_view::npos) return std::string(s);
    std::string q = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') q += '\\';
      q += c;
    }
    return q + "\"";
  }
  // Encoded words of at most 36 bytes of text: 60 characters, which leave
  // room for the header's name on its first line within 76.
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t n = 0;
    while (i + n < s.size()) {
      const size_t len = SequenceLength(static_cast<unsigned char>(s[i + n]));
      if (n + len > 36) break;
      n += len;
    }
    if (n == 0) n = 1;
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(s.substr(i, n)) + "?=";
    i += n;
  }
  return out;
}

std::string QuotedPrintable(std::string_view text) {
  std::string out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    const bool last = lf == std::string_view::npos;
    std::string_view line = text.substr(start, last ? std::string_view::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (last && line.empty()) break;  // the text ended with a line break
    std::string cur;
    for (size_t i = 0; i < line.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      const bool atEnd = i + 1 == line.size();
      std::string piece;
      if ((c >= 33 && c <= 126 && c != '=' && !(c == '.' && cur.empty())) || ((c == ' ' || c == '\t') && !atEnd)) {
        piece = static_cast<char>(c);
      } else {
        piece = {'=', kHex[c >> 4], kHex[c & 15]};
      }
      if (cur.size() + piece.size() > 75) {  // 75 and the soft break's "="
        out += cur + "=\r\n";
        cur.clear();
        if (piece == ".") piece = "=2E";
      }
      cur += piece;
    }
    out += cur + "\r\n";
    if (last) break;
    start = lf + 1;
  }
  return out;
}

std::string Base64Lines(std::string_view bytes) {
  const std::string b = Base64(bytes);
  std::string out;
  for (size_t i = 0; i < b.size(); i += 76) out += b.substr(i, 76) + "\r\n";
  return out;
}

std::string FormatMessage(const MimeMessage& m) {
  std::string h;
  h += "Date: " + DateHeader(m.date, m.utcOffsetMinutes) + "\r\n";
  h += "From: " + Address(m.fromName, m.fromAddress) + "\r\n";
  h += "To: " + Address(m.toName, m.toAddress) + "\r\n";
  h += "Subject: " + EncodeHeaderText(m.subject, false) + "\r\n";
  h += "Message-ID: <" + m.messageId + ">\r\n";
  h += "MIME-Version: 1.0\r\n";
  h += "Auto-Submitted: auto-generated\r\n";
  const std::string text = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n";
  if (!m.attachment) return h + text + "\r\n" + QuotedPrintable(m.body);
  // "=_" occurs in neither quoted-printable nor base64 text.
  const std::string boundary = "=_part_" + Base64(m.messageId).substr(0, 24);
  const Attachment& a = *m.attachment;
  h += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  h += "--" + boundary + "\r\n" + text + "\r\n" + QuotedPrintable(m.body);
  h += "--" + boundary + "\r\n";
  h += "Content-Type: " + a.contentType + "; name=\"" + a.fileName + "\"\r\n";
  h += "Content-Disposition: attachment; filename=\"" + a.fileName + "\"\r\n";
  h += "Content-Transfer-Encoding: base64\r\n\r\n";
  h += Base64Lines(a.content);
  h += "--" + boundary + "--\r\n";
  return h;
}

}  // namespace wo::mailer
