// The list forms of the calendar (ListanMuoto other than 0): a header row,
// then one row per slot of the day, of the one resource or of every shown
// resource of the centre (ListanMuoto 2).
#include <optional>
#include <string>

#include "base/format.h"
#include "base/text.h"
#include "booking/calendar.h"
#include "booking/common.h"
#include "module/tags.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

void RenderSlotList(RequestContext& ctx, std::string& out) {
  out += "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>" + ctx.TranslatedText(texts::C39) + "</th><th>" +
         ctx.TranslatedText(texts::C40) + "</th><th>" + ctx.TranslatedText(texts::C41) + "</th>";
  if (ctx.settings.NaytaOhjaaja != 0) out += "<th>" + ctx.TranslatedText(texts::C41a) + "</th>";
  out += "<th>" + ctx.TranslatedText(texts::C42) + "</th>\r</tr>\r";
  LoadActivityKinds(ctx);
  const PageState& page = ctx.page;
  if (ctx.settings.ListanMuoto == 2) {
    store::Table& t = ctx.tbl->TblRes;  // by ResKeskus;ResWebNayta;ResNimi
    TableGuard guard{&t};
    t.Open();
    t.SetRange({store::Txt(page.Resurssi), store::Int(1)}, {store::Txt(page.Resurssi), store::Int(1)});
    for (; !t.Eof(); t.Next()) {
      if (t.Int("ResWebNayta") != 1) continue;
      RenderDaySlotRows(ctx, Cut(t.Text("ResNo"), kCodeWidth), Cut(t.Text("ResNimi"), kNameWidth), out);
    }
  } else {
    RenderDaySlotRows(ctx, page.Resurssi, ResourceNameHtml(page), out);
  }
}

namespace {

// The booking cell of the slot at the reader's row: its link while the
// session may book it (ShowsMenu, places left, not started), "&nbsp;"
// otherwise. `linkText` is C38, fetched at the first link.
std::string BookingCell(RequestContext& ctx, store::Table& slots, DateTime start, DateTime now,
                        std::optional<std::string>& linkText) {
  const int maara = static_cast<int>(slots.Int("Maara"));
  if (!ShowsMenu(ctx.page.SessionId) || maara <= 0 || start <= now) return "&nbsp;";
  const std::string kausi = Cut(slots.Text("Kausi"), kCodeWidth);
  const std::string vuoroNo = Cut(slots.Text("VuoroNo"), kCodeWidth);
  const std::string seq = Cut(slots.Text("VuoroNoSeq"), kCodeWidth);
  if (maara - CountReservations(ctx, kausi, vuoroNo, seq) <= 0) return "&nbsp;";
  if (!linkText) linkText = ctx.TranslatedText(texts::C38);
  return BookingLinkOpen(ctx, kausi, vuoroNo, seq) + *linkText + "</A>";
}

}  // namespace

// Each row: time, "Ale" for Tyyppi "A", resource, kind, the instructor when
// NaytaOhjaaja is set, the booking cell. No "</tr>" per row; "</TR>" after
// the last, also when there are none.
void RenderDaySlotRows(RequestContext& ctx, std::string_view resNo, std::string_view resName, std::string& out) {
  const DateTime now = ctx.Now();
  const PageState& page = ctx.page;
  DateTime from = page.ChosenDate;
  const DateTime to = page.ChosenDate + calendar::EndOfDay();
  if (now > from) from = calendar::WithTimeOfDay(page.ChosenDate, now);

  const std::string& sep = ctx.TimeSep();
  std::optional<std::string> linkText;

  calendar::WalkSlots(ctx, resNo, from, to, out, [&](store::Table& slots) {
    const DateTime start = slots.Date("VuoroAika");
    const DateTime end = start + slots.Date("Kesto");
    const std::string tyyppi = Cut(slots.Text("Tyyppi"), 3);
    out += "<tr>\r";
    out += "<td>" + FormatDateTimeShort(start, sep) + " - " + FormatTime(end, sep) + "</td>\r";
    out += tyyppi == "A" ? "<td>Ale</td>\r" : "<td>&nbsp;</td>\r";
    out += "<td>";
    out += resName;
    out += "</td>\r";
    out += "<td>" + ActivityKindText(ctx, Cut(slots.Text("Laji"), kCodeWidth)) + "</td>\r";
    if (ctx.settings.NaytaOhjaaja != 0)
      out += "<td>" + InstructorText(ctx, Cut(slots.Text("Ohjaaja"), kCodeWidth)) + "</td>\r";
    out += "<td>" + BookingCell(ctx, slots, start, now, linkText) + "</td>\r";
    return true;
  });
}

}  // namespace wo
