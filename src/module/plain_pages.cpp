// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActRootAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActRootAction"); }
void WebModule::WebModOrvaneWebActLoginAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActLoginAction"); }
void WebModule::WebModOrvaneWebActReginAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActReginAction"); }
void WebModule::WebModOrvaneWebActVaihdaAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVaihdaAction"); }
void WebModule::WebModOrvaneWebActOmatAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActOmatAction"); }

}  // namespace wo
