#include "frame/page_producer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "frame/request.h"
#include "base/text.h"

namespace wo {

namespace {

constexpr size_t kLineBuffer = 4096;

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsWordChar(unsigned char c) { return IsLetter(c) || (c >= '0' && c <= '9'); }

// The end of the token that starts at i (REQUIRES: i < s.size()).
size_t TokenEnd(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t j = i + 1;
  if (IsBlank(c)) {
    while (j < s.size() && IsBlank(static_cast<unsigned char>(s[j]))) ++j;
  } else if (IsLetter(c)) {
    while (j < s.size() && IsWordChar(static_cast<unsigned char>(s[j]))) ++j;
  }
  return j;
}

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// A template is read through a 4096-byte buffer a line at a time: a line
// (with its line feed) longer than the buffer cannot be parsed.
void CheckLineLengths(std::string_view text) {
  size_t start = 0;
  int line = 1;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    size_t len = (lf == std::string_view::npos ? text.size() : lf + 1) - start;
    if (len > kLineBuffer) throw TemplateError("Line too long on line " + std::to_string(line));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
    ++line;
  }
}

// Removes quotes read from the end in pairs of one kind; an unmatched one
// goes too, and a quote of the other kind inside a pair becomes an entity.
std::string StripQuotes(std::string_view p) {
  std::string rev;
  char open = 0;
  for (size_t k = p.size(); k-- > 0;) {
    char c = p[k];
    if (c == '"' || c == '\'') {
      if (open == 0) {
        open = c;
      } else if (c == open) {
        open = 0;
      } else {
        const char* ent = c == '\'' ? "&#39;" : "&quot;";
        std::string e(ent);
        rev.append(e.rbegin(), e.rend());
      }
      continue;
    }
    rev += c;
  }
  return std::string(rev.rbegin(), rev.rend());
}

std::vector<std::string> SplitParams(std::string_view text) {
  std::vector<std::string> params;
  std::string t = Trim(text);
  size_t i = 0;
  while (i < t.size()) {
    while (i < t.size() && (t[i] == ' ' || t[i] == '\r' || t[i] == '\n')) ++i;
    if (i >= t.size()) break;
    size_t start = i;
    bool quoted = false;
    while (i < t.size() && (quoted || t[i] != ' ')) {
      if (t[i] == '"') quoted = !quoted;
      ++i;
    }
    params.push_back(StripQuotes(DecodeField(std::string_view(t).substr(start, i - start))));
  }
  return params;
}

// Reads the file at `path` into `text`: as many bytes as its size says in
// one read, and on until the end for a file that grows meanwhile or is no
// regular file. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  size_t want = regular ? static_cast<size_t>(st.st_size) + 1 : 8192;
  bool ok = true;
  for (;;) {
    const size_t had = text.size();
    text.resize(had + want);
    const ssize_t got = ::read(fd, text.data() + had, want);
    if (got < 0 && errno == EINTR) {
      text.resize(had);
      continue;
    }
    if (got < 0) ok = false;
    text.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
    // A short read of a regular file is its end.
    if (got <= 0 || (regular && static_cast<size_t>(got) < want)) break;
    want = 8192;
  }
  ::close(fd);
  return ok;
}

}  // namespace

std::string TemplateDirectory(std::string_view lang) {
  return Upper(lang) == "ENG" ? "..\\WebOrvane\\Eng\\" : "..\\WebOrvane\\Fin\\";
}

std::string ExpandTemplate(std::string_view s, const TagHandler& handler) {
  CheckLineLengths(s);
  std::string out;
  out.reserve(s.size() + s.size() / 2);
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '<') {
      // Text up to the next "<" goes out as it is.
      size_t j = s.find('<', i);
      if (j == std::string_view::npos) j = s.size();
      out.append(s.substr(i, j - i));
      i = j;
      continue;
    }
    size_t after = SkipBlanks(s, i + 1);
    if (after < s.size() && s[after] == '#') {
      size_t n = SkipBlanks(s, after + 1);
      size_t nameEnd = n < s.size() ? TokenEnd(s, n) : n;
      std::string_view name = s.substr(n, nameEnd - n);
      size_t k = nameEnd;
      bool dq = false, sq = false;
      while (k < s.size()) {
        char c = s[k];
        if (c == '"' && !sq)
          dq = !dq;
        else if (c == '\'' && !dq)
          sq = !sq;
        else if (c == '>' && !dq && !sq)
          break;
        ++k;
      }
      std::vector<std::string> params = SplitParams(s.substr(nameEnd, k - nameEnd));
      out += handler(name, params);
      i = k < s.size() ? k + 1 : k;
      continue;
    }
    // Not a tag: "<", then the next token without the blanks before it.
    out += '<';
    if (after < s.size()) {
      size_t j = TokenEnd(s, after);
      out.append(s.substr(after, j - after));
      i = j;
    } else {
      i = after;
    }
  }
  return out;
}

void PageProducer::SetHTMLFile(std::string_view name) {
  if (SameText(name, file_)) return;
  file_ = std::string(name);
}

std::string PageProducer::Content() const {
  std::string path = file_;
  for (char& c : path)
    if (c == '\\') c = '/';
  std::string text;
  if (!ReadWholeFile(path, text)) throw TemplateError("Cannot open file " + file_);
  return ExpandTemplate(text, handler_);
}

}  // namespace wo
