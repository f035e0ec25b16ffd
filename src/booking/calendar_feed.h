// Reservations in the users' own calendars ([Features] CalendarFeed): the
// private feed of each user, the one-event file of a reservation, and the
// public feed of a resource's free places. A feed is addressed by a token
// of its own, never by the session: the token is 256 random bits, shown to
// the user once and kept only as its SHA-256 (WEBKALENTERI), so renewing
// or turning the feed off ends the old address at once.
//
// Feeds are read-only and cheap: one query each, an ETag of the content,
// and 304 Not Modified for a client that holds that content already. The
// only write a feed makes is the login throttle's record of a failed token.
#pragma once

#include <string>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// WEBPAGE /Kalenteri (feature CalendarFeed)
// One path, three uses, told apart by the query:
//  - T (and LANG): the private feed of the user whose token T is:
//    text/calendar with the user's reservations of slots from 30 days back
//    to the booking horizon, and those cancelled within the last 30 days
//    as STATUS:CANCELLED. A token that is malformed, unknown, renewed or
//    revoked, or a client address the login throttle has locked, answers
//    404 with no data; each failure is recorded by the throttle.
//  - ID, LANG, Tee ("avaa": turn the feed on or renew its address, "pois":
//    turn it off): in its own write transaction, with the session tested
//    as IdleTested; answers regin.html (own details) showing the new
//    address once.
//  - ID, LANG, Kau, Vuo, Seq: the session user's reservation of that slot
//    as a one-event file to download; the error page (NotFound) when the
//    user has none. No session redirects to the start page, an idle one to
//    the login page; nothing is written.
Answer WebModOrvaneWebActKalenteriAction(RequestContext& ctx);

// WEBPAGE /Vapaat (feature CalendarFeed)
// Query: Resurssi (a resource's code), LANG.
// text/calendar with the resource's slots from now to the booking horizon
// that have free places, each summarised "kind - N free"; no customer
// data. 404 for a resource that is not shown on the web.
Answer WebModOrvaneWebActVapaatAction(RequestContext& ctx);

// The HTML of the KALENTERI tag (own details): for a logged-in user with
// the feature on, the feed's section with the address made by this
// request, if any, and the links to turn it on, renew it or turn it off;
// "" otherwise.
std::string CalendarFeedSection(RequestContext& ctx);

// The "Add to calendar" link of the user's reservation of slot (kausi,
// vuoroNo, vuoroNoSeq) with the feature on; "" otherwise.
std::string AddToCalendarLink(RequestContext& ctx, const std::string& kausi, const std::string& vuoroNo,
                              const std::string& vuoroNoSeq);

// Records the cancellation of the user's reservation for the feeds, with
// the feature on. REQUIRES: the cancellation's write transaction.
void NoteCancellation(RequestContext& ctx, const std::string& kausi, const std::string& vuoroNo,
                      const std::string& vuoroNoSeq, const std::string& asNo, long long jno);

}  // namespace wo
