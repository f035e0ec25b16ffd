#include "frame/response.h"

namespace wo {

namespace {

// A header value with its CR and LF percent-encoded, so that no value can
// end the header line it stands in.
std::string HeaderSafe(std::string_view v) {
  std::string r;
  r.reserve(v.size());
  for (char c : v) {
    if (c == '\r')
      r += "%0D";
    else if (c == '\n')
      r += "%0A";
    else
      r += c;
  }
  return r;
}

}  // namespace

Response::Response(Sink sink, bool withHeaders) : sink_(std::move(sink)), withHeaders_(withHeaders) {}

void Response::SetStatus(int code) {
  status_ = code;
  switch (code) {
    case 200: reason_ = "OK"; break;
    case 302: reason_ = "Moved Temporarily"; break;
    case 304: reason_ = "Not Modified"; break;
    case 404: reason_ = "Not Found"; break;
    case 500: reason_ = "Internal Server Error"; break;
    default: reason_.clear();
  }
}

void Response::SendRedirect(std::string_view url) {
  location_ = std::string(url);
  SetStatus(302);
  contentType_ = "text/html";
  content_ = "<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
             "This Object may be found <a HREF=\"";
  content_ += url;
  content_ += "\">here.</a><br>\r\n<br></body></html>\r\n";
  Send();
}

std::string Response::Serialize() const {
  if (!withHeaders_) return content_;
  std::string out;
  out.reserve(content_.size() + 160);
  if (reason_.empty() || status_ <= 0)
    out += "Status: 200 OK\r\n";
  else
    out += "Status: " + std::to_string(status_) + " " + reason_ + "\r\n";
  if (!location_.empty()) out += "Location: " + HeaderSafe(location_) + "\r\n";
  out += "Content-Type: " + HeaderSafe(contentType_) + "\r\n";
  for (const auto& [name, value] : headers_) out += HeaderSafe(name) + ": " + HeaderSafe(value) + "\r\n";
  if (!content_.empty()) out += "Content-Length: " + std::to_string(content_.size()) + "\r\n";
  out += "Content:\r\n\r\n";
  out += content_;
  return out;
}

void Response::Send() {
  if (sent_) return;
  sent_ = true;
  sink_(Serialize());
}

}  // namespace wo
