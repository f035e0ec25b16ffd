// The list forms of the calendar (ListanMuoto other than 0): the rows of one
// resource's slots on ChosenDate. RenderSlotList (module/tags.cpp) writes the
// header, loads the activity kinds and calls this once per resource shown.
#include <string>

#include "booking/calendar.h"
#include "base/text.h"
#include "module/module.h"
#include "module/texts.h"

namespace wo {

using calendar::CloseOnExit;

// One row per slot of `resNo` on ChosenDate, from 00:00 (or from the present
// time of day when that day is not in the future) to 23:59, in start order:
// time, "Ale" for Tyyppi "A", resource, kind, the instructor when
// NaytaOhjaaja is set, the booking link. No "</tr>" per row; "</TR>" after
// the last, also when there are none. `resName` is written as given: the
// caller escapes a name that is request input (ResourceNameHtml).
void WebModule::RenderDaySlotRows(std::string_view resNo, std::string_view resName, std::string& out) {
  const DateTime now = Now();
  DateTime from = page.ChosenDate;
  const DateTime to = page.ChosenDate + calendar::EndOfDay();
  if (now > from) from = calendar::WithTimeOfDay(page.ChosenDate, now);

  const std::string& sep = ini.TimeSeparator;
  const bool loggedIn = page.SessionId.size() > 10;
  std::string linkText;  // C38, fetched at the first link
  bool haveLinkText = false;

  store::Table& va = tbl->TblVa;
  CloseOnExit vaCloser(va);
  if (page.SessionId.size() > 5) {
    va.SetIndex(calendar::kReservationsBySlot);
    va.Open();
  }
  try {
    store::Table& slots = tbl->TblFiVuoro;
    CloseOnExit slotsCloser(slots);
    slots.SetIndex(calendar::kSlotsByResource);
    slots.Open();
    slots.SetRange({store::Txt(std::string(resNo)), store::Dt(from)}, {store::Txt(std::string(resNo)), store::Dt(to)});
    for (bool any = !slots.IsEmpty(); any && !slots.Eof(); slots.Next()) {
      const DateTime start = slots.Date("VuoroAika");
      const DateTime end = start + slots.Date("Kesto");
      const std::string tyyppi = Cut(slots.Text("Tyyppi"), 3);
      out += "<tr>\r";
      out += "<td>" + FormatDateTimeShort(start, sep) + " - " + FormatTime(end, sep) + "</td>\r";
      out += tyyppi == "A" ? "<td>Ale</td>\r" : "<td>&nbsp;</td>\r";
      out += "<td>";
      out += resName;
      out += "</td>\r";
      out += "<td>" + ActivityKindText(Cut(slots.Text("Laji"), 5)) + "</td>\r";
      if (settings.NaytaOhjaaja != 0) out += "<td>" + InstructorText(Cut(slots.Text("Ohjaaja"), 5)) + "</td>\r";
      out += "<td>";
      const int maara = static_cast<int>(slots.Int("Maara"));
      bool bookable = loggedIn && maara > 0 && start > now;
      if (bookable) {
        const std::string kausi = Cut(slots.Text("Kausi"), 5);
        const std::string vuoroNo = Cut(slots.Text("VuoroNo"), 5);
        const std::string seq = Cut(slots.Text("VuoroNoSeq"), 5);
        bookable = maara - CountReservations(kausi, vuoroNo, seq) > 0;
        if (bookable) {
          if (!haveLinkText) {
            linkText = TranslatedText(texts::C38);
            haveLinkText = true;
          }
          out += BookingLinkOpen(kausi, vuoroNo, seq) + linkText + "</A>";
        }
      }
      if (!bookable) out += "&nbsp;";
      out += "</td>\r";
    }
  } catch (...) {
    out += "</TR>";
    throw;
  }
  out += "</TR>";
}

}  // namespace wo
