// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActPoistaAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActPoistaAction"); }
void WebModule::WebModOrvaneWebActPoisVarAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActPoisVarAction"); }
void WebModule::WebModOrvaneWebActPoisOkAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActPoisOkAction"); }
void WebModule::BuildOwnReservationList(std::string&) { Unbuilt("WebModule::BuildOwnReservationList"); }
void WebModule::GetCustomerBalance(std::string_view, double&) { Unbuilt("WebModule::GetCustomerBalance"); }

}  // namespace wo
