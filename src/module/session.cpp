// The session lookups of the request's ID.
#include "module/session.h"

#include <utility>

#include "base/text.h"
#include "module/context.h"

namespace wo {

namespace {

struct DaySeconds {
  long day;
  long secs;
};

// The day number and the whole seconds since midnight of a date-time
// (fractions of a second dropped).
DaySeconds SplitDateTime(DateTime t) {
  DateParts p = Decode(t);
  return DaySeconds{static_cast<long>(EncodeDate(p.year, p.month, p.day)),
                    p.hour * 3600L + p.minute * 60L + p.second};
}

constexpr std::string_view kSessionIndex = "ID;Tunnus";

// Positions TblWebReg on the row of the request's ID.
bool FindSessionRow(RequestContext& ctx) {
  store::Table& reg = ctx.tbl->TblWebReg;
  reg.SetIndex(kSessionIndex);
  reg.Open();
  return reg.FindKey({store::Txt(ctx.page.SessionId)});
}

}  // namespace

bool IsBlocked(store::Table& reg) { return reg.Int("Status") == kBlockedStatus; }

bool SessionTimedOut(DateTime aika, DateTime now) {
  DaySeconds a = SplitDateTime(aika), b = SplitDateTime(now);
  // The difference has no sign: a value in the future counts as well.
  if (b.day < a.day || (b.day == a.day && b.secs < a.secs)) std::swap(a, b);
  long days = b.day - a.day;
  long secs = b.secs - a.secs;
  if (secs < 0) {
    --days;
    secs += 86400;
  }
  return days > 0 || secs > 600;
}

bool PlainSessionLookup(RequestContext& ctx) {
  if (IsNone(ctx.page.SessionId)) return false;
  // A blocked user has no session, whatever the row's ID still says.
  return FindSessionRow(ctx) && !IsBlocked(ctx.tbl->TblWebReg);
}

void AnnounceSessionLookup(RequestContext& ctx, std::string_view id, bool details) {
  if (details ? !ShowsMenu(id) : IsNone(id)) return;
  store::Table& reg = ctx.tbl->TblWebReg;
  if (reg.IsOpen()) return;
  const std::string old = reg.Index();
  reg.SetIndex(kSessionIndex);
  reg.PrefetchKey({store::Txt(std::string(id))});
  reg.SetIndex(old);
}

bool DetailsSessionLookup(RequestContext& ctx) {
  if (!ShowsMenu(ctx.page.SessionId)) return false;
  store::Table& reg = ctx.tbl->TblWebReg;
  return FindSessionRow(ctx) && !IsBlocked(reg) && ctx.Now() - reg.Date("Aika") < 0.5;
}

SessionState IdleTestedSession(RequestContext& ctx) {
  if (!PlainSessionLookup(ctx)) return SessionState::None;
  store::Table& reg = ctx.tbl->TblWebReg;
  if (SessionTimedOut(reg.Date("Aika"), ctx.Now())) {
    reg.Edit();
    reg["ID"].SetText(kNoSession);
    reg["Aika"].SetDateTime(ctx.Now());
    reg.Post();
    return SessionState::TimedOut;
  }
  return SessionState::Valid;
}

void RefreshSession(RequestContext& ctx) {
  store::Table& reg = ctx.tbl->TblWebReg;
  reg.Edit();
  reg["Aika"].SetDateTime(ctx.Now());
  reg.Post();
}

void LoadRegistrationDetails(RequestContext& ctx) {
  RegDetailsT& r = ctx.page.RegDetails;
  if (!DetailsSessionLookup(ctx)) {
    r = RegDetailsT{};
    ctx.page.SessionId = kNoSession;
    return;
  }
  store::Table& t = ctx.tbl->TblWebReg;
  r.Tunnus = Cut(t.Text("Tunnus"), kTunnusWidth);
  for (const RegField& f : kRegFields) r.*f.member = Cut(t.Text(f.column), f.width);
}

}  // namespace wo
