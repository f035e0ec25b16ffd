// The resource selection and the calendar page, and the lookups the
// calendar's forms and the reservation pages share.
#include "booking/calendar.h"

#include <algorithm>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "booking/common.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"

namespace wo {

using namespace booking;

namespace calendar {

double EndOfDay() { return EncodeTime(23, 59, 0); }

DateTime NoLaterThanLastStorable(DateTime t) {
  const DateTime last = EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59);
  return t < last ? t : last;
}

long long TimeOfDayMs(DateTime t) {
  DateParts p = Decode(t);
  return ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.msec;
}

DateTime WithTimeOfDay(DateTime dateOf, DateTime timeOf) {
  DateParts p = Decode(timeOf);
  return DateOf(dateOf) + EncodeTime(p.hour, p.minute, p.second, p.msec);
}

void WalkSlots(RequestContext& ctx, std::string_view resNo, DateTime from, DateTime to, std::string& out,
               const std::function<bool(store::Table& slots)>& each) {
  store::Table& va = ctx.tbl->TblVa;
  TableGuard vaGuard{&va};
  // VAVARAUS is needed only for counting, which a visitor without a
  // session never does.
  if (CountsPlaces(ctx.page.SessionId)) {
    va.SetIndex(kReservationsBySlot);
    va.Open();
  }
  try {
    store::Table& slots = ctx.tbl->TblFiVuoro;
    TableGuard slotsGuard{&slots};
    slots.SetIndex(kSlotsByResource);
    slots.Open();
    const std::string res(resNo);
    slots.SetRange({store::Txt(res), store::Dt(from)}, {store::Txt(res), store::Dt(to)});
    for (bool any = !slots.IsEmpty(); any && !slots.Eof() && each(slots); slots.Next()) {
    }
  } catch (...) {
    out += "</TR>";
    throw;
  }
  out += "</TR>";
}

}  // namespace calendar

Answer WebModOrvaneWebActResValAction(RequestContext& ctx) {
  return Answer::Page(ctx.pages.PageProdResVal, "resval.html");
}

Answer WebModOrvaneWebActViikkoAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const Request& rq = ctx.req;
  page.Resurssi = Cut(rq.Field("Resurssi"), kCodeWidth);
  page.ResourceName = Cut(
      ctx.settings.ListanMuoto == 2 ? CentreNameOf(ctx, page.Resurssi) : ResourceNameOf(ctx, page.Resurssi),
      kNameWidth);

  auto number = [&](std::string_view name) {
    long long v = ToIntDef(rq.Field(name), 0);
    return (v < -100000 || v > 100000) ? 0 : static_cast<int>(v);
  };
  const int day = number("PP"), month = number("KK"), year = number("VV");
  page.ChosenDate = IsValidDate(year, month, day) ? EncodeDate(year, month, day) : DateOf(ctx.Now());
  return Answer::Page(ctx.pages.PageProdViikko, "viikko.html");
}

std::string SlotList(RequestContext& ctx) {
  std::string out;
  if (ctx.settings.ListanMuoto == 0) {
    FillWeekGrid(ctx, out);
    RenderWeekGridRows(ctx, out);
  } else {
    RenderSlotList(ctx, out);
  }
  return out;
}

namespace {

// The name column of `code` in `t` (opened by `index` when closed); the code
// itself when the table lacks it; "" for "".
std::string NameOf(store::Table& t, std::string_view index, std::string_view nameColumn, std::string_view code) {
  std::string result(code);
  if (code.empty()) return result;
  TableGuard guard{&t};
  if (!t.IsOpen()) {
    t.SetIndex(index);
    t.Open();
  }
  if (t.FindKey({store::Txt(std::string(code))})) result = t.Text(nameColumn);
  return Cut(result, kNameWidth);
}

}  // namespace

std::string ResourceNameOf(RequestContext& ctx, std::string_view code) {
  return NameOf(ctx.tbl->TblResNimi, "ResNo", "ResNimi", code);
}

std::string CentreNameOf(RequestContext& ctx, std::string_view code) {
  return NameOf(ctx.tbl->TblWebKeskus, "WebKeskus", "WebKeskusNimi", code);
}

std::string InstructorText(RequestContext& ctx, std::string_view code) {
  std::string result(code);
  if (!code.empty()) {
    store::Table& t = ctx.tbl->TblVaOhjaaja;
    if (!t.IsOpen()) {
      t.SetIndex("Koodi");
      t.Open();
    }
    if (t.FindKey({store::Txt(std::string(code))})) {
      switch (ctx.settings.NaytaOhjaaja) {
        case 0: result = "&nbsp;"; break;
        case 1: result = t.Text("Lyhenne"); break;
        case 2: result = t.Text("Nimi"); break;
        default: break;
      }
    }
  }
  result = Cut(result, kNameWidth);
  return result.empty() ? std::string("&nbsp;") : result;
}

std::string ActivityKindText(RequestContext& ctx, std::string_view code) {
  std::string result(code);
  if (!code.empty()) {
    const int n = std::min<int>(ctx.KindCount, static_cast<int>(ctx.ActivityKinds.size()));
    for (int i = 0; i < n; ++i) {
      if (ctx.ActivityKinds[i].Koodi == code) {
        result = ctx.ActivityKinds[i].Lyhenne;
        break;
      }
    }
  }
  return result.empty() ? std::string("&nbsp;") : result;
}

void LoadActivityKinds(RequestContext& ctx) {
  ctx.ActivityKinds.clear();
  ctx.KindCount = 0;
  store::Table& t = ctx.tbl->TblVaLaji;
  TableGuard guard{&t};
  if (!t.IsOpen()) {
    t.SetIndex("Koodi");
    t.Open();
  }
  t.First();
  while (!t.Eof() && ctx.KindCount < kMaxKinds) {
    ctx.ActivityKinds.push_back({Cut(t.Text("Koodi"), kCodeWidth), Cut(t.Text("Lyhenne"), kNameWidth)});
    ++ctx.KindCount;
    t.Next();
  }
}

int CountReservations(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo, std::string_view seq) {
  if (!CountsPlaces(ctx.page.SessionId)) return 0;
  store::Table& t = ctx.tbl->TblVa;
  TableGuard guard{&t};
  if (!t.IsOpen()) {
    t.SetIndex(kReservationsBySlot);
    t.Open();
  }
  const std::vector<store::Value> key = {store::Txt(std::string(kausi)), store::Txt(std::string(vuoroNo)),
                                         store::Txt(std::string(seq))};
  t.SetRange(key, key);
  const int n = t.RecordCount();
  t.CancelRange();
  return n;
}

std::string BookingLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                            std::string_view seq) {
  const std::string kau = Trim(kausi), vuo = Trim(vuoroNo), sq = Trim(seq);
  return LinkOpen(ProgramUrl(
      "Varaa", {{"ID", ctx.page.SessionId}, {"Lang", ctx.page.Lang}, {"Kau", kau}, {"Vuo", vuo}, {"Seq", sq}}));
}

void DescribeSlot(RequestContext& ctx, store::Table& vuoro) {
  const DateTime start = vuoro.Date("VuoroAika");
  const DateTime end = start + vuoro.Date("Kesto");
  const std::string resNo = vuoro.Text("ResNo");
  const std::string laji = vuoro.Text("Laji");
  ctx.page.Resurssi = Cut(resNo, kCodeWidth);
  LoadActivityKinds(ctx);
  const std::string& sep = ctx.TimeSep();
  ctx.page.ReservationText = Cut(ResourceNameOf(ctx, resNo) + " : " + FormatDateTimeShort(start, sep) + " - " +
                                     FormatTime(end, sep) + " " + ActivityKindText(ctx, laji),
                                 kReservationTextWidth);
}

}  // namespace wo
