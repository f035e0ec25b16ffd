// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActVaraaAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVaraaAction"); }
void WebModule::WebModOrvaneWebActVarAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVarAction"); }
void WebModule::WebModOrvaneWebActVarOkAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActVarOkAction"); }
int WebModule::CommitReservation(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&, std::string, int, double&, bool&) { Unbuilt("WebModule::CommitReservation"); return 0; }
void WebModule::CountOpenReservations(std::string_view, int&, int&) { Unbuilt("WebModule::CountOpenReservations"); }
std::string PadKey5(std::string_view) { Unbuilt("PadKey5"); return {}; }

}  // namespace wo
