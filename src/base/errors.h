// The errors that cross floors: raised where they happen (the store, the
// request, a template) and caught once by the frame, which reports each
// under its name (frame/cgi.h, ErrorTypeName). Expected refusals are pages,
// never these.
#pragma once

#include <stdexcept>

namespace wo {

// A query string or tag parameter that cannot be decoded ("%4", "%zz").
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A template that cannot be opened or has a line too long for the buffer.
class TemplateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace store {

// Every failure of the database: connecting, a statement, a value that a
// field cannot hold, a refused write.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace store
}  // namespace wo
