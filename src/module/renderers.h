// The one way from the module's tags down into the booking floor: the two
// lists that booking draws. The booking floor fills this in (its action
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
};

}  // namespace wo
