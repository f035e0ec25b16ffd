// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

std::string WebModule::PageProdRootHTMLTag(std::string_view) { Unbuilt("WebModule::PageProdRootHTMLTag"); return {}; }
std::string WebModule::BuildResourceOptions() { Unbuilt("WebModule::BuildResourceOptions"); return {}; }
std::string WebModule::BuildDayOptions() { Unbuilt("WebModule::BuildDayOptions"); return {}; }
std::string WebModule::BuildMonthOptions() { Unbuilt("WebModule::BuildMonthOptions"); return {}; }
std::string WebModule::BuildYearOptions() { Unbuilt("WebModule::BuildYearOptions"); return {}; }
std::string WebModule::BuildCodeSelect(std::string_view) { Unbuilt("WebModule::BuildCodeSelect"); return {}; }
void WebModule::RenderSlotList(std::string&) { Unbuilt("WebModule::RenderSlotList"); }
std::string WebModule::ErrorText() { Unbuilt("WebModule::ErrorText"); return {}; }
void WebModule::LoadRegistrationDetails() { Unbuilt("WebModule::LoadRegistrationDetails"); }
std::string PadLeft15(std::string_view) { Unbuilt("PadLeft15"); return {}; }
std::string FinnishWeekdayName(int) { Unbuilt("FinnishWeekdayName"); return {}; }

}  // namespace wo
