// Fuzz target: query-string splitting, field decoding and field lookup.
// Besides crashes and sanitizer reports it checks what must hold for every
// input: lookups agree with the split lines, decoding never grows a text,
// and an error names a "%" that really stands at the reported position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frame/request.h"
#include "base/text.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

// Checks the 1-based position that a decoding error message ends with: a
// "%" stands there. (A message that quotes a NUL byte is cut short by
// what(); then only the NUL can be checked.)
void CheckReportedPosition(const std::string& msg, std::string_view query) {
  size_t at = msg.rfind("at position ");
  if (at == std::string::npos) {
    Require(query.find('\0') != std::string_view::npos);
    return;
  }
  size_t pos = static_cast<size_t>(std::strtoull(msg.c_str() + at + 12, nullptr, 10));
  Require(pos >= 1 && pos <= query.size() && query[pos - 1] == '%');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view query(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> lines;
  try {
    lines = wo::SplitQuery(query);
  } catch (const wo::DecodeError& e) {
    CheckReportedPosition(e.what(), query);
    // The request reports the same failure on its first lookup.
    wo::Request req("GET", "/Index", std::string(query));
    bool threw = false;
    try {
      req.Field("ID");
    } catch (const wo::DecodeError&) {
      threw = true;
    }
    Require(threw);
    return 0;
  }

  size_t total = 0;
  for (const std::string& line : lines) {
    Require(!line.empty());
    total += line.size();
  }
  Require(total <= size);

  // Every name that occurs must be found, with the value of its first line.
  wo::Request req("GET", "/Index", std::string(query));
  Require(req.FieldCount() == static_cast<int>(lines.size()));
  for (const std::string& line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    std::string expected;
    for (const std::string& other : lines) {
      size_t e2 = other.find('=');
      if (e2 != std::string::npos && wo::SameText(std::string_view(other).substr(0, e2), name)) {
        expected = other.substr(e2 + 1);
        break;
      }
    }
    Require(req.Field(name) == expected);
    Require(req.Field(wo::Upper(name)) == expected);
  }

  // Decoding a single field: never longer than its input.
  try {
    std::string d = wo::DecodeField(query);
    Require(d.size() <= size);
  } catch (const wo::DecodeError& e) {
    CheckReportedPosition(e.what(), query);
  }
  return 0;
}
