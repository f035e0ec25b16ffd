#include "frame/request.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/text.h"

namespace wo {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes `s`, whose byte i stood at 1-based position pos[i] of the text
// that error messages speak of.
std::string DecodeWithPositions(std::string_view s, const std::vector<size_t>& pos) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 1 < s.size() && s[i + 1] == '%') {
        out += '%';
        i += 1;
      } else if (i + 2 >= s.size()) {
        throw DecodeError("Error decoding URL style (%XX) encoded string at position " +
                          std::to_string(pos[i]));
      } else {
        int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
        if (hi < 0 || lo < 0)
          throw DecodeError("Invalid URL encoded character (" + std::string(s.substr(i, 3)) +
                            ") at position " + std::to_string(pos[i]));
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
      }
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string DecodeField(std::string_view s, size_t basePos) {
  std::vector<size_t> pos(s.size());
  for (size_t i = 0; i < s.size(); ++i) pos[i] = basePos + i;
  return DecodeWithPositions(s, pos);
}

std::vector<std::string> SplitQuery(std::string_view q) {
  std::vector<std::string> fields;
  size_t i = 0, n = q.size();
  std::string raw;
  std::vector<size_t> pos;
  auto take = [&](size_t k) {
    raw += q[k];
    pos.push_back(k + 1);
  };
  while (i < n) {
    while (i < n && (q[i] == '\r' || q[i] == '\n')) ++i;
    if (i >= n) break;
    raw.clear();
    pos.clear();
    if (q[i] == '"') {
      // A field that opens with a quote loses that quote and its closing one.
      ++i;
      while (i < n && q[i] != '"') take(i++);
      if (i < n) ++i;
    }
    while (i < n && q[i] != '&' && q[i] != '\r' && q[i] != '\n') {
      if (q[i] == '"') {
        take(i++);
        while (i < n && q[i] != '"') take(i++);
        if (i < n) take(i++);
      } else {
        take(i++);
      }
    }
    if (i < n && q[i] == '&') ++i;
    if (!raw.empty()) fields.push_back(DecodeWithPositions(raw, pos));
  }
  return fields;
}

Request::Request(std::string method, std::string path, std::string query)
    : method_(std::move(method)), path_(std::move(path)), query_(std::move(query)) {}

Request Request::FromCgi(const Env& env, int bodyFd) {
  auto lookup = [&](const std::string& name) {
    std::string v = env(name);
    if (v.empty()) {
      if (name.rfind("HTTP_", 0) == 0)
        v = env(name.substr(5));
      else
        v = env("HTTP_" + name);
    }
    return v;
  };
  Request r;
  r.method_ = lookup("REQUEST_METHOD");
  r.protocol_ = lookup("SERVER_PROTOCOL");
  r.path_ = lookup("PATH_INFO");
  r.query_ = lookup("QUERY_STRING");
  // The client's host and address come from the web server only: the
  // "HTTP_" names are request headers, which the client writes itself.
  r.remoteHost_ = env("REMOTE_HOST");
  r.remoteAddr_ = env("REMOTE_ADDR");
  r.contentLength_ = ToIntDef(lookup("HTTP_CONTENT_LENGTH"), -1);
  r.ifNoneMatch_ = env("HTTP_IF_NONE_MATCH");

  // The body is read in full but never parsed; what is kept is bounded so
  // that a huge upload cannot exhaust memory.
  constexpr size_t kKeepBody = 1 << 20;
  long long left = r.contentLength_;
  char buf[65536];
  while (left > 0) {
    size_t want = left < static_cast<long long>(sizeof buf) ? static_cast<size_t>(left) : sizeof buf;
    ssize_t got = ::read(bodyFd, buf, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (r.body_.size() < kKeepBody)
      r.body_.append(buf, std::min(static_cast<size_t>(got), kKeepBody - r.body_.size()));
    left -= got;
  }
  return r;
}

const std::vector<std::string>& Request::Fields() const {
  if (!parsed_) {
    fields_ = SplitQuery(query_);
    parsed_ = true;
  }
  return fields_;
}

std::string Request::Field(std::string_view name) const {
  for (const std::string& line : Fields()) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (SameText(std::string_view(line).substr(0, eq), name)) return line.substr(eq + 1);
  }
  return std::string();
}

int Request::FieldCount() const { return static_cast<int>(Fields().size()); }

}  // namespace wo
