// The five actions that only show a page: the start page, the login form,
// the registration form, the password form and the own-reservations page.
// Each reads Lang and ID into the page state, the three forms check the
// session, and the page comes from its template and tags. None writes to
// the database.
#include "base/text.h"
#include "module/module.h"

namespace wo {

namespace {

// SessionId "0" unless the query has fields: then the ID field, empty when
// absent. Lang is the LANG field, empty when absent (not "FIN").
void ReadLangAndId(PageState& page, const Request& req) {
  page.SessionId = std::string(1, '0');  // nobody logged in
  page.Lang = Cut(req.Field("LANG"), 15);
  if (req.FieldCount() > 0) page.SessionId = Cut(req.Field("ID"), 50);
}

}  // namespace

// WEBPAGE /Index (also every path of no action)
// Query: Lang, ID. Answers index.html; the session ID is passed on unchecked.
void WebModule::WebModOrvaneWebActRootAction(const Request& q, Response&, bool&) {
  ReadLangAndId(page, q);
  RenderPage(PageProdRoot, "index.html");
}

// WEBPAGE /Login
// Query: Lang, ID. Answers login.html; an ID that is not a live session
// (12 hours) becomes "0".
void WebModule::WebModOrvaneWebActLoginAction(const Request& q, Response&, bool&) {
  ReadLangAndId(page, q);
  LoadRegistrationDetails();
  RenderPage(PageProdLogin, "login.html");
}

// WEBPAGE /Regin
// Query: Lang, ID. Answers regin.html: the registration form for a visitor,
// the own-details form, filled from WEBREG, for a logged-in user.
void WebModule::WebModOrvaneWebActReginAction(const Request& q, Response&, bool&) {
  ReadLangAndId(page, q);
  LoadRegistrationDetails();
  RenderPage(PageProdRegin, "regin.html");
}

// WEBPAGE /Vaihda
// Query: Lang, ID. Answers vaihda.html, the password-change form.
void WebModule::WebModOrvaneWebActVaihdaAction(const Request& q, Response&, bool&) {
  ReadLangAndId(page, q);
  LoadRegistrationDetails();
  RenderPage(PageProdVaihda, "vaihda.html");
}

// WEBPAGE /Omat
// Query: Lang, ID. Answers omat.html; its OMATLISTA tag decides what the
// session may see.
void WebModule::WebModOrvaneWebActOmatAction(const Request& q, Response&, bool&) {
  ReadLangAndId(page, q);
  RenderPage(PageProdOmat, "omat.html");
}

}  // namespace wo
