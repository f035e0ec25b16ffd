// The CGI response: built in memory and written once, so that an error can
// still replace the page and its status.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wo {

class Response {
 public:
  // Receives the bytes of the written response.
  using Sink = std::function<void(std::string_view)>;

  // `withHeaders` false (SERVER_PROTOCOL empty): only the content is written.
  Response(Sink sink, bool withHeaders);

  int status() const { return status_; }
  const std::string& reason() const { return reason_; }
  const std::string& contentType() const { return contentType_; }
  const std::string& location() const { return location_; }
  const std::string& content() const { return content_; }
  bool sent() const { return sent_; }

  // Sets the code and its reason phrase (200 OK, 302 Moved Temporarily,
  // 304 Not Modified, 404 Not Found, 500 Internal Server Error; others get
  // an empty phrase).
  void SetStatus(int code);
  void SetContent(std::string content) { content_ = std::move(content); }
  void SetContentType(std::string type) { contentType_ = std::move(type); }
  // A further header, written after Content-Type as "name: value" (the
  // value's CR and LF percent-encoded).
  void AddHeader(std::string name, std::string value) { headers_.emplace_back(std::move(name), std::move(value)); }

  // Status 302 to `url` with the small "Object Moved" page, written at once.
  void SendRedirect(std::string_view url);

  // Writes the response unless it was written already.
  void Send();

  // The bytes Send would write now (for tests).
  std::string Serialize() const;

 private:
  Sink sink_;
  bool withHeaders_;
  int status_ = 200;
  std::string reason_ = "OK";
  std::string contentType_ = "text/html";
  std::string location_;
  std::string content_;
  std::vector<std::pair<std::string, std::string>> headers_;
  bool sent_ = false;
};

}  // namespace wo
