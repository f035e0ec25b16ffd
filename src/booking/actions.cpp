#include "booking/actions.h"

#include "booking/calendar.h"
#include "booking/calendar_feed.h"
#include "booking/common.h"
#include "booking/own_reservations.h"
#include "booking/password.h"
#include "booking/password_reset.h"
#include "booking/plain_pages.h"
#include "booking/registration.h"
#include "booking/reservation.h"
#include "booking/session.h"
#include "booking/waiting_list.h"
#include "base/text.h"
#include "module/context.h"

namespace wo {

using booking::SlotKey;

namespace {

using S = SessionRule;
constexpr int kAny = kAnyFieldCount;

//   name                path           handler                               fields    session       writes default feature
constexpr ActionRow kActions[] = {
    {"WebActRoot",       "/Index",      WebModOrvaneWebActRootAction,         0, kAny,  S::None,       false, true},
    {"WebActResVal",     "/ResVal",     WebModOrvaneWebActResValAction,       1, kAny,  S::None},
    {"WebActViikko",     "/Viikko",     WebModOrvaneWebActViikkoAction,       5, kAny,  S::None},
    {"WebActLogin",      "/Login",      WebModOrvaneWebActLoginAction,        0, kAny,  S::Details},
    {"WebActChkLogin",   "/ChkLogin",   WebModOrvaneWebActChkLoginAction,     2, kAny,  S::None,       true},
    {"WebActRegin",      "/Regin",      WebModOrvaneWebActReginAction,        0, kAny,  S::Details},
    {"WebActSavReg",     "/SavReg",     WebModOrvaneWebActSavRegAction,       10, 13,   S::None},
    {"WebActRecOk",      "/RegOk",      WebModOrvaneWebActRecOkAction,        1, 3,     S::None},
    {"WebActLogOut",     "/LogOut",     WebModOrvaneWebActLogOutAction,       1, kAny,  S::None},
    {"WebActVar",        "/Var",        WebModOrvaneWebActVarAction,          4, 6,     S::IdleTested, true},
    {"WebActVarOk",      "/VarOk",      WebModOrvaneWebActVarOkAction,        1, kAny,  S::None},
    {"WebActVaraa",      "/Varaa",      WebModOrvaneWebActVaraaAction,        4, kAny,  S::IdleTested},
    {"WebActOmat",       "/Omat",       WebModOrvaneWebActOmatAction,         0, kAny,  S::None,       false, false,
     nullptr, false, true},
    {"WebActPoista",     "/Poista",     WebModOrvaneWebActPoistaAction,       5, kAny,  S::IdleTested},
    {"WebActPoisVar",    "/PoisVar",    WebModOrvaneWebActPoisVarAction,      4, 6,     S::IdleTested, true},
    {"WebActPoisOk",     "/PoisOk",     WebModOrvaneWebActPoisOkAction,       1, kAny,  S::None},
    {"WebActVaihda",     "/Vaihda",     WebModOrvaneWebActVaihdaAction,       0, kAny,  S::Details},
    {"WebActVaihdaSana", "/VaihdaSana", WebModOrvaneWebActVaihdaSanaAction,   1, kAny,  S::Plain},
    {"WebActVaihdaOk",   "/VaihdaOk",   WebModOrvaneWebActVaihdaOkAction,     1, 3,     S::None},
    {"WebActUnohtui",    "/Unohtui",    WebModOrvaneWebActUnohtuiAction,      0, kAny,  S::None,       true,  false, &SiteIni::Mail},
    {"WebActPalauta",    "/Palauta",    WebModOrvaneWebActPalautaAction,      0, kAny,  S::None,       true,  false, &SiteIni::Mail},
    {"WebActJono",       "/Jono",       WebModOrvaneWebActJonoAction,         4, kAny,  S::IdleTested, true,  false, &SiteIni::WaitingList},
    {"WebActJonoPois",   "/JonoPois",   WebModOrvaneWebActJonoPoisAction,     4, kAny,  S::IdleTested, true,  false, &SiteIni::WaitingList},
    {"WebActKalenteri",  "/Kalenteri",  WebModOrvaneWebActKalenteriAction,    0, kAny,  S::None,       false, false,
     &SiteIni::CalendarFeed, true},
    {"WebActVapaat",     "/Vapaat",     WebModOrvaneWebActVapaatAction,       0, kAny,  S::None,       false, false,
     &SiteIni::CalendarFeed, true},
};

// KALENTERILINKKI: the link of the slot the booked page's query names.
std::string AddToCalendarFromQuery(RequestContext& ctx) {
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  return AddToCalendarLink(ctx, key.kau, key.vuo, key.seq);
}

}  // namespace

const WebApp& OrvaneApp() {
  static const WebApp app{kActions,
                          Renderers{SlotList, OwnReservationList, CalendarFeedSection, AddToCalendarFromQuery}};
  return app;
}

bool ActionLoadsLibrary(std::string_view path) {
  for (const ActionRow& row : kActions)
    if (SameText(row.path, path)) return row.loadsLibrary;
  return false;
}

}  // namespace wo
