#include "booking/registration.h"

#include "base/text.h"
#include "booking/common.h"
#include "booking/plain_pages.h"
#include "booking/session.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

namespace {

// The first customer number of a site whose counter row is missing.
constexpr int64_t kFirstCustomerNumber = 500000;

// The label of the form's decline button, as the Finnish page shows it.
constexpr std::string_view kDeclineLabel = "En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4";

// The fields of the registration form, cut to their widths.
struct RegForm {
  std::string tunnus, koodi, toim;
  RegDetailsT details;  // the eight of kRegFields

  static RegForm FromQuery(const Request& rq) {
    RegForm f;
    f.tunnus = Cut(rq.Field("TUNNUS"), kFormFieldWidth);
    f.koodi = Cut(rq.Field("KOODI"), kFormFieldWidth);
    for (const RegField& field : kRegFields) f.details.*field.member = Cut(rq.Field(field.query), field.width);
    f.toim = Cut(rq.Field("TOIM"), kFormFieldWidth);
    return f;
  }
  const std::string& Detail(std::string RegDetailsT::*member) const { return details.*member; }

  // True when a field that would be stored holds a control byte (below
  // 32): such text has no place in a name, an address or a user name.
  bool HasControlBytes() const {
    auto control = [](const std::string& s) {
      for (char c : s)
        if (static_cast<unsigned char>(c) < 32) return true;
      return false;
    };
    if (control(tunnus) || control(koodi)) return true;
    for (const RegField& field : kRegFields)
      if (control(details.*field.member)) return true;
    return false;
  }

  // The details that both a new registration and an edit write.
  void WriteDetails(store::Table& reg) const {
    for (const RegField& field : kRegFields) reg[field.column].SetText(details.*field.member);
  }
};

// What the save of the form came to.
enum class SaveOutcome {
  Updated,
  Registered,
  Refused,  // no live session to save
  Blocked,  // the user name is a blocked user's (its password matched)
  Taken     // the user name is another's (its password did not match)
};

// The edit of own details: the row of a session that the details form
// would accept, so neither a blocked user nor an ID older than 12 hours can
// save (nor revive the session through Aika).
SaveOutcome SaveOwnDetails(RequestContext& ctx, const RegForm& form, const std::string& remoteHost) {
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  if (!DetailsSessionLookup(ctx)) return SaveOutcome::Refused;
  reg.Edit();
  form.WriteDetails(reg);
  reg["ID"].SetText(ctx.page.SessionId);
  reg["Aika"].SetDateTime(ctx.Now());
  reg["Status"].SetInt(2);
  reg["RemoteHost"].SetText(remoteHost);
  reg.Post();
  return SaveOutcome::Updated;
}

// A visitor's form. REQUIRES: a write transaction open: the look-up of the
// user name, the counter and the new row form one, so that two
// registrations at the same moment neither draw the same number nor both
// append the same user name.
SaveOutcome Register(RequestContext& ctx, const RegForm& form, const std::string& remoteHost) {
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  reg.SetIndex("Tunnus");
  reg.Open();
  PageState& page = ctx.page;
  if (reg.FindKey({store::Txt(form.tunnus)})) {
    // The user name exists: its right password logs the user in again; the
    // submitted details are not stored.
    if (!ctx.cipher.Matches(reg.Text("PinKoodi"), form.koodi)) return SaveOutcome::Taken;
    if (IsBlocked(reg)) return SaveOutcome::Blocked;
    page.SessionId = MakeSessionId(reg.Text("AsNo"));
    reg.Edit();
    reg["ID"].SetText(page.SessionId);
    reg["Aika"].SetDateTime(ctx.Now());
    reg.Post();
    return SaveOutcome::Updated;
  }
  const std::string asNo = NextParamNumber(ctx, "WebAsNo", kFirstCustomerNumber);
  page.SessionId = MakeSessionId(asNo);
  reg.Append();
  reg["Tunnus"].SetText(form.tunnus);
  reg["PinKoodi"].SetText(ctx.cipher.Encode(form.koodi));
  reg["AsNo"].SetText(PadLeft15(asNo));
  reg["KorttiLyh"].SetText("");
  form.WriteDetails(reg);
  reg["ID"].SetText(page.SessionId);
  reg["Aika"].SetDateTime(ctx.Now());
  reg["Status"].SetInt(1);
  reg["RemoteHost"].SetText(remoteHost);
  reg.Post();
  return SaveOutcome::Registered;
}

// The required details the form left empty, by name in the page's
// language ("sukunimi, puhelinnumero"); "" when none is.
std::string MissingDetails(RequestContext& ctx, const RegForm& form) {
  struct Required {
    std::string RegDetailsT::*member;
    const TextDef& name;
  };
  const Required required[] = {
      {&RegDetailsT::Sukunimi, texts::C77}, {&RegDetailsT::EtuNimi, texts::C78}, {&RegDetailsT::PuhNo, texts::C79}};
  std::string names;
  for (const Required& r : required)
    if (form.Detail(r.member).empty()) names += (names.empty() ? "" : ", ") + ctx.TranslatedText(r.name);
  return names;
}

}  // namespace

std::string NextParamNumber(RequestContext& ctx, std::string_view key, int64_t first) {
  store::Table& param = ctx.tbl->TblParam;
  TableGuard guard{&param};
  param.SetIndex("Avain");
  param.Open();
  if (!param.FindKey({store::Txt(std::string(key))})) {
    // A site made without the counter row: begin it at `first`, which is
    // the number handed out now, so that the next one differs.
    param.Append();
    param["Avain"].SetText(key);
    param["ArvoInt32"].SetInt(first);
    param.Post();
    return std::to_string(first);
  }
  const int64_t next = param.Int("ArvoInt32") + 1;
  param.Edit();
  param["ArvoInt32"].SetInt(next);
  param.Post();
  return std::to_string(next);
}

Answer WebModOrvaneWebActSavRegAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const RegForm form = RegForm::FromQuery(ctx.req);
  std::string remoteHost = Cut(ctx.req.remoteHost(), kRemoteHostWidth);

  // The decline button: its Finnish label, or its label in the page's
  // language, leaves without a trace.
  if (form.toim == kDeclineLabel || (!form.toim.empty() && form.toim == ctx.TranslatedText("C35", kDeclineLabel)))
    return Answer::Redirect(ctx.settings.LnkKoti);

  const bool hasSession = ShowsMenu(page.SessionId);
  // Under ClearMessages a refusal keeps the session of a user editing own
  // details (the error page tests it), and names the details left empty.
  const bool clear = ctx.ini.ClearMessages;
  if (form.koodi.size() > 14 || form.tunnus.size() < 4 || (!hasSession && form.koodi.size() < 4) ||
      form.tunnus == form.koodi)
    page.ErrorCode = PageError::BadLogin;
  const std::string missing = clear ? MissingDetails(ctx, form) : std::string();
  if (!missing.empty()) {
    page.ErrorCode = PageError::FieldsMissing;
    page.ErrorDetail = missing;
  } else if (form.Detail(&RegDetailsT::Sukunimi).empty() || form.Detail(&RegDetailsT::EtuNimi).empty() ||
             form.Detail(&RegDetailsT::PuhNo).empty() || form.HasControlBytes()) {
    page.ErrorCode = PageError::DetailsMissing;
  }
  if (page.ErrorCode != PageError::Search) {
    if (!clear) page.SessionId = kNoSession;
    return Answer::Error(page.ErrorCode);
  }
  if (remoteHost.empty()) remoteHost = Cut(ctx.req.remoteAddr(), kRemoteHostWidth);

  const SaveOutcome outcome =
      hasSession ? SaveOwnDetails(ctx, form, remoteHost)
                 : store::InWriteTransaction(ctx.conn, [&] { return Register(ctx, form, remoteHost); });
  if (outcome != SaveOutcome::Updated && outcome != SaveOutcome::Registered) {
    page.SessionId = kNoSession;
    if (clear && outcome == SaveOutcome::Taken) return Answer::Error(PageError::NameTaken);
    if (clear && outcome == SaveOutcome::Blocked) return Answer::Error(PageError::LoginRefused);
    return Answer::Error(PageError::Search);
  }
  return Answer::Redirect(ProgramUrl("regok", {{"ID", page.SessionId},
                                               {"Lang", page.Lang},
                                               {"Upd", outcome == SaveOutcome::Updated ? "Y" : "N"}}));
}

Answer WebModOrvaneWebActRecOkAction(RequestContext& ctx) {
  return ConfirmationPage(ctx, ctx.pages.PageProdRegOk, "regok.html");
}

}  // namespace wo
