// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActSavRegAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActSavRegAction"); }
void WebModule::WebModOrvaneWebActRecOkAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActRecOkAction"); }
std::string WebModule::NextParamNumber(std::string_view) { Unbuilt("WebModule::NextParamNumber"); return {}; }

}  // namespace wo
