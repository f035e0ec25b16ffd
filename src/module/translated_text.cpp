// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

std::string WebModule::TranslatedText(std::string_view, std::string_view) { Unbuilt("WebModule::TranslatedText"); return {}; }

}  // namespace wo
