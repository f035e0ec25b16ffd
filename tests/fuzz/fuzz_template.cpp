// Fuzz target: the template parser with tag names and parameters. The tag
// handler records what it is given and answers with text that itself looks
// like a tag, which must reach the output unexpanded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frame/page_producer.h"
#include "frame/request.h"

namespace {

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t calls = 0;
  size_t paramBytes = 0;
  auto handler = [&](std::string_view tag, const std::vector<std::string>& params) {
    ++calls;
    // A tag name is a word or a single byte, never blank (bytes 1..32).
    Require(tag.size() <= size);
    if (tag.size() > 1) {
      for (char c : tag) Require(static_cast<unsigned char>(c) > 32);
    }
    for (const std::string& p : params) paramBytes += p.size();
    return std::string("<#INNER x=1>");
  };
  std::string out;
  try {
    out = wo::ExpandTemplate(text, handler);
  } catch (const wo::TemplateError& e) {
    Require(std::string_view(e.what()).substr(0, 14) == "Line too long ");
    return 0;
  } catch (const wo::DecodeError&) {
    Require(text.find('%') != std::string_view::npos);
    return 0;
  }
  // A template without "<" is copied byte for byte and calls no handler.
  if (text.find('<') == std::string_view::npos) {
    Require(out == text);
    Require(calls == 0);
  }
  // Replacements are not scanned again: each call left its text intact.
  size_t found = 0;
  for (size_t at = out.find("<#INNER x=1>"); at != std::string::npos; at = out.find("<#INNER x=1>", at + 1))
    ++found;
  Require(found >= calls);
  // Parameters are decoded from the tag text, which never grows on decoding;
  // quote stripping may add entities (at most 6 bytes for one quote).
  Require(paramBytes <= size * 6);
  return 0;
}
