// The password reset by e-mail ([Features] Mail; with it off both paths
// answer as an unknown path does). A user who has forgotten the password
// asks for a link (/Unohtui); the mail carries it; the link leads to a form
// that sets a new password (/Palauta).
//
// A link's token is 160 random bits from the source of the session IDs,
// written as 40 hexadecimal digits. WEBPALAUTUS keeps only its SHA-256,
// with the user name and the time it lapses, kResetValidMinutes after it
// was asked for; a reset that succeeds deletes every link of the user, so
// a link works once.
#pragma once

#include <string>
#include <string_view>

#include "module/actions.h"
#include "store/database.h"
#include "base/datetime.h"

namespace wo {

struct RequestContext;

inline constexpr int kResetValidMinutes = 60;

// WEBPAGE /Unohtui (in a write transaction)
// Query: Lang, Tunnus (the user name).
// Without a user name: unohtui.html, the form. With one: unohtui.html with
// the notice C81, whatever became of the request, so that the answer tells
// nobody whether the name is registered. Each request counts as a failed
// login of the name and the client's address (booking/login_throttle.h);
// while either is locked, nothing else happens. Otherwise expired links
// are deleted and a new link is stored for the name as typed, and, when
// the name is a user's who is not blocked and has an address, its mail is
// queued in the request's language. The database work is the same whether
// or not the user exists, but for that one mail row.
Answer WebModOrvaneWebActUnohtuiAction(RequestContext& ctx);

// WEBPAGE /Palauta (in a write transaction)
// Query: Lang, T (the link's token), and from the form UKoodi and UKoodi2
// (the new password twice); or Lang, Valmis.
// With Valmis and no token: palautaok.html, the reset is done. A token
// that is unknown, lapsed, or of a user who is gone or blocked:
// unohtui.html with the notice C82. Otherwise, without a new password:
// palauta.html, the form, with Lang and T in VARPARAM. A new password
// that differs from its repetition (C84) or breaks the rules of the
// password change (C83): the form again with the notice. Else the password
// is stored, the user's session ends (WEBREG.ID "0"), the user's links and
// failed logins are deleted, and the answer redirects to
// /Palauta?Lang=..&Valmis=1, so that the password leaves the address bar.
Answer WebModOrvaneWebActPalautaAction(RequestContext& ctx);

// The hexadecimal SHA-256 of `token`: what WEBPALAUTUS.Tiiviste keeps.
std::string ResetTokenHash(std::string_view token);

}  // namespace wo
