// The calendar: the resource selection (/ResVal) and the calendar page
// (/Viikko), its two forms -- the week grid (week_grid.cpp) and the day
// list (day_list.cpp) -- and the lookups that the grid, the lists and the
// reservation pages share: the names of resources, centres, activity kinds
// and instructors, the places taken in a slot, its booking link and its
// description.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/datetime.h"
#include "module/actions.h"
#include "store/table.h"

namespace wo {

struct RequestContext;

// WEBPAGE /ResVal -- the resource (or centre) and date selection.
// Query: LANG, ID (at least one field, else the error page).
// Answers resval.html, whose form sends ID, Lang, Resurssi, PP, KK and VV
// to /Viikko.
Answer WebModOrvaneWebActResValAction(RequestContext& ctx);

// WEBPAGE /Viikko -- the calendar of one resource (or centre) from a day on.
// Query: LANG, ID, Resurssi, PP, KK, VV (day, month, four-digit year); at
// least five fields, else the error page. A day that is not a date shows
// today. Answers viikko.html; its VUOROLISTA tag draws the week grid or the
// day list.
Answer WebModOrvaneWebActViikkoAction(RequestContext& ctx);

// VUOROLISTA: the week grid (ListanMuoto 0) or the day list (any other).
std::string SlotList(RequestContext& ctx);

// ---- the week grid (week_grid.cpp) ----

// Reads the slots of page.Resurssi from page.ChosenDate to 31 days later,
// 23:59, into ctx.WeekGrid / ctx.TimeRows; sets `out` to the header row:
// the empty corner cell and one "<TH>weekday<BR>dd.mm.yyyy</th>" per day,
// then "</TR>". Reservations are counted per placed slot.
void FillWeekGrid(RequestContext& ctx, std::string& out);
// Appends the grid's rows as FillWeekGrid left them.
void RenderWeekGridRows(RequestContext& ctx, std::string& out);

// ---- the day list (day_list.cpp) ----

// The list forms of VUOROLISTA: a header row, then the day's slots of every
// shown resource of the centre (ListanMuoto 2) or of the one resource.
void RenderSlotList(RequestContext& ctx, std::string& out);
// One row per slot of `resNo` on page.ChosenDate from now (or from its
// midnight when that day is in the future) to 23:59, then "</TR>".
// `resName` is written as given: the caller escapes a name that is request
// input.
void RenderDaySlotRows(RequestContext& ctx, std::string_view resNo, std::string_view resName, std::string& out);

// ---- lookups (calendar.cpp) ----

// VALAJI in Koodi order into ctx.ActivityKinds, at most kMaxKinds of them.
void LoadActivityKinds(RequestContext& ctx);
// The Lyhenne of the first loaded kind whose Koodi is exactly `code`; the
// code itself when none is; "&nbsp;" for an empty result.
std::string ActivityKindText(RequestContext& ctx, std::string_view code);
// By NaytaOhjaaja: 1 the instructor's Lyhenne, 2 the Nimi, 0 "&nbsp;", any
// other value the code. A code VAOHJAAJA lacks shows as itself; an empty
// result as "&nbsp;". VAOHJAAJA stays open until the request ends.
std::string InstructorText(RequestContext& ctx, std::string_view code);
// The name of resource (VARESNIMI) or centre (WEBKESKUS) `code`, cut to
// kNameWidth; the code itself when the table lacks it; "" for "".
std::string ResourceNameOf(RequestContext& ctx, std::string_view code);
std::string CentreNameOf(RequestContext& ctx, std::string_view code);
// The VAVARAUS rows of one slot, whatever their Status; 0 when the session
// ID does not CountsPlaces. Uses TblVa as its caller left it open, or opens
// and closes it itself.
int CountReservations(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo, std::string_view seq);
// "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=..&Lang=..&Kau=..&Vuo=..&Seq=..\">",
// the slot key trimmed.
std::string BookingLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                            std::string_view seq);
// The slot of `vuoro`'s current row for the confirmation pages: sets
// page.Resurssi to its resource and page.ReservationText to "resource :
// dd.mm.yyyy hh:nn - hh:nn kind".
void DescribeSlot(RequestContext& ctx, store::Table& vuoro);

// ---- the calendar's arithmetic ----
namespace calendar {

// The end of a day as a fraction: "23:59".
double EndOfDay();
// `t`, but no later than the last date-time the store holds (31 December
// 9999, 23:59:59): the end of a slot range that would run past year 9999.
DateTime NoLaterThanLastStorable(DateTime t);
// The time of day of t in whole milliseconds (0 .. 86399999).
long long TimeOfDayMs(DateTime t);
// The time of day of `timeOf` on the date of `dateOf`.
DateTime WithTimeOfDay(DateTime dateOf, DateTime timeOf);

// Walks the slots of `resNo` from `from` to `to` (VaVuoro by resource and
// start) in start order, calling `each` on each until it returns false, with
// VAVARAUS open for CountReservations while the session counts places.
// Closes both and ends `out` with "</TR>", also when `each` throws.
void WalkSlots(RequestContext& ctx, std::string_view resNo, DateTime from, DateTime to, std::string& out,
               const std::function<bool(store::Table& slots)>& each);

}  // namespace calendar
}  // namespace wo
