// The program's action table: the nineteen actions of the booking site,
// each row with its path, its handler, its query's field-count bounds and
// its session rule (module/actions.h), and the renderers its tags call.
// Where each handler lives:
//   booking/plain_pages.h       /Index /Login /Regin /Vaihda /Omat
//   booking/calendar.h          /ResVal /Viikko
//   booking/session.h           /ChkLogin /LogOut
//   booking/registration.h      /SavReg /RegOk
//   booking/reservation.h       /Varaa /Var /VarOk
//   booking/own_reservations.h  /Poista /PoisVar /PoisOk
//   booking/password.h          /VaihdaSana /VaihdaOk
#pragma once

#include "module/actions.h"

namespace wo {

// The rows in the order the frame tries them, and VUOROLISTA and OMATLISTA.
const WebApp& OrvaneApp();

// Whether the row the frame would run for `path` (PATH_INFO) loads a shared
// library (ActionRow::loadsLibrary). Switches are not consulted: a switched-
// off row's path is merely handed over and answered as an unknown path.
bool ActionLoadsLibrary(std::string_view path);

}  // namespace wo
