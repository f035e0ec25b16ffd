// Sessions. A session lives only in the user's WEBREG row: ID holds the
// session ID issued at login (its first 15 characters; links carry the
// whole token) and Aika the time of the last session event. The pages test
// the ID of a request in a few fixed ways, each named here; the lookups
// find the user's row.
#pragma once

#include <string>
#include <string_view>

#include "base/datetime.h"
#include "store/table.h"

namespace wo {

struct RequestContext;  // module/context.h

// The session ID of nobody logged in. (Copied from a string rather than
// assigned from a literal, which GCC 12 warns about falsely at -O2.)
inline const std::string kNoSession = "0";

// ---- what an ID looks like, before any lookup ----

// "0" or empty: no session; no lookup is made for it.
inline bool IsNone(std::string_view id) { return id.empty() || id == "0"; }
// Longer than 10 characters: the menu, the booking links, the details
// forms and the save of own details take it as logged in.
inline bool ShowsMenu(std::string_view id) { return id.size() > 10; }
// Shorter than 10: the rules link still shows.
inline bool ShowsRules(std::string_view id) { return id.size() < 10; }
// Longer than 5: the calendar counts the places taken.
inline bool CountsPlaces(std::string_view id) { return id.size() > 5; }
// Anything but "0" (the empty ID too): the registration form shows the
// user's details rather than the visitor's fields.
inline bool FillsForm(std::string_view id) { return id != "0"; }

// WEBREG.Status of a blocked user: no login, no session, no password change.
inline constexpr int kBlockedStatus = 4;
// True when the current WEBREG row of `reg` is blocked (a null Status is not).
bool IsBlocked(store::Table& reg);

// A session idles out after more than 600 whole seconds, or a day or more,
// between `aika` and `now`, in either direction.
bool SessionTimedOut(DateTime aika, DateTime now);

// ---- the lookups of page.SessionId ----
// Each positions TblWebReg (index "ID;Tunnus", opened) on the user's row
// when it finds one, and leaves WEBREG open for its caller to close.

// False for an IsNone ID, no row or a blocked user's row.
bool PlainSessionLookup(RequestContext& ctx);

// The test of the details forms and of the save of own details: a ShowsMenu
// ID whose row is not blocked and whose Aika lies less than 12 hours back.
// Writes nothing.
bool DetailsSessionLookup(RequestContext& ctx);

// Announces the query of PlainSessionLookup (`details` false) or of
// DetailsSessionLookup (true) for ID `id`, while WEBREG is closed;
// nothing for an ID the lookup makes no query for.
void AnnounceSessionLookup(RequestContext& ctx, std::string_view id, bool details);

enum class SessionState {
  None,      // no session: IsNone, no row, or a blocked user's row
  TimedOut,  // the row was found idle too long; its ID is now "0"
  Valid      // TblWebReg is positioned on the user's row
};
// The plain lookup and the idle limit; on TimedOut the row's ID is already
// "0" (posted).
SessionState IdleTestedSession(RequestContext& ctx);

// Aika := now on the current WEBREG row, posted.
// REQUIRES: TblWebReg positioned on the user's row.
void RefreshSession(RequestContext& ctx);

// The details of the session for the login, registration and password
// forms: when DetailsSessionLookup accepts it, page.RegDetails holds the
// row's; otherwise they are cleared and page.SessionId becomes "0".
void LoadRegistrationDetails(RequestContext& ctx);

}  // namespace wo
