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
// Query: Lang, Tunnus (a user name, or an e-mail address).
// Without it: unohtui.html, the form. With it: unohtui.html with the
// notice C81, whatever became of the request, so that the answer tells
// nobody whether the name or address is registered. Each request counts as
// a failed login of the text typed and the client's address
// (booking/login_throttle.h); while either is locked, nothing else
// happens. Otherwise lapsed links are deleted, and each user the text
// names (the user of that name; for a text with "@" also every user of
// that address) who is not blocked gets a new link and, with an address,
// its mail in the request's language. When nobody is named, a link nobody
// receives is stored all the same, so that the database work does not
// depend on who is registered, but for the mail rows.
Answer WebModOrvaneWebActUnohtuiAction(RequestContext& ctx);

// WEBPAGE /Palauta (in a write transaction)
// Query: Lang, T (the link's token), and from the form UKoodi and UKoodi2
// (the new password twice); or Lang, Valmis.
// With Valmis and no token: palautaok.html, the reset is done. A token
// that is unknown, lapsed, or of a user who is gone or blocked:
// unohtui.html with the notice C82, and a failed login of the client's
// address; while the address is locked by the login limits every token is
// so refused, unread. Tokens are found by their hash, so the time the
// lookup takes tells nothing about the token. Otherwise, without a new password:
// palauta.html, the form, with Lang and T in VARPARAM. A new password
// that differs from its repetition (C84) or breaks the rules of the
// password change (C83): the form again with the notice. Else the password
// is stored, the user's session ends (WEBREG.ID "0"), the user's links and
// failed logins are deleted, and the answer redirects to
// /Palauta?Lang=..&Valmis=1, so that the password leaves the address bar.
Answer WebModOrvaneWebActPalautaAction(RequestContext& ctx);

// Deletes every reset link of the user `tunnus`: a password set by other
// means ends the links asked for before it.
void DeleteResetLinks(store::Connection& conn, std::string_view tunnus);

// The hexadecimal SHA-256 of `token`: what WEBPALAUTUS.Tiiviste keeps.
std::string ResetTokenHash(std::string_view token);

}  // namespace wo
