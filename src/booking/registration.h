// Registration of new web users, the save of own details, and the
// customer-number counter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "module/actions.h"

namespace wo {

struct RequestContext;

// WEBPAGE /SavReg
// Query: ID, Lang, Tunnus, Koodi, SNimi, ENimi, Os01, Os02, Os03, EMail,
// Puh, MPuh, Toim (10 to 13 of them).
// The decline button redirects to the site's home page. Otherwise the form
// is validated (ErrorCode BadLogin: user name or password; DetailsMissing:
// a required detail missing, or a control byte in a field) and then:
//  - with a ShowsMenu session ID: the user's own details are updated; a
//    session ID of no row, of a blocked user or older than 12 hours gives
//    the error page;
//  - without one, for an existing user name: its right password logs the
//    user in (not a blocked one), a wrong one gives the error page;
//  - for a new user name: a customer number is drawn from the PARAM counter
//    "WebAsNo" (created at 500000 when missing) and the user's row
//    appended, in one write transaction.
// Success redirects to /regok with the session ID and "Upd=Y" (update or
// login) or "Upd=N" (new user).
// Under INI [Features] ClearMessages the refusals name their cause:
// FieldsMissing with the details left empty, NameTaken for a user name
// whose password did not match, LoginRefused for a blocked user's; and a
// refused edit of own details keeps its session ID for the error page.
Answer WebModOrvaneWebActSavRegAction(RequestContext& ctx);

// WEBPAGE /RegOk
// Query: ID, Lang, Upd (1 to 3 of them).
// The confirmation page regok.html; Upd "Y" names it an update.
Answer WebModOrvaneWebActRecOkAction(RequestContext& ctx);

// Draws the next number of the PARAM counter `key` (ArvoInt32 + 1, posted)
// and returns it as decimal text. A missing counter row is created holding
// `first`, which is then the number drawn.
// REQUIRES: a write transaction open, so that no number is handed out twice.
std::string NextParamNumber(RequestContext& ctx, std::string_view key, int64_t first);

}  // namespace wo
