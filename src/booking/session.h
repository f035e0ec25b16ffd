// Login and logout, and the session IDs they issue. The session tests
// themselves are the module's (module/session.h): the action table applies
// them.
#pragma once

#include <string>
#include <string_view>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// WEBPAGE /ChkLogin (in a write transaction)
// Query: Lang, Tunnus (user name), Koodi (password); at least two fields.
// Checks the user name and password against WEBREG, issues a new session ID
// (any earlier one stops matching) and redirects to /resval with it. Every
// failure -- unknown user, wrong password, blocked user -- gives the same
// error page and writes nothing but the failure's record for the login
// throttle. While the user name or the client's address is throttled
// (booking/login_throttle.h) the same page comes without a password test.
// Under INI [Features] ClearMessages an unknown user or a wrong password
// gives WrongLogin, a throttled login or a blocked user (with the right
// password) LoginRefused.
Answer WebModOrvaneWebActChkLoginAction(RequestContext& ctx);

// WEBPAGE /LogOut
// Query: Lang, ID; at least one field.
// Ends the session of ID (WEBREG.ID := "0") and redirects to the start page.
// An ID that matches no row changes nothing; "0" or an empty ID touches no
// table.
Answer WebModOrvaneWebActLogOutAction(RequestContext& ctx);

// A new session ID: as long as the trimmed customer number plus 16, so that
// every length test of the pages takes it as logged in; each character
// drawn from the operating system's random source among 62 letters and
// digits.
std::string MakeSessionId(std::string_view customerNumber);

}  // namespace wo
