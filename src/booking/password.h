// The password change of a logged-in user.
#pragma once

#include <string_view>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// WEBPAGE /VaihdaSana (session rule Plain: no idle limit)
// Query: Lang, ID, Koodi (current password), UKoodi (new password).
// When the current password is right, stores the new one and redirects to
// /VaihdaOk; the session ID stays. A new password of fewer than 4 or more
// than 14 characters, or equal to the user name, gives ErrorCode BadLogin;
// a wrong current password the error page with ErrorCode Search (under
// INI [Features] ClearMessages WrongLogin, and both keep the session ID).
// A failure writes nothing. Under [Features] Mail the user's password
// reset links are deleted with the change.
Answer WebModOrvaneWebActVaihdaSanaAction(RequestContext& ctx);

// WEBPAGE /VaihdaOk
// Query: Lang, ID, Upd (1 to 3 of them).
// The confirmation page vaihdaok.html.
Answer WebModOrvaneWebActVaihdaOkAction(RequestContext& ctx);

// The rules of a new password, those of registration: 4 to 14 characters,
// not the user name `tunnus`.
bool AcceptableNewPassword(std::string_view password, std::string_view tunnus);

}  // namespace wo
