// The resource selection and the calendar page, and the lookups the
// calendar's forms and the reservation pages share.
#include "booking/calendar.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "booking/common.h"
#include "booking/waiting_list.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

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
               const std::function<bool(store::Table& slots)>& each, const std::string* countFor, int days) {
  try {
    store::Table& slots = ctx.tbl->TblFiVuoro;
    TableGuard slotsGuard{&slots};
    slots.SetIndex(kSlotsByResource);
    store::WalkSlotsOfFirstDays(ctx.conn, slots, resNo, from, to, days, countFor, each);
  } catch (...) {
    out += "</TR>";
    throw;
  }
  out += "</TR>";
}

void AnnounceSlotWalks(RequestContext& ctx, const std::vector<std::string>& resNos, DateTime from, DateTime to,
                       const std::string* countFor, int days) {
  store::Table& slots = ctx.tbl->TblFiVuoro;
  if (slots.IsOpen() || !store::ReadsAhead(ctx.conn)) return;
  // Closing the handle forgets the counting until WalkSlots sets it again.
  try {
    slots.SetIndex(kSlotsByResource);
    store::SetUpFirstPartOfWalk(ctx.conn, slots, from, days, countFor);
    for (const std::string& res : resNos)
      slots.PrefetchRange({store::Txt(res), store::Dt(from)}, {store::Txt(res), store::Dt(to)});
  } catch (...) {
    slots.Close();
    throw;
  }
  slots.Close();
}

}  // namespace calendar

Answer WebModOrvaneWebActResValAction(RequestContext& ctx) {
  return Answer::Page(ctx.pages.PageProdResVal, "resval.html");
}

Answer WebModOrvaneWebActViikkoAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const Request& rq = ctx.req;
  page.Resurssi = Cut(rq.Field("Resurssi"), kCodeWidth);
  auto number = [&](std::string_view name) {
    long long v = ToIntDef(rq.Field(name), 0);
    return (v < -100000 || v > 100000) ? 0 : static_cast<int>(v);
  };
  const int day = number("PP"), month = number("KK"), year = number("VV");
  page.ChosenDate = IsValidDate(year, month, day) ? EncodeDate(year, month, day) : DateOf(ctx.Now());
  // The grid and the lists name activity kinds and instructors: their
  // tables, and the grid's slots or the centre's resources, go along with
  // the heading's lookup.
  AnnounceCodeTables(ctx, true, false);
  if (ctx.settings.ListanMuoto == 0) AnnounceWeekGrid(ctx);
  if (ctx.settings.ListanMuoto == 2) AnnounceCentreList(ctx);
  page.ResourceName = Cut(
      ctx.settings.ListanMuoto == 2 ? CentreNameOf(ctx, page.Resurssi, true) : ResourceNameOf(ctx, page.Resurssi, true),
      kNameWidth);
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

// Code tables are read into the request at their first lookup: a page
// names a few codes again and again. At most this many rows are kept; a
// code beyond them is looked up on its own.
constexpr size_t kMaxCodeRowsRead = 1000;

// The values of `columns` of the row of `code` in `t` (a table whose code
// column `key` is its unique index), nullptr when there is none. A handle
// left open by a caller is used as it is, by a key lookup. `lone`: the
// caller names only this code of the table, so a table not read into the
// request yet is asked for the one row instead, which `cache` keeps among
// the codes so asked (CodeRows::lonesOnly). The answer points into
// `cache` or, for a row not kept there, into `scratch`; it stays valid
// until the next lookup with either.
const std::vector<std::string>* LookUpCode(RequestContext::CodeRows& cache, store::Table& t, std::string_view key,
                                           std::initializer_list<std::string_view> columns, std::string_view code,
                                           std::vector<std::string>& scratch, bool lone = false) {
  auto read = [&]() {
    std::vector<std::string> v;
    for (std::string_view c : columns) v.push_back(t.Text(c));
    return v;
  };
  auto readInto = [&]() {
    scratch = read();
    return &scratch;
  };
  TableGuard guard{&t};
  if (t.IsOpen()) {
    if (!t.FindKey({store::Txt(std::string(code))})) return nullptr;
    return readInto();
  }
  // A key lookup compares the code cut to the column's width.
  const store::ColumnDef* keyColumn = t.def().Column(key);
  const std::string cut = keyColumn ? Cut(code, static_cast<size_t>(keyColumn->width)) : std::string(code);
  auto& rows = cache.rows;
  // A code read into the request already is answered without the table.
  if (rows) {
    if (auto it = rows->find(cut); it != rows->end()) return &it->second;
    if (cache.whole) return nullptr;
  }
  t.SetIndex(key);
  t.Open();
  // A code asked for alone is kept with the others so asked: a FastCGI
  // worker's next heading finds it while the database is unchanged.
  const bool onlyLones = !rows || cache.lonesOnly;
  if (onlyLones && lone) {
    if (!t.FindKey({store::Txt(cut)})) return nullptr;
    if (!rows) {
      rows.emplace();
      cache.lonesOnly = true;
    }
    return &rows->emplace(cut, read()).first->second;
  }
  if (onlyLones) {
    rows.emplace();
    cache.lonesOnly = false;
    for (t.First(); !t.Eof() && rows->size() < kMaxCodeRowsRead; t.Next()) rows->emplace(t.Text(key), read());
    cache.whole = t.Eof();
    if (auto it = rows->find(cut); it != rows->end()) return &it->second;
  }
  if (cache.whole || !t.FindKey({store::Txt(cut)})) return nullptr;
  return &rows->emplace(cut, read()).first->second;
}

// The name column of `code`; the code itself when the table lacks it; ""
// for "".
std::string NameOf(RequestContext::CodeRows& cache, store::Table& t, std::string_view key,
                   std::string_view nameColumn, std::string_view code, bool lone) {
  if (code.empty()) return std::string();
  std::vector<std::string> scratch;
  const std::vector<std::string>* row = LookUpCode(cache, t, key, {nameColumn}, code, scratch, lone);
  return Cut(row ? std::string_view((*row)[0]) : code, kNameWidth);
}

}  // namespace

std::string ResourceNameOf(RequestContext& ctx, std::string_view code, bool lone) {
  ctx.UseKeptCodeTables(!lone);
  return NameOf(ctx.codes.resourceNames, ctx.tbl->TblResNimi, "ResNo", "ResNimi", code, lone);
}

std::string CentreNameOf(RequestContext& ctx, std::string_view code, bool lone) {
  ctx.UseKeptCodeTables(!lone);
  return NameOf(ctx.codes.centreNames, ctx.tbl->TblWebKeskus, "WebKeskus", "WebKeskusNimi", code, lone);
}

std::string InstructorText(RequestContext& ctx, std::string_view code) {
  ctx.UseKeptCodeTables();
  std::string_view shown = code;
  std::vector<std::string> scratch;
  if (!code.empty()) {
    const auto* row =
        LookUpCode(ctx.codes.instructors, ctx.tbl->TblVaOhjaaja, "Koodi", {"Lyhenne", "Nimi"}, code, scratch);
    if (row) {
      switch (ctx.settings.NaytaOhjaaja) {
        case 0: shown = "&nbsp;"; break;
        case 1: shown = (*row)[0]; break;
        case 2: shown = (*row)[1]; break;
        default: break;
      }
    }
  }
  std::string result = Cut(shown, kNameWidth);
  return result.empty() ? std::string("&nbsp;") : result;
}

std::string ActivityKindText(RequestContext& ctx, std::string_view code) {
  std::string_view shown = code;
  if (!code.empty()) {
    const int n = std::min<int>(ctx.KindCount, static_cast<int>(ctx.ActivityKinds.size()));
    for (int i = 0; i < n; ++i) {
      if (ctx.ActivityKinds[i].Koodi == code) {
        shown = ctx.ActivityKinds[i].Lyhenne;
        break;
      }
    }
  }
  return shown.empty() ? std::string("&nbsp;") : std::string(shown);
}

void LoadActivityKinds(RequestContext& ctx) {
  ctx.UseKeptCodeTables();
  store::Table& t = ctx.tbl->TblVaLaji;
  // Read in Koodi order already: the same rows again.
  const bool ownOrder = !t.IsOpen();
  if (ownOrder && ctx.codes.kinds) {
    ctx.ActivityKinds = *ctx.codes.kinds;
    ctx.KindCount = static_cast<int>(ctx.ActivityKinds.size());
    return;
  }
  ctx.ActivityKinds.clear();
  ctx.KindCount = 0;
  TableGuard guard{&t};
  if (ownOrder) {
    t.SetIndex("Koodi");
    t.Open();
  }
  t.First();
  while (!t.Eof() && ctx.KindCount < kMaxKinds) {
    ctx.ActivityKinds.push_back({Cut(t.Text("Koodi"), kCodeWidth), Cut(t.Text("Lyhenne"), kNameWidth)});
    ++ctx.KindCount;
    t.Next();
  }
  if (ownOrder) ctx.codes.kinds = ctx.ActivityKinds;
}

void AnnounceCodeTables(RequestContext& ctx, bool instructors, bool resources) {
  // What earlier requests read and still holds is not read again.
  ctx.UseKeptCodeTables(false);
  auto announce = [](store::Table& t, std::string_view key) {
    if (t.IsOpen()) return;
    t.SetIndex(key);
    t.Prefetch();
  };
  const CodeTables& kept = ctx.codes;
  if (!kept.kinds) announce(ctx.tbl->TblVaLaji, "Koodi");
  if (instructors && ctx.settings.NaytaOhjaaja != 0 && !kept.instructors.rows) announce(ctx.tbl->TblVaOhjaaja, "Koodi");
  if (resources && (!kept.resourceNames.rows || kept.resourceNames.lonesOnly)) announce(ctx.tbl->TblResNimi, "ResNo");
}

SlotPlaces::SlotPlaces(RequestContext& ctx, std::string_view resNo, DateTime from, DateTime to, std::string asNo)
    : SlotPlaces(ctx, std::vector<std::string>{std::string(resNo)}, from, to, std::move(asNo)) {}

SlotPlaces::SlotPlaces(RequestContext& ctx, std::vector<std::string> resNos, DateTime from, DateTime to,
                       std::string asNo)
    : ctx_(ctx), resNos_(std::move(resNos)), asNo_(std::move(asNo)), from_(from), to_(to) {
  // An empty list would settle every line of the site.
  if (ctx.ini.WaitingList && !resNos_.empty()) SettleLines(ctx.conn, ctx.ini, resNos_, from_, to_, ctx.Now());
}

store::SlotTaken SlotPlaces::Of(const store::Table& slots, std::string_view kausi, std::string_view vuoroNo,
                                std::string_view seq) {
  store::SlotTaken t = Queued(kausi, vuoroNo, seq);
  const store::SlotTaken taken = store::PlacesTaken(slots);
  t.rows = taken.rows;
  t.own = taken.own;
  t.ownOpenJno = taken.ownOpenJno;
  return t;
}

const store::SlotTaken& SlotPlaces::Queued(std::string_view kausi, std::string_view vuoroNo, std::string_view seq) {
  static const store::SlotTaken kNone;
  if (!ctx_.ini.WaitingList) return kNone;
  if (!queued_) {
    queued_.emplace();
    store::CountQueuedPlaces(ctx_.conn, resNos_, from_, to_, asNo_, ctx_.Now(), *queued_);
  }
  auto it = queued_->find({std::string(kausi), std::string(vuoroNo), std::string(seq)});
  return it == queued_->end() ? kNone : it->second;
}

std::string CodeText(const store::Field& f) {
  std::string s = f.AsText();
  if (s.size() > kCodeWidth) s.resize(kCodeWidth);
  return s;
}

void AppendSlotLinkOpen(std::string& out, RequestContext& ctx, std::string_view action, std::string_view kausi,
                        std::string_view vuoroNo, std::string_view seq) {
  AppendProgramLinkOpen(out, action,
                        {{"ID", ctx.page.SessionId},
                         {"Lang", ctx.page.Lang},
                         {"Kau", TrimmedView(kausi)},
                         {"Vuo", TrimmedView(vuoroNo)},
                         {"Seq", TrimmedView(seq)}});
}

std::string SlotLinkOpen(RequestContext& ctx, std::string_view action, std::string_view kausi,
                         std::string_view vuoroNo, std::string_view seq) {
  std::string link;
  AppendSlotLinkOpen(link, ctx, action, kausi, vuoroNo, seq);
  return link;
}

std::string BookingLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                            std::string_view seq) {
  return SlotLinkOpen(ctx, "Varaa", kausi, vuoroNo, seq);
}

void AppendBookingLinkOpen(std::string& out, RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                           std::string_view seq) {
  AppendSlotLinkOpen(out, ctx, "Varaa", kausi, vuoroNo, seq);
}

std::string CancelLinkOpen(RequestContext& ctx, std::string_view kausi, std::string_view vuoroNo,
                           std::string_view seq, int64_t jno) {
  const std::string kau = Trim(kausi), vuo = Trim(vuoroNo), sq = Trim(seq), j = std::to_string(jno);
  return ProgramLinkOpen("Poista", {{"ID", ctx.page.SessionId},
                                    {"Lang", ctx.page.Lang},
                                    {"Kau", kau},
                                    {"Vuo", vuo},
                                    {"Seq", sq},
                                    {"JNo", j}});
}

void DescribeSlot(RequestContext& ctx, store::Table& vuoro) {
  const DateTime start = vuoro.Date("VuoroAika");
  const DateTime end = start + vuoro.Date("Kesto");
  const std::string resNo = vuoro.Text("ResNo");
  const std::string laji = vuoro.Text("Laji");
  ctx.page.Resurssi = Cut(resNo, kCodeWidth);
  LoadActivityKinds(ctx);
  const std::string& sep = ctx.TimeSep();
  ctx.page.ReservationText = Cut(ResourceNameOf(ctx, resNo, true) + " : " + FormatDateTimeShort(start, sep) + " - " +
                                     FormatTime(end, sep) + " " + ActivityKindText(ctx, laji),
                                 kReservationTextWidth);
}

bool BeyondHorizon(RequestContext& ctx, DateTime start) {
  return Millis(start) >= Millis(ctx.Now()) + ctx.settings.MaxVarausPv * kMillisPerDay;
}

DateTime BookableFrom(RequestContext& ctx, DateTime start) { return start - ctx.settings.MaxVarausPv; }

bool Cancellable(RequestContext& ctx, DateTime start) {
  return Millis(start) > Millis(ctx.Now()) + ctx.settings.PoistaEnnenPv * kMillisPerHour;
}

DateTime CancellableUntil(RequestContext& ctx, DateTime start) {
  return start - ctx.settings.PoistaEnnenPv / 24.0;
}

std::string WeekdayName(RequestContext& ctx, int day) {
  static constexpr const TextDef* kDays[] = {&texts::C58, &texts::C59, &texts::C60, &texts::C61,
                                             &texts::C62, &texts::C63, &texts::C64};
  if (day < 1 || day > 7) return FinnishWeekdayName(day);
  return ctx.TranslatedText(*kDays[day - 1]);
}

SlotState StateOf(RequestContext& ctx, DateTime start, int maara, const store::SlotTaken& taken, DateTime now) {
  if (taken.own > 0) return SlotState::Mine;
  if (Millis(start) <= Millis(now)) return SlotState::Past;
  if (Millis(taken.ownOfferUntil) > Millis(now)) return SlotState::Offered;
  if (taken.ownQueued) return SlotState::Queued;
  if (FreePlaces(maara, taken) <= 0) return SlotState::Full;
  if (BeyondHorizon(ctx, start)) return SlotState::Later;
  return SlotState::Free;
}

std::string SessionCustomer(RequestContext& ctx) {
  if (!ctx.ini.SlotStates || !ShowsMenu(ctx.page.SessionId)) return {};
  auto& asked = ctx.SessionCustomerAsked;
  if (asked && asked->first == ctx.page.SessionId) return asked->second;
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  std::string asNo = PlainSessionLookup(ctx) ? reg.Text("AsNo") : std::string();
  asked.emplace(ctx.page.SessionId, asNo);
  return asNo;
}

const char* SlotLabels::Class(SlotState s) {
  switch (s) {
    case SlotState::Mine: return "slot-mine";
    case SlotState::Past: return "slot-past";
    case SlotState::Full: return "slot-full";
    case SlotState::Later: return "slot-later";
    case SlotState::Free: return "slot-free";
    case SlotState::Offered: return "slot-offered";
    case SlotState::Queued: return "slot-queued";
  }
  return "";
}

const std::string& SlotLabels::Fetch(std::optional<std::string>& slot, const TextDef& text) {
  if (!slot) slot = ctx_.TranslatedText(text);
  return *slot;
}

std::string SlotLabels::Text(SlotState s, int free, DateTime start) {
  switch (s) {
    case SlotState::Mine: return Fetch(mine_, texts::C56);
    case SlotState::Past:
    case SlotState::Offered:
    case SlotState::Queued: return {};
    case SlotState::Full: return Fetch(full_, texts::C55);
    case SlotState::Later: return Fetch(later_, texts::C57) + " " + FormatDate(BookableFrom(ctx_, start));
    case SlotState::Free: return std::to_string(free) + " " + Fetch(free_, texts::C54);
  }
  return {};
}

std::string SlotLabels::Span(SlotState s, int free, DateTime start) {
  std::string text = Text(s, free, start);
  return text.empty() ? text : "<span class=\"slot-state\">" + text + "</span>";
}

const std::string& SlotLabels::Book() { return Fetch(book_, texts::C38); }
const std::string& SlotLabels::Cancel() { return Fetch(cancel_, texts::C50); }

}  // namespace wo
