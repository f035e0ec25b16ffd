// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActVaihdaSanaAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVaihdaSanaAction"); }
void WebModule::WebModOrvaneWebActVaihdaOkAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVaihdaOkAction"); }

}  // namespace wo
