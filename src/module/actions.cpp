// The action table's checks: the preamble, the field count, the session
// gate, the transaction and the answer, once for every action.
#include "module/actions.h"

#include <exception>
#include <optional>

#include "base/text.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"

namespace wo {

namespace {

// The gate of `rule`: nullopt lets the handler run, an answer refuses.
std::optional<Answer> Gate(RequestContext& ctx, SessionRule rule) {
  PageState& page = ctx.page;
  switch (rule) {
    case SessionRule::None: break;
    case SessionRule::IdleTested:
      switch (IdleTestedSession(ctx)) {
        case SessionState::None: return Answer::Redirect(ProgramUrl("index", {{"Lang", page.Lang}}));
        case SessionState::TimedOut: return Answer::Redirect(ProgramUrl("Login", {{"Lang", page.Lang}}));
        case SessionState::Valid: break;
      }
      break;
    case SessionRule::Plain:
      if (!PlainSessionLookup(ctx)) {
        page.SessionId = kNoSession;
        return Answer::Error(PageError::Search);
      }
      break;
    case SessionRule::Details: LoadRegistrationDetails(ctx); break;
  }
  return std::nullopt;
}

// The preamble's session ID of the request under `row`: "0" without
// fields, nullopt when the field count is outside the row's bounds.
std::optional<std::string> SessionIdOf(const Request& req, const ActionRow& row) {
  const int fields = req.FieldCount();
  if (fields < row.minFields || fields > row.maxFields) return std::nullopt;
  return fields > 0 ? Cut(req.Field("ID"), kSessionIdWidth) : kNoSession;
}

}  // namespace

void RunAction(RequestContext& ctx, const ActionRow& row) {
  PageState& page = ctx.page;
  page.SessionId = kNoSession;
  page.Lang = Cut(ctx.req.Field("LANG"), kLangWidth);
  std::optional<std::string> id = SessionIdOf(ctx.req, row);
  if (!id) return Deliver(ctx, Answer::Error(PageError::Search));
  page.SessionId = std::move(*id);

  auto work = [&] {
    TableGuard guard{&ctx.tbl->TblWebReg};  // what the gate opens
    std::optional<Answer> refusal = Gate(ctx, row.session);
    return refusal ? *refusal : row.handler(ctx);
  };
  Deliver(ctx, row.writes ? store::InWriteTransaction(ctx.conn, work) : work());
}

const ActionRow* FindAction(std::span<const ActionRow> actions, std::string_view path) {
  for (const ActionRow& row : actions)
    if (SameText(row.path, path)) return &row;
  return nullptr;
}

void AnnounceSessionOf(RequestContext& ctx, std::span<const ActionRow> actions, std::string_view path) {
  const ActionRow* row = FindAction(actions, path);
  if (row && !RowEnabled(*row, ctx.ini)) row = nullptr;
  for (size_t i = 0; !row && i < actions.size(); ++i)
    if (actions[i].isDefault) row = &actions[i];
  if (!row) return;
  // Only a hint: a query string the action cannot read, or a failure,
  // shows when the action itself reads it.
  try {
    // A writing action's transaction begins in the settings' round trip:
    // the session is then read inside it, as the action reads it.
    if (row->writes) ctx.conn.BeginWriteAfterNext();
    if (row->session == SessionRule::None && !row->readsSession) return;
    const std::optional<std::string> id = SessionIdOf(ctx.req, *row);
    if (id) AnnounceSessionLookup(ctx, *id, row->session == SessionRule::Details);
  } catch (const std::exception&) {
  }
}

void Deliver(RequestContext& ctx, const Answer& answer) {
  switch (answer.kind) {
    case Answer::kPage: RenderPage(ctx, *answer.producer, answer.file); break;
    case Answer::kErrorPage:
      ctx.page.ErrorCode = answer.error;
      // Under ClearMessages the refusal leads on as the session really
      // stands: an ID that is no live session shows the visitor's menu.
      if (ctx.ini.ClearMessages && ShowsMenu(ctx.page.SessionId)) {
        TableGuard guard{&ctx.tbl->TblWebReg};
        if (!DetailsSessionLookup(ctx)) ctx.page.SessionId = kNoSession;
      }
      RenderPage(ctx, ctx.pages.PageProdError, "error.html");
      break;
    case Answer::kRedirect: ctx.resp.SendRedirect(answer.url); break;
    case Answer::kWritten: break;
  }
}

}  // namespace wo
