// Page producers: render an HTML template file, replacing each "<#NAME ...>"
// tag with the text its tag handler returns.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"

namespace wo {

// The template directory of a language code: "..\WebOrvane\Eng\" for "ENG"
// in any case, "..\WebOrvane\Fin\" for anything else.
std::string TemplateDirectory(std::string_view lang);

// Receives the tag name as written and the decoded, quote-stripped
// parameters; returns the replacement text.
using TagHandler = std::function<std::string(std::string_view tag, const std::vector<std::string>& params)>;

// Expands the template text `text` (a whole file's bytes). Throws
// TemplateError for a line longer than the 4096-byte buffer and DecodeError
// for a bad "%" in tag parameters.
std::string ExpandTemplate(std::string_view text, const TagHandler& handler);

class PageProducer {
 public:
  explicit PageProducer(TagHandler handler) : handler_(std::move(handler)) {}

  // The relative file name, backslashes and all ("..\WebOrvane\Fin\index.html").
  // A name equal to the current one without regard to case changes nothing.
  void SetHTMLFile(std::string_view name);
  const std::string& HTMLFile() const { return file_; }

  // Reads the file anew (backslashes taken as "/") and expands it. Throws
  // TemplateError("Cannot open file <name>") when it cannot be read.
  std::string Content() const;

 private:
  TagHandler handler_;
  std::string file_;
};

}  // namespace wo
