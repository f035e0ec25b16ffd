// The list forms of the calendar (ListanMuoto other than 0): a header row,
// then one row per slot of the day, of the one resource or of every shown
// resource of the centre (ListanMuoto 2).
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "booking/calendar.h"
#include "booking/common.h"
#include "booking/waiting_list.h"
#include "module/tags.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

namespace {

// The plain booking cell: the slot's link while the session may
// book it (ShowsMenu, places left, not started), "&nbsp;" otherwise.
void AppendBookingCell(RequestContext& ctx, store::Table& slots, const SlotFields& f, DateTime start, DateTime now,
                       SlotPlaces& places, SlotLabels& labels, std::string& out) {
  const int maara = static_cast<int>(f.maara.AsInt());
  if (ShowsMenu(ctx.page.SessionId) && maara > 0 && start > now) {
    const std::string kausi = CodeText(f.kausi), vuoroNo = CodeText(f.vuoroNo), seq = CodeText(f.seq);
    if (FreePlaces(maara, places.Of(slots, kausi, vuoroNo, seq)) > 0) {
      out += "<td>";
      AppendBookingLinkOpen(out, ctx, kausi, vuoroNo, seq);
      out += labels.Book();
      out += "</A></td>\r";
      return;
    }
  }
  out += "<td>&nbsp;</td>\r";
}

// The booking cell under SlotStates: the slot's state, then its booking
// link (a free slot, to a session) or its cancellation (a held one, while
// it can be cancelled).
std::string StateCell(RequestContext& ctx, store::Table& slots, const SlotFields& f, DateTime start, DateTime now,
                      SlotPlaces& places, SlotLabels& labels) {
  const int maara = static_cast<int>(f.maara.AsInt());
  const std::string kausi = CodeText(f.kausi), vuoroNo = CodeText(f.vuoroNo), seq = CodeText(f.seq);
  const store::SlotTaken taken = places.Of(slots, kausi, vuoroNo, seq);
  const SlotState state = StateOf(ctx, start, maara, taken, now);
  std::string cell = labels.Span(state, FreePlaces(maara, taken), start);
  if (state == SlotState::Free && ShowsMenu(ctx.page.SessionId))
    cell.append(" ").append(BookingLinkOpen(ctx, kausi, vuoroNo, seq)).append(labels.Book()).append("</A>");
  if (state == SlotState::Mine && taken.ownOpenJno >= 0 && Cancellable(ctx, start))
    cell.append(" ").append(CancelLinkOpen(ctx, kausi, vuoroNo, seq, taken.ownOpenJno)).append(labels.Cancel()).append("</A>");
  const std::string line = LineCell(ctx, state, taken, kausi, vuoroNo, seq, start);
  if (!line.empty()) cell.append(cell.empty() ? "" : " ").append(line);
  if (cell.empty()) cell = "&nbsp;";
  return std::string("<td class=\"") + SlotLabels::Class(state) + "\">" + cell + "</td>\r";
}

// The cells that ask for the places: every one under SlotStates, the
// booking links of a session that shows the menu otherwise.
bool ListCounts(const RequestContext& ctx) { return ctx.ini.SlotStates || ShowsMenu(ctx.page.SessionId); }

// The day's window: from the chosen day's start, or from the present time
// of day when the day has begun, to 23:59.
struct DayWindow {
  DateTime from, to;
  explicit DayWindow(RequestContext& ctx) {
    const DateTime now = ctx.Now();
    from = ctx.page.ChosenDate;
    to = ctx.page.ChosenDate + calendar::EndOfDay();
    if (now > from) from = calendar::WithTimeOfDay(ctx.page.ChosenDate, now);
  }
};

void DaySlotRows(RequestContext& ctx, const DayWindow& day, std::string_view resNo, std::string_view resName,
                 SlotPlaces& places, std::string& out) {
  const DateTime now = ctx.Now();
  const DateTime from = day.from, to = day.to;

  const std::string& sep = ctx.TimeSep();
  SlotLabels labels(ctx);
  // "Ale" marks a reduced-price slot; in the page's language under
  // PageLanguage.
  std::optional<std::string> reduced;
  const bool counts = ListCounts(ctx);

  std::optional<SlotFields> f;
  calendar::WalkSlots(ctx, resNo, from, to, out, [&](store::Table& slots) {
    if (!f || f->table != &slots) f.emplace(slots);
    const DateTime start = f->start.AsDateTime();
    const DateTime end = start + f->kesto.AsDateTime();
    const std::string tyyppi = Cut(f->tyyppi.AsText(), 3);
    out += "<tr>\r";
    out += "<td>";
    AppendDateTimeShort(out, start, sep);
    out += " - ";
    AppendTime(out, end, sep);
    out += "</td>\r";
    if (tyyppi == "A") {
      if (!reduced) reduced = ctx.ini.PageLanguage ? ctx.TranslatedText(texts::C65) : "Ale";
      out += "<td>";
      out += *reduced;
      out += "</td>\r";
    } else {
      out += "<td>&nbsp;</td>\r";
    }
    out += "<td>";
    out += resName;
    out += "</td>\r";
    out += "<td>";
    out += ActivityKindText(ctx, CodeText(f->laji));
    out += "</td>\r";
    if (ctx.settings.NaytaOhjaaja != 0) {
      out += "<td>";
      out += InstructorText(ctx, CodeText(f->ohjaaja));
      out += "</td>\r";
    }
    if (ctx.ini.SlotStates)
      out += StateCell(ctx, slots, *f, start, now, places, labels);
    else
      AppendBookingCell(ctx, slots, *f, start, now, places, labels, out);
    return true;
  }, counts ? &places.Customer() : nullptr);
}

}  // namespace

// Each row: time, "Ale" for Tyyppi "A", resource, kind, the instructor when
// NaytaOhjaaja is set, the booking cell. No "</tr>" per row; "</TR>" after
// the last, also when there are none.
void RenderDaySlotRows(RequestContext& ctx, std::string_view resNo, std::string_view resName, std::string& out) {
  const DayWindow day(ctx);
  SlotPlaces places(ctx, resNo, day.from, day.to, SessionCustomer(ctx));
  DaySlotRows(ctx, day, resNo, resName, places, out);
}

void AnnounceCentreList(RequestContext& ctx) {
  store::Table& t = ctx.tbl->TblRes;
  ctx.UseKeptCodeTables(false);
  if (t.IsOpen() || ctx.codes.centreLists.contains(ctx.page.Resurssi)) return;
  t.PrefetchRange({store::Txt(ctx.page.Resurssi), store::Int(1)}, {store::Txt(ctx.page.Resurssi), store::Int(1)});
}

void RenderSlotList(RequestContext& ctx, std::string& out) {
  out += "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>" + ctx.TranslatedText(texts::C39) + "</th><th>" +
         ctx.TranslatedText(texts::C40) + "</th><th>" + ctx.TranslatedText(texts::C41) + "</th>";
  if (ctx.settings.NaytaOhjaaja != 0) out += "<th>" + ctx.TranslatedText(texts::C41a) + "</th>";
  out += "<th>" + ctx.TranslatedText(texts::C42) + "</th>\r</tr>\r";
  LoadActivityKinds(ctx);
  const PageState& page = ctx.page;
  const std::string asNo = SessionCustomer(ctx);
  if (ctx.settings.ListanMuoto == 2) {
    // The shown resources first: the places of all of them are counted at
    // once. A process that serves many requests keeps them by centre.
    ctx.UseKeptCodeTables();
    auto kept = ctx.codes.centreLists.find(page.Resurssi);
    if (kept == ctx.codes.centreLists.end()) {
      store::Table& t = ctx.tbl->TblRes;  // by ResKeskus;ResWebNayta;ResNimi
      TableGuard guard{&t};
      t.Open();
      t.SetRange({store::Txt(page.Resurssi), store::Int(1)}, {store::Txt(page.Resurssi), store::Int(1)});
      CentreResources read;
      for (; !t.Eof(); t.Next()) {
        if (t.Int("ResWebNayta") != 1) continue;
        read.codes.push_back(Cut(t.Text("ResNo"), kCodeWidth));
        read.names.push_back(Cut(t.Text("ResNimi"), kNameWidth));
      }
      if (ctx.codes.centreLists.size() >= kMaxKeptCentreLists) ctx.codes.centreLists.clear();
      kept = ctx.codes.centreLists.emplace(page.Resurssi, std::move(read)).first;
    }
    const std::vector<std::string>& codes = kept->second.codes;
    const std::vector<std::string>& names = kept->second.names;
    // One window for all of them, and their walks go to the server together.
    const DayWindow day(ctx);
    SlotPlaces places(ctx, codes, day.from, day.to, asNo);
    calendar::AnnounceSlotWalks(ctx, codes, day.from, day.to, ListCounts(ctx) ? &places.Customer() : nullptr);
    for (size_t i = 0; i < codes.size(); ++i) DaySlotRows(ctx, day, codes[i], names[i], places, out);
  } else {
    const DayWindow day(ctx);
    SlotPlaces places(ctx, page.Resurssi, day.from, day.to, asNo);
    DaySlotRows(ctx, day, page.Resurssi, ResourceNameHtml(page), places, out);
  }
}

}  // namespace wo
