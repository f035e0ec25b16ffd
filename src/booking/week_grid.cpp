// The week grid form of the calendar (ListanMuoto 0): up to seven days that
// have slots, counted from ChosenDate within 32 days, as the columns of a
// table. Ordinary slots fill rows 1, 2, 3 ... of their day; fixed-time slots
// (Tyyppi "S") sit on time rows shared by all days, kept in time order.
//
// The grid holds kGridRows rows and kGridColumns columns and is never
// written outside them: a slot that would need a row beyond the last is left
// out of the page, and no slot ever takes a cell that another slot holds.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "booking/calendar.h"
#include "booking/waiting_list.h"
#include "booking/common.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

namespace {

bool Bookable(const std::string& sessionId, int maara, int reserved, DateTime start, DateTime now) {
  return ShowsMenu(sessionId) && maara - reserved > 0 && start > now;
}

// The grid holds the rows up to the last one in use (never fewer than
// RowCount): a week seldom needs more than a few dozen of its kGridRows,
// and each row is seven cells of codes. `rows` more are made empty here.
void GrowGrid(RequestContext& m, int rows) {
  if (m.WeekGrid.size() < static_cast<size_t>(rows)) m.WeekGrid.resize(static_cast<size_t>(rows));
}

// The row of a fixed-time slot: the first time row of its time of day whose
// cell in `column` is free (the first such row at all when column is 0);
// otherwise a new time row after the earlier (and equal) ones. Inserting a
// row moves the time rows below it one row down, and the cells of every day
// column too when the row at that place is in use (as a time row or by any
// cell). 0 when the new row does not fit: the grid is full.
int PlaceInTimeRow(RequestContext& m, DateTime start, DateTime end, double kesto, int column) {
  auto& grid = m.WeekGrid;
  auto& timeRows = m.TimeRows;
  if (timeRows.size() < static_cast<size_t>(kGridRows)) return 0;
  const bool checkColumn = column >= 1 && column <= kGridColumns;
  const long long time = calendar::TimeOfDayMs(start);
  int before = 0;
  for (int r = 1; r <= m.RowCount; ++r) {
    const TimeRow& tr = timeRows[r - 1];
    if (!tr.Used) continue;
    const long long t = calendar::TimeOfDayMs(tr.Start);
    if (t < time) {
      before = r;
    } else if (t == time) {
      if (!checkColumn || !grid[r - 1][column - 1].Used) return r;
      before = r;  // taken in this column by a slot of the same time: look on
    }
  }

  if (m.RowCount >= kGridRows) return 0;  // the last row would be pushed out
  GrowGrid(m, m.RowCount + 1);
  const int p = before + 1;
  bool inUse = timeRows[p - 1].Used != 0;
  for (int c = 1; c <= m.ColumnCount && !inUse; ++c) inUse = grid[p - 1][c - 1].Used != 0;
  if (inUse && m.ColumnCount > 0) {
    for (int c = 1; c <= std::min(m.ColumnCount, kGridColumns); ++c) {
      for (int r = m.RowCount; r >= p; --r) grid[r][c - 1] = grid[r - 1][c - 1];
      grid[p - 1][c - 1].Used = 0;
    }
  }
  for (int r = m.RowCount; r >= p; --r) timeRows[r] = timeRows[r - 1];
  timeRows[p - 1] = TimeRow{start, end, kesto, 1};
  ++m.RowCount;
  return p;
}

// The slot at the reader's row goes into the grid: a new day column when
// its day differs from the last one, then its cell.
struct GridFill {
  RequestContext& ctx;
  std::string& out;
  // The start of the last slot placed: the end of the window whose lines
  // are settled and counted.
  std::optional<DateTime> lastStart;
  bool counts = false;  // the slots come with the places taken in them
  int column = 0, row = 1;
  bool havePreviousDay = false;
  DateTime previousDay = 0;
  bool anyOrdinary = false;  // the kinds are needed only for ordinary cells
  std::optional<SlotFields> f{};

  // False when the slot is on an eighth day, which ends the reading.
  bool Place(store::Table& slots);
  void Fill(GridCell& c, store::Table& slots, const std::string& tyyppi, DateTime start, double kesto, int target);
};

bool GridFill::Place(store::Table& slots) {
  if (!f || f->table != &slots) f.emplace(slots);
  const DateTime start = f->start.AsDateTime();
  const double kesto = f->kesto.AsDateTime();
  const std::string tyyppi = Cut(f->tyyppi.AsText(), 3);
  const DateTime day = DateOf(start);
  if (!havePreviousDay || day != previousDay) {
    ++column;
    row = 1;
    havePreviousDay = true;
    previousDay = day;
    if (column <= kGridColumns) {
      out += "<TH>";
      out += ctx.ini.PageLanguage ? WeekdayName(ctx, DayOfWeek(day)) : FinnishWeekdayName(DayOfWeek(day));
      out += "<BR>";
      out += FormatDate(day);
      out += "</th>\r";
    }
  }
  if (column > kGridColumns) return false;

  int target = 0;  // 0: no room, the slot is left out
  if (tyyppi == "S") {
    target = PlaceInTimeRow(ctx, start, start + kesto, kesto, column);
  } else {
    // Only cells moved down by a new time row can be in the way.
    const int made = static_cast<int>(ctx.WeekGrid.size());
    while (row <= made && ctx.WeekGrid[row - 1][column - 1].Used) ++row;
    if (row <= kGridRows) target = row;
  }
  if (target > 0) {
    GrowGrid(ctx, target);
    Fill(ctx.WeekGrid[target - 1][column - 1], slots, tyyppi, start, kesto, target);
  }
  return true;
}

void GridFill::Fill(GridCell& c, store::Table& slots, const std::string& tyyppi, DateTime start, double kesto,
                    int target) {
  c.Kausi = CodeText(f->kausi);
  c.VuoroNo = CodeText(f->vuoroNo);
  c.VuoroNoSeq = CodeText(f->seq);
  c.ResNo = CodeText(f->resNo);
  c.Laji = CodeText(f->laji);
  c.Ohjaaja = CodeText(f->ohjaaja);
  c.Tyyppi = tyyppi;
  c.Start = start;
  c.End = start + kesto;
  c.Kesto = kesto;
  c.Maara = static_cast<int>(f->maara.AsInt());
  if (counts) {
    const store::SlotTaken taken = store::PlacesTaken(slots);
    c.Reserved = taken.rows;
    c.Own = taken.own;
    c.OwnJno = taken.ownOpenJno;
  }
  c.Used = 1;
  lastStart = start;
  ctx.ColumnCount = std::max(ctx.ColumnCount, column);
  ctx.RowCount = std::max(ctx.RowCount, target);
  row = target + 1;
  if (tyyppi != "S") anyOrdinary = true;
}

// What the grid's walk reads: its window, and whether the places are
// counted and whose are the customer's own.
struct GridWindow {
  explicit GridWindow(RequestContext& ctx)
      : counts(ctx.ini.SlotStates || CountsPlaces(ctx.page.SessionId)),
        asNo(counts ? SessionCustomer(ctx) : std::string()) {}
  static DateTime From(const PageState& page) { return page.ChosenDate; }
  // The last weeks of year 9999 look no further than its end.
  static DateTime To(const PageState& page) {
    return calendar::NoLaterThanLastStorable(page.ChosenDate + 31 + calendar::EndOfDay());
  }
  bool counts;
  std::string asNo;
};

}  // namespace

void AnnounceWeekGrid(RequestContext& ctx) {
  const GridWindow window(ctx);
  calendar::AnnounceSlotWalks(ctx, {ctx.page.Resurssi}, GridWindow::From(ctx.page), GridWindow::To(ctx.page),
                              window.counts ? &window.asNo : nullptr, kGridColumns);
}

void FillWeekGrid(RequestContext& ctx, std::string& out) {
  // A grid made here starts empty; one filled before is emptied. Its rows
  // are made as the slots reach them (GrowGrid).
  ctx.WeekGrid.clear();
  ctx.WeekGrid.reserve(kGridRows);
  ctx.TimeRows.assign(kGridRows, TimeRow{});
  out = "<TR><th>&nbsp;</th>\r";

  const PageState& page = ctx.page;
  const DateTime from = GridWindow::From(page), to = GridWindow::To(page);
  GridFill fill{ctx, out, std::nullopt};
  const GridWindow window(ctx);
  fill.counts = window.counts;
  ctx.RowCount = 0;
  ctx.ColumnCount = 1;
  const std::string& asNo = window.asNo;
  calendar::WalkSlots(
      ctx, page.Resurssi, from, to, out, [&](store::Table& slots) { return fill.Place(slots); },
      fill.counts ? &asNo : nullptr, kGridColumns);
  // The lines are settled and counted once the walk has found the last day
  // shown: the window ends at the last slot placed, not a month on.
  if (fill.lastStart && fill.counts && ctx.ini.WaitingList) {
    SlotPlaces places(ctx, page.Resurssi, from, *fill.lastStart, asNo);
    for (auto& gridRow : ctx.WeekGrid)
      for (GridCell& c : gridRow) {
        if (!c.Used) continue;
        const store::SlotTaken& line = places.Queued(c.Kausi, c.VuoroNo, c.VuoroNoSeq);
        c.Held = line.held;
        c.OwnQueued = line.ownQueued;
        c.OwnOfferUntil = line.ownOfferUntil;
      }
  }
  if (fill.anyOrdinary) LoadActivityKinds(ctx);
}

namespace {

// An ordinary cell's text appended to `out`: its times, its kind ("%"
// after a reduced-price one) and, when shown, its instructor.
void AppendCellText(RequestContext& ctx, const GridCell& cell, std::string_view sep, std::string& out) {
  AppendTimeSpan(out, cell.Start, cell.End, sep);
  out += "<br>";
  out += ActivityKindText(ctx, cell.Laji);
  if (cell.Tyyppi == "A") out += " %";
  if (ctx.settings.NaytaOhjaaja != 0 && !cell.Ohjaaja.empty()) {
    out += "<br>";
    out += InstructorText(ctx, cell.Ohjaaja);
  }
}

// A plain cell, without states, appended to `out`: a bookable slot
// carries the booking link; a fixed-time cell shows nothing else, and
// "&nbsp;" when it is not bookable.
void AppendPlainCell(RequestContext& ctx, const GridCell& cell, std::string_view sep, DateTime now,
                     SlotLabels& labels, std::string& out) {
  const bool bookable = Bookable(ctx.page.SessionId, cell.Maara, cell.Reserved + cell.Held, cell.Start, now);
  out += "<td>";
  if (cell.Tyyppi == "S") {
    if (bookable) {
      // Its link reads "Varaa"; in the page's language under PageLanguage.
      AppendBookingLinkOpen(out, ctx, cell.Kausi, cell.VuoroNo, cell.VuoroNoSeq);
      out += ctx.ini.PageLanguage ? labels.Book() : "Varaa";
      out += "</A>";
    } else {
      out += "&nbsp;";
    }
  } else {
    if (bookable) AppendBookingLinkOpen(out, ctx, cell.Kausi, cell.VuoroNo, cell.VuoroNoSeq);
    AppendCellText(ctx, cell, sep, out);
    if (bookable) out += "</A>";
  }
  out += "</td>\r";
}

// A cell under SlotStates: the slot's text (a fixed-time cell's time, shown
// where the time column is not), then its state; a free slot is the
// booking link to a session, a held one offers its cancellation while it
// can be cancelled. A fixed-time slot that has started shows nothing.
std::string StateCell(RequestContext& ctx, const GridCell& cell, std::string text, DateTime now,
                      SlotLabels& labels, std::string& tdClass) {
  const store::SlotTaken taken{cell.Reserved, cell.Own, cell.OwnJno, cell.Held, cell.OwnQueued, cell.OwnOfferUntil};
  const SlotState state = StateOf(ctx, cell.Start, cell.Maara, taken, now);
  if (cell.Tyyppi == "S" && state == SlotState::Past) return {};
  tdClass = SlotLabels::Class(state);
  const std::string span = labels.Span(state, FreePlaces(cell.Maara, taken), cell.Start);
  if (cell.Tyyppi == "S")
    text = "<span class=\"slot-time\">" + text + "<br></span>" + span;
  else if (!span.empty())
    text += "<br>" + span;
  if (state == SlotState::Free && ShowsMenu(ctx.page.SessionId))
    return BookingLinkOpen(ctx, cell.Kausi, cell.VuoroNo, cell.VuoroNoSeq) + text + "</A>";
  if (state == SlotState::Mine && cell.OwnJno >= 0 && Cancellable(ctx, cell.Start))
    text.append(" ")
        .append(CancelLinkOpen(ctx, cell.Kausi, cell.VuoroNo, cell.VuoroNoSeq, cell.OwnJno))
        .append(labels.Cancel())
        .append("</A>");
  const std::string line = LineCell(ctx, state, taken, cell.Kausi, cell.VuoroNo, cell.VuoroNoSeq, cell.Start);
  if (!line.empty()) text.append(" ").append(line);
  return text;
}

}  // namespace

// Column 0 shows a time row's "hh:nn-hh:nn" or the row number, a day column
// its cell ("&nbsp;" when empty).
void RenderWeekGridRows(RequestContext& ctx, std::string& out) {
  const int rows = std::min({ctx.RowCount, kGridRows, static_cast<int>(ctx.WeekGrid.size()),
                             static_cast<int>(ctx.TimeRows.size())});
  if (rows <= 0) return;
  const int columns = std::min(ctx.ColumnCount, kGridColumns);
  const DateTime now = ctx.Now();
  const std::string& sep = ctx.TimeSep();
  SlotLabels labels(ctx);
  for (int r = 1; r <= rows; ++r) {
    out += "<tr>\r";
    const TimeRow& tr = ctx.TimeRows[r - 1];
    out += "<td>";
    if (tr.Used) {
      AppendTimeSpan(out, tr.Start, tr.End, sep);
    } else {
      out += std::to_string(r);
    }
    out += "</td>\r";
    for (int c = 1; c <= columns; ++c) {
      const GridCell& cell = ctx.WeekGrid[r - 1][c - 1];
      if (cell.Used && !ctx.ini.SlotStates) {
        AppendPlainCell(ctx, cell, sep, now, labels, out);
        continue;
      }
      std::string content, tdClass;
      if (cell.Used) {
        std::string text;
        if (cell.Tyyppi == "S")
          AppendTimeSpan(text, cell.Start, cell.End, sep);
        else
          AppendCellText(ctx, cell, sep, text);
        content = StateCell(ctx, cell, std::move(text), now, labels, tdClass);
      }
      if (tdClass.empty()) {
        out += "<td>";
      } else {
        out += "<td class=\"";
        out += tdClass;
        out += "\">";
      }
      out += content.empty() ? std::string_view("&nbsp;") : std::string_view(content);
      out += "</td>\r";
    }
    out += "</tr>\r";
  }
}

}  // namespace wo
