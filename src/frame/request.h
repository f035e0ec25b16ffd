// The CGI request: built once from the environment and standard input, then
// read-only. Query fields are split and decoded on first use.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace wo {

// Decodes one field or parameter: "+" is a space, "%%" is "%", "%XX" the
// byte XX. `basePos` is the 1-based position of s[0] in the text that error
// messages speak of. Throws DecodeError.
std::string DecodeField(std::string_view s, size_t basePos = 1);

// Splits a query string into its decoded "name=value" lines.
std::vector<std::string> SplitQuery(std::string_view query);

class Request {
 public:
  // Looks a variable up; returns "" when it is not set.
  using Env = std::function<std::string(const std::string&)>;

  // Reads the CGI variables through `env` and the body (CONTENT_LENGTH
  // bytes) from file descriptor `bodyFd`.
  static Request FromCgi(const Env& env, int bodyFd);

  const std::string& method() const { return method_; }
  const std::string& protocol() const { return protocol_; }
  const std::string& path() const { return path_; }
  const std::string& query() const { return query_; }
  long long contentLength() const { return contentLength_; }
  const std::string& body() const { return body_; }
  const std::string& remoteHost() const { return remoteHost_; }
  const std::string& remoteAddr() const { return remoteAddr_; }
  // The If-None-Match header of a conditional request; "" without one.
  const std::string& ifNoneMatch() const { return ifNoneMatch_; }

  // The value of the first field whose name equals `name` without regard
  // to case; "" when there is none. Throws DecodeError on a bad query.
  std::string Field(std::string_view name) const;
  // The number of fields the query yields. Throws DecodeError.
  int FieldCount() const;

  // For tests and tools.
  Request() = default;
  Request(std::string method, std::string path, std::string query);

 private:
  const std::vector<std::string>& Fields() const;

  std::string method_, protocol_, path_, query_, body_, remoteHost_, remoteAddr_, ifNoneMatch_;
  long long contentLength_ = -1;
  mutable bool parsed_ = false;
  mutable std::vector<std::string> fields_;

 public:
  void SetRemote(std::string host, std::string addr) {
    remoteHost_ = std::move(host);
    remoteAddr_ = std::move(addr);
  }
  void SetProtocol(std::string p) { protocol_ = std::move(p); }
};

}  // namespace wo
