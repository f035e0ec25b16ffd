// The calendar: the resource selection (/ResVal) and the calendar page
// (/Viikko), its two forms -- the week grid (week_grid.cpp) and the day
// list (day_list.cpp) -- and the lookups that the grid, the lists and the
// reservation pages share: the names of resources, centres, activity kinds
// and instructors, the places taken in a slot, its booking link and its
// description.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "module/actions.h"
#include "module/texts.h"
#include "store/slot_counts.h"
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
// then "</TR>". The places taken are counted with the slots (WalkSlots,
// SlotPlaces) for a session that CountsPlaces, and for everyone under
// SlotStates.
void FillWeekGrid(RequestContext& ctx, std::string& out);
// Announces the walk FillWeekGrid will make (calendar::AnnounceSlotWalks),
// so that it goes to the server with the next query. REQUIRES:
// page.Resurssi, page.ChosenDate and page.SessionId as the grid reads them.
void AnnounceWeekGrid(RequestContext& ctx);
// Appends the grid's rows as FillWeekGrid left them. Under SlotStates each
// slot's cell shows its state and carries its class (SlotLabels).
void RenderWeekGridRows(RequestContext& ctx, std::string& out);

// ---- the day list (day_list.cpp) ----

// The list forms of VUOROLISTA: a header row, then the day's slots of every
// shown resource of the centre (ListanMuoto 2) or of the one resource.
void RenderSlotList(RequestContext& ctx, std::string& out);
// Announces RenderSlotList's read of the centre page.Resurssi's resources
// (ListanMuoto 2), so that it goes to the server with the next query.
void AnnounceCentreList(RequestContext& ctx);
// One row per slot of `resNo` on page.ChosenDate from now (or from its
// midnight when that day is in the future) to 23:59, then "</TR>".
// `resName` is written as given: the caller escapes a name that is request
// input. The last cell is the slot's booking link, or under SlotStates its
// state (SlotLabels) with the link or the cancellation.
void RenderDaySlotRows(RequestContext& ctx, std::string_view resNo, std::string_view resName, std::string& out);

// The fields of the slot table (VaVuoro) that the calendar's pages read,
// looked up by name once a walk instead of once a row.
struct SlotFields {
  explicit SlotFields(store::Table& t)
      : table(&t),
        start(t["VuoroAika"]),
        kesto(t["Kesto"]),
        tyyppi(t["Tyyppi"]),
        kausi(t["Kausi"]),
        vuoroNo(t["VuoroNo"]),
        seq(t["VuoroNoSeq"]),
        resNo(t["ResNo"]),
        laji(t["Laji"]),
        ohjaaja(t["Ohjaaja"]),
        maara(t["Maara"]) {}
  const store::Table* table;
  store::Field start, kesto, tyyppi, kausi, vuoroNo, seq, resNo, laji, ohjaaja, maara;
};
// `f`'s text cut to a code's width (kCodeWidth).
std::string CodeText(const store::Field& f);

// ---- lookups (calendar.cpp) ----

// VALAJI in Koodi order into ctx.ActivityKinds, at most kMaxKinds of them.
void LoadActivityKinds(RequestContext& ctx);
// Announces the reads of the code tables a page is about to name -- the
// activity kinds, with `instructors` the instructors where the site shows
// them and with `resources` the resource names -- so that they go to the
// database along with the page's next query. A table read into the request
// already (or kept from earlier requests, RequestContext::UseKeptCodeTables),
// or open, is left out. What the lookups answer does not change.
void AnnounceCodeTables(RequestContext& ctx, bool instructors, bool resources);
// The Lyhenne of the first loaded kind whose Koodi is exactly `code`; the
// code itself when none is; "&nbsp;" for an empty result.
std::string ActivityKindText(RequestContext& ctx, std::string_view code);
// By NaytaOhjaaja: 1 the instructor's Lyhenne, 2 the Nimi, 0 "&nbsp;", any
// other value the code. A code VAOHJAAJA lacks shows as itself; an empty
// result as "&nbsp;". VAOHJAAJA stays open until the request ends.
std::string InstructorText(RequestContext& ctx, std::string_view code);
// The name of resource (VARESNIMI) or centre (WEBKESKUS) `code`, cut to
// kNameWidth; the code itself when the table lacks it; "" for "". The
// table is read into the request at the first lookup, for the lookups that
// follow; `lone` (a page naming one code of the table) asks for the one
// row instead while the table is not read.
std::string ResourceNameOf(RequestContext& ctx, std::string_view code, bool lone = false);
std::string CentreNameOf(RequestContext& ctx, std::string_view code, bool lone = false);
// The places taken in the slots of the resources over a walk's window, for
// a list or a grid that counts at all: the reservations come with each
// slot the walk reads (WalkSlots with a customer); under WaitingList the
// places the lines hold come from one count over the window
// (store::CountQueuedPlaces), made when a slot is first asked about.
class SlotPlaces {
 public:
  // `asNo`: the customer whose own reservations and place in a line are
  // counted apart ("" for none, see SessionCustomer). Under WaitingList
  // the window's waiting lists that have something to settle are settled
  // first (SettleLines).
  SlotPlaces(RequestContext& ctx, std::string_view resNo, DateTime from, DateTime to, std::string asNo = {});
  // The slots of every resource in `resNos`.
  SlotPlaces(RequestContext& ctx, std::vector<std::string> resNos, DateTime from, DateTime to, std::string asNo);
  // The places taken in the slot of `slots`' current row, walked with
  // Customer(): its reservations (VAVARAUS rows, whatever their Status) and
  // what its line holds.
  store::SlotTaken Of(const store::Table& slots, std::string_view kausi, std::string_view vuoroNo,
                      std::string_view seq);
  // What the slot's line holds, with rows 0 (nothing without WaitingList).
  const store::SlotTaken& Queued(std::string_view kausi, std::string_view vuoroNo, std::string_view seq);
  const std::string& Customer() const { return asNo_; }

 private:
  RequestContext& ctx_;
  std::vector<std::string> resNos_;
  std::string asNo_;
  DateTime from_, to_;
  std::optional<std::map<store::SlotKeyText, store::SlotTaken>> queued_;
};
// "<A HREF=\"/cgi-bin/WebOrvane.exe/<action>?ID=..&Lang=..&Kau=..&Vuo=..&Seq=..\">",
// the slot key trimmed.
std::string SlotLinkOpen(RequestContext& ctx, std::string_view action, std::string_view kausi,
                         std::string_view vuoroNo, std::string_view seq);
// The same appended to `out`.
void AppendSlotLinkOpen(std::string& out, RequestContext& ctx, std::string_view action, std::string_view kausi,
                        std::string_view vuoroNo, std::string_view seq);
// SlotLinkOpen of "Varaa", returned or appended to `out`.
std::string BookingLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                            std::string_view seq);
void AppendBookingLinkOpen(std::string& out, RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                           std::string_view seq);
// "<A HREF=\"/cgi-bin/WebOrvane.exe/Poista?ID=..&Lang=..&Kau=..&Vuo=..&Seq=..&JNo=..\">":
// the cancellation of reservation `jno` of the slot, the key trimmed.
std::string CancelLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                           std::string_view seq, int64_t jno);
// The slot of `vuoro`'s current row for the confirmation pages: sets
// page.Resurssi to its resource and page.ReservationText to "resource :
// dd.mm.yyyy hh:nn - hh:nn kind".
void DescribeSlot(RequestContext& ctx, store::Table& vuoro);

// ---- the booking's limits in time ----

// At or beyond the booking horizon: the slot starts MaxVarausPv days or
// more after now (to the millisecond).
bool BeyondHorizon(RequestContext& ctx, DateTime start);
// When a slot at `start` comes within the horizon: MaxVarausPv days before it.
DateTime BookableFrom(RequestContext& ctx, DateTime start);
// A reservation of a slot at `start` can be cancelled while the slot starts
// later than now plus PoistaEnnenPv hours, that is until CancellableUntil.
bool Cancellable(RequestContext& ctx, DateTime start);
DateTime CancellableUntil(RequestContext& ctx, DateTime start);

// The name of day `day` (1 = Sunday ... 7 = Saturday) in the page's
// language (texts C58 to C64, the Finnish names by default); "Tuntematon"
// for any other number.
std::string WeekdayName(RequestContext& ctx, int day);

// ---- what a slot is to the one looking at it (INI [Features] SlotStates) ----

enum class SlotState {
  Mine,   // the session's customer holds a place in it
  Past,   // it has started
  Full,   // no place is left
  Offered,  // under WaitingList: a place is held for the customer
  Queued,   // under WaitingList: the customer waits in its line
  Later,  // it lies beyond the booking horizon
  Free    // places are left: bookable with a session
};
// The places of a slot of `maara` places that nobody holds: neither a
// reservation nor a place a waiting list holds for someone else.
inline int FreePlaces(int maara, const store::SlotTaken& taken) { return maara - taken.rows - taken.held; }

// The first of the states above that holds.
SlotState StateOf(RequestContext& ctx, DateTime start, int maara, const store::SlotTaken& taken, DateTime now);

// The customer number (WEBREG.AsNo) of the request's session, whose own
// reservations the calendar shows as Mine: "" without SlotStates or
// without a session (PlainSessionLookup). Leaves WEBREG as it found it.
std::string SessionCustomer(RequestContext& ctx);

// The words of the states, each translated text fetched once per list.
class SlotLabels {
 public:
  explicit SlotLabels(RequestContext& ctx) : ctx_(ctx) {}
  // "slot-free", "slot-full", "slot-mine", "slot-later", "slot-past",
  // "slot-offered", "slot-queued".
  static const char* Class(SlotState s);
  // "N vapaana" (`free` places), "Täynnä", "Oma varaus", "Varattavissa
  // alkaen dd.mm.yyyy" (the date BookableFrom `start`); "" when past,
  // offered or queued (booking/waiting_list.h: LineCell tells those).
  std::string Text(SlotState s, int free, DateTime start);
  // "<span class=\"slot-state\">" + Text + "</span>"; "" when Text is.
  std::string Span(SlotState s, int free, DateTime start);
  // The text of a booking link (C38) and of a cancel link (C50).
  const std::string& Book();
  const std::string& Cancel();

 private:
  const std::string& Fetch(std::optional<std::string>& slot, const TextDef& text);
  RequestContext& ctx_;
  std::optional<std::string> free_, full_, mine_, later_, book_, cancel_;
};

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
// start) in start order, calling `each` on each until it returns false.
// With `countFor` (a customer's AsNo, "" for none) each slot comes with
// the places taken in it (store::PlacesTaken), counted in the walk's query.
// With `days` > 0, only the slots of the first `days` days with slots
// (store::WalkSlotsOfFirstDays).
// Closes VaVuoro and ends `out` with "</TR>", also when `each` throws.
void WalkSlots(RequestContext& ctx, std::string_view resNo, DateTime from, DateTime to, std::string& out,
               const std::function<bool(store::Table& slots)>& each, const std::string* countFor = nullptr,
               int days = 0);
// Announces the walks that WalkSlots(ctx, r, from, to, .., countFor, days) will
// make for each resource r of `resNos` (Table::PrefetchRange), so that
// they go to the server with the first of them. Leaves VaVuoro closed.
void AnnounceSlotWalks(RequestContext& ctx, const std::vector<std::string>& resNos, DateTime from, DateTime to,
                       const std::string* countFor, int days = 0);

}  // namespace calendar
}  // namespace wo
