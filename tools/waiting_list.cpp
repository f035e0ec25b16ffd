// `weborvane-admin waitlist settle`: the scheduled settling of the waiting
// lists (booking/waiting_list.h). A request settles the slot it touches;
// this finds the rest: offers that lapsed with nobody looking, and places
// the desktop system freed -- a slot's places raised, a reservation deleted
// -- which no request of the web front saw.
#include <cstdio>

#include "admin.h"
#include "base/datetime.h"
#include "booking/waiting_list.h"
#include "module/site_admin.h"

namespace wo::admin {

int SettleWaitingLists(store::Connection& c, const SiteIni& ini) {
  if (!ini.WaitingList) return 0;
  return SettleLines(c, ini, {}, 0, 0, Now());
}

int WaitlistSettle(const SiteIni& ini) {
  if (!ini.WaitingList) {
    std::printf("weborvane-admin: the waiting lists are switched off ([Features] WaitingList)\n");
    return 0;
  }
  std::unique_ptr<store::Connection> c = store::Connection::Open(site::AdminConnection(ini));
  std::printf("weborvane-admin: waitlist settle: %d place(s) offered\n", SettleWaitingLists(*c, ini));
  return 0;
}

}  // namespace wo::admin
