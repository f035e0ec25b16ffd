// The actions that only show a page: the start page, the login form, the
// registration form, the password form and the own-reservations page.
// Query: Lang, ID (the ID read only when the query has fields). None writes
// to the database.
#pragma once

#include <string_view>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// WEBPAGE /Index (also every path of no action)
// Answers index.html; the session ID is passed on unchecked.
Answer WebModOrvaneWebActRootAction(RequestContext& ctx);

// WEBPAGE /Login, /Regin, /Vaihda -- the session's details form (the table's
// session rule Details: an ID that is not a live session of 12 hours
// becomes "0"). Answer login.html, regin.html (the registration form for a
// visitor, the own-details form, filled from WEBREG, for a logged-in user)
// and vaihda.html (the password-change form).
Answer WebModOrvaneWebActLoginAction(RequestContext& ctx);
Answer WebModOrvaneWebActReginAction(RequestContext& ctx);
Answer WebModOrvaneWebActVaihdaAction(RequestContext& ctx);

// WEBPAGE /Omat
// Answers omat.html; its OMATLISTA tag decides what the session may see.
Answer WebModOrvaneWebActOmatAction(RequestContext& ctx);

// The confirmation pages of a save (/RegOk, /VaihdaOk): page.RegMode from
// the query field Upd, then the page `file` of `producer`.
Answer ConfirmationPage(RequestContext& ctx, PageProducer& producer, std::string_view file);

}  // namespace wo
