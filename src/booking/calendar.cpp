// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActResValAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActResValAction"); }
void WebModule::WebModOrvaneWebActViikkoAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActViikkoAction"); }
void WebModule::FillWeekGrid(std::string&) { Unbuilt("WebModule::FillWeekGrid"); }
void WebModule::RenderWeekGridRows(std::string&) { Unbuilt("WebModule::RenderWeekGridRows"); }
void WebModule::RenderDaySlotRows(std::string_view, std::string_view, std::string&) { Unbuilt("WebModule::RenderDaySlotRows"); }
void WebModule::LoadActivityKinds() { Unbuilt("WebModule::LoadActivityKinds"); }
std::string WebModule::ActivityKindText(std::string_view) { Unbuilt("WebModule::ActivityKindText"); return {}; }
std::string WebModule::InstructorText(std::string_view) { Unbuilt("WebModule::InstructorText"); return {}; }
std::string WebModule::ResourceNameOf(std::string_view) { Unbuilt("WebModule::ResourceNameOf"); return {}; }
std::string WebModule::CentreNameOf(std::string_view) { Unbuilt("WebModule::CentreNameOf"); return {}; }
int WebModule::PlaceInTimeRow(DateTime, DateTime, double, int) { Unbuilt("WebModule::PlaceInTimeRow"); return 0; }
int WebModule::CountReservations(std::string_view, std::string_view, std::string_view) { Unbuilt("WebModule::CountReservations"); return 0; }
std::string WebModule::BookingLinkOpen(std::string_view, std::string_view, std::string_view) { Unbuilt("WebModule::BookingLinkOpen"); return {}; }

}  // namespace wo
