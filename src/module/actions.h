// The action table: each row is the contract of the requests to one path --
// what query it takes, what session it needs and which handler answers it
// -- and RunAction is the one place that holds a request to it.
//
// A request flows like this: the frame finds the row of its path (or the
// default row, for a path of no action) and calls RunAction, which
//  1. reads the preamble: page.SessionId "0", page.Lang from the query
//     field LANG (cut to kLangWidth); a field count outside the row's
//     bounds answers the error page; otherwise, when the query has any
//     field, page.SessionId from ID (cut to kSessionIdWidth);
//  2. opens the row's write transaction, when it has one;
//  3. applies the row's session rule (the gate), which may answer instead
//     of the handler;
//  4. runs the handler, which decides the answer;
//  5. closes what the gate opened, commits, and only then gives the
//     answer: the page, the error page or the redirect.
#pragma once

#include <climits>
#include <span>
#include <string>
#include <string_view>

#include "frame/page_producer.h"
#include "module/ini.h"
#include "module/renderers.h"
#include "module/texts.h"

namespace wo {

struct RequestContext;

// What an action answers, given once its work is done (and committed).
struct Answer {
  // kWritten: the handler wrote the response itself (a calendar file).
  enum Kind { kPage, kErrorPage, kRedirect, kWritten } kind = kPage;
  PageProducer* producer = nullptr;  // kPage: the producer and its template file
  std::string file;
  PageError error = PageError::Search;  // kErrorPage: page.ErrorCode
  std::string url;                      // kRedirect

  static Answer Page(PageProducer& p, std::string_view file) { return {kPage, &p, std::string(file), {}, {}}; }
  static Answer Error(PageError e) { return {kErrorPage, nullptr, {}, e, {}}; }
  static Answer Redirect(std::string url) { return {kRedirect, nullptr, {}, {}, std::move(url)}; }
  static Answer Written() { return {kWritten, nullptr, {}, {}, {}}; }
};

// What an action needs of the session before its handler runs.
enum class SessionRule {
  None,        // nothing; the handler tests what it needs itself
  IdleTested,  // IdleTestedSession: none redirects to the start page, a
               // timed-out one to the login page; the handler finds
               // TblWebReg on the user's row
  Plain,       // PlainSessionLookup: none gives the error page with
               // page.SessionId "0"; the handler finds TblWebReg on the row
  Details,     // LoadRegistrationDetails: the form of the session's user, or
               // of a visitor (page.SessionId "0") -- never a refusal
};

using ActionFn = Answer (*)(RequestContext& ctx);

inline constexpr int kAnyFieldCount = INT_MAX;

struct ActionRow {
  std::string_view name;  // "WebActVar"
  std::string_view path;  // "/Var", matched without regard to case
  ActionFn handler;       // WebModOrvaneWebActVarAction
  int minFields = 0;      // the query's fields, both bounds inclusive
  int maxFields = kAnyFieldCount;
  SessionRule session = SessionRule::None;
  // The gate and the handler run in one write transaction (store/database.h).
  bool writes = false;
  // Also the action of every path that no row has.
  bool isDefault = false;
  // The [Features] switch the row belongs to (&SiteIni::Mail), or none.
  // With the switch off the row does not exist: its path is answered as
  // every path that no row has, by the default row.
  bool SiteIni::*feature = nullptr;
  // The handler loads a shared library with dlopen (libical, for the
  // calendars), which a statically linked program cannot: the static CGI
  // program hands such a request to its dynamic sibling (main.cpp).
  bool loadsLibrary = false;
  // The handler itself starts with PlainSessionLookup (under SessionRule
  // None): the lookup is announced with the settings row as the gate's is.
  bool readsSession = false;
};

// False when `row` belongs to a feature that `ini` switches off.
inline bool RowEnabled(const ActionRow& row, const SiteIni& ini) { return !row.feature || ini.*row.feature; }

// What the booking floor hands the module: its action table and the
// renderers its tags call.
struct WebApp {
  std::span<const ActionRow> actions;
  Renderers renderers;
};

// Runs the request of `ctx` as `row` says, from the preamble to the answer
// (see above). Throws what the handler or the store raises; the frame
// turns it into the error output.
void RunAction(RequestContext& ctx, const ActionRow& row);

// The row whose path is `path` (without regard to case); nullptr when none.
const ActionRow* FindAction(std::span<const ActionRow> actions, std::string_view path);

// Announces the first session lookup that RunAction(ctx, row) makes -- the
// gate's, or a readsSession handler's -- so that it goes to the server with
// the settings row; for a row that writes, after the beginning of its
// write transaction, which goes there too. The row that serves
// `path` is the enabled row of that path, or else the default row. Never
// throws: what fails here fails again where RunAction meets it.
void AnnounceSessionOf(RequestContext& ctx, std::span<const ActionRow> actions, std::string_view path);

// Gives `answer`: renders the page or the error page, or sends the redirect.
// Under INI [Features] ClearMessages the error page of a ShowsMenu ID that
// DetailsSessionLookup refuses is rendered with page.SessionId "0", so that
// its menu and links are a visitor's.
void Deliver(RequestContext& ctx, const Answer& answer);

}  // namespace wo
