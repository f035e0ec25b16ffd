// The one way from the module's tags down into the booking floor: the two
// lists that booking draws, and the calendar feed's parts. The booking floor fills this in (its action
// table, booking/actions.h); the tags call it through the context.
#pragma once

#include <string>

namespace wo {

struct RequestContext;

struct Renderers {
  // VUOROLISTA: the calendar of page.Resurssi from page.ChosenDate, as the
  // week grid or the day list by WEBPARAM.ListanMuoto.
  std::string (*slotList)(RequestContext& ctx) = nullptr;
  // OMATLISTA: the user's balance and own reservations; empty without a
  // session.
  std::string (*ownReservations)(RequestContext& ctx) = nullptr;
  // KALENTERI: the calendar feed's section of the own details page;
  // KALENTERILINKKI: the "Add to calendar" link of the slot that the query
  // fields Kau, Vuo and Seq name. Both empty with CalendarFeed off.
  std::string (*calendarFeed)(RequestContext& ctx) = nullptr;
  std::string (*addToCalendar)(RequestContext& ctx) = nullptr;
};

}  // namespace wo
