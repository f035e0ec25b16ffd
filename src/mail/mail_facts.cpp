#include "mail/mail_facts.h"

namespace wo::mail {

std::string EncodeFacts(const Facts& facts) {
  std::string out;
  for (const auto& [name, value] : facts) {
    out += name;
    out += '=';
    for (char c : value) out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
    out += '\n';
  }
  return out;
}

Facts DecodeFacts(std::string_view text) {
  Facts facts;
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    const std::string_view line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos) facts.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
  }
  return facts;
}

std::string FactOf(const Facts& facts, const char* name) {
  auto it = facts.find(name);
  return it == facts.end() ? std::string() : it->second;
}

}  // namespace wo::mail
