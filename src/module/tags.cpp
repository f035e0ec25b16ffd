// The tag handler that every page shares, and the small renderers it calls:
// option lists, the code selection and the error messages.
//
// Line breaks in generated HTML are single carriage returns. Request values
// and what web users typed go through the builders of frame/html.h as
// text; site settings, templates and the desktop system's tables go in as
// they are.
#include "module/tags.h"

#include <algorithm>
#include <optional>

#include "base/format.h"
#include "base/text.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

std::string ResourceNameHtml(const PageState& p) {
  return p.ResourceName == p.Resurssi ? HtmlEscape(p.ResourceName) : p.ResourceName;
}

namespace {

std::string NumberOptions(int from, int to, int selected) {
  std::string r;
  for (int n = from; n <= to; ++n) {
    std::string v = std::to_string(n);
    r += OptionTag(n == selected, v, v);
  }
  return r;
}

std::string LeftTrimSpaces(std::string s) {
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : s.substr(i);
}

// SELECTRESURSSI: the centres shown on the web (centre list form) or the
// resources shown on the web, the first one selected. The list depends on
// the table alone, so a process that serves many requests keeps it with
// the code tables while the database is unchanged.
std::string BuildResourceOptions(RequestContext& ctx) {
  const bool centres = ctx.settings.ListanMuoto == 2;
  std::optional<std::string>& kept = centres ? ctx.codes.centreOptions : ctx.codes.resourceOptions;
  ctx.UseKeptCodeTables();
  if (kept) return *kept;
  store::Table& t = centres ? ctx.tbl->TblWebKeskus : ctx.tbl->TblResNimi;
  const char* flag = centres ? "WebNayta" : "ResWebNayta";
  const char* code = centres ? "WebKeskus" : "ResNo";
  const char* name = centres ? "WebKeskusNimi" : "ResNimi";
  TableGuard guard{&t};
  t.Open();
  std::string r;
  bool first = true;
  for (; !t.Eof(); t.Next()) {
    if (t.Int(flag) != 1) continue;
    r += OptionTag(first, Html{t.Text(code)}, Html{t.Text(name)});
    first = false;
  }
  kept = r;
  return r;
}

// PGMENU: the logged-in user's five links, or the visitor's four.
std::string Menu(RequestContext& ctx) {
  const PageState& p = ctx.page;
  auto cell = [&](const std::string& url, const TextDef& label) {
    return "<th>" + LinkOpen(url) + ctx.TranslatedText(label) + "</A></th>";
  };
  auto withSession = [&](std::string_view action, const TextDef& label) {
    return cell(ProgramUrl(action, {{"ID", p.SessionId}, {"Lang", p.Lang}}), label);
  };
  if (ShowsMenu(p.SessionId)) {
    return withSession("Omat", texts::C03) + "\r" + withSession("Resval", texts::C04) + "\r" +
           withSession("Regin", texts::C05) + "\r" + withSession("Vaihda", texts::C05a) + "\r" +
           withSession("LogOut", texts::C06);
  }
  return cell(ProgramUrl("login", {{"Lang", p.Lang}}), texts::C01) + "\r" +
         withSession("Regin", texts::C02) + "\r" + "<th>" + LinkOpen(ProgramUrl("index", {{"Lang", "Fin"}})) +
         "FIN</A></th>\r" + "<th>" + LinkOpen(ProgramUrl("index", {{"Lang", "Eng"}})) + "ENG</A></th>";
}

// EVKOLNK, SVKOLNK: previous and next week (grid form) or day (list forms);
// the previous link never leads before today, nor the next one past the
// last day the dates can form. Only the opening of the anchor.
std::string StepLink(RequestContext& ctx, bool back) {
  const PageState& p = ctx.page;
  if (!(p.ChosenDate > 10)) return {};
  const int step = ctx.settings.ListanMuoto == 0 ? 7 : 1;
  DateTime d;
  if (back) {
    d = p.ChosenDate - step;
    DateTime today = DateOf(ctx.Now());
    if (today > d) d = today;
  } else {
    d = std::min(p.ChosenDate + step, EncodeDate(9999, 12, 31));
  }
  const DateParts dp = Decode(d);
  const std::string day = std::to_string(dp.day), month = std::to_string(dp.month), year = std::to_string(dp.year);
  return LinkOpen(ProgramUrl("Viikko", {{"ID", p.SessionId},
                                        {"Lang", p.Lang},
                                        {"Resurssi", p.Resurssi},
                                        {"PP", day},
                                        {"KK", month},
                                        {"VV", year}}));
}

// PGOTSIKKO, PGOTSIKKOALA: the page header and footer from their own
// templates, expanded by this handler. Inside them the header tags yield
// nothing, so a header that names itself cannot expand without end.
std::string HeaderTemplate(RequestContext& ctx, bool footer) {
  if (ctx.inHeader) return {};
  const std::string& file = footer ? ctx.settings.OtsikkoAla : ctx.settings.OtsikkoYla;
  if (footer && Trim(file).empty()) return {};
  PageProducer& producer = ctx.pages.PageProdPgOts;
  producer.SetHTMLFile(TemplateDirectory(ctx.page.Lang) + file);
  ctx.inHeader = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{ctx.inHeader};
  return producer.Content();
}

// The notice rows about cancelling and fees; empty while the fee is not in
// use (POISENNENPV: while no deadline is set).
std::string Notice(RequestContext& ctx, std::string_view t) {
  const Settings& s = ctx.settings;
  if (t == "POISENNENPV") {
    if (s.PoistaEnnenPv <= 0) return {};
    return "<tr><td colspan=2><b>\r" + ctx.TranslatedText(texts::C12) + std::to_string(s.PoistaEnnenPv) +
           ctx.TranslatedText(texts::C13) + "\r</b></td></tr>";
  }
  if (s.VarMaksuKaytossa != 1) return {};
  const std::string fee = FormatAmount10_2(s.Varausmaksu, ctx.DecimalSep());
  if (t == "ENNAKKOVARAUS")
    return "\r<tr><td colspan=2><b>\r" + ctx.TranslatedText(texts::C14) + fee + " Eur.\r</b></td></tr>";
  if (t == "ENNAKKOVARAUSPOIS")
    return "\r<tr><td colspan=2><b>\r" + ctx.TranslatedText(texts::C15) + std::to_string(s.PoistaEnnenPv) +
           ctx.TranslatedText(texts::C16) + "\r</b></td></tr>";
  return "\r<tr><td colspan=3>\r" + ctx.TranslatedText(texts::C17) + LeftTrimSpaces(fee) +
         ctx.TranslatedText(texts::C18) + "\r</td></tr>";  // ENNAKKOILMOITUS
}

// The registration form's own tags (RGPASSWORD, RGMODETXT, RGNAPPI01 and
// the details of kRegFields); nullopt for any other tag.
std::optional<std::string> RegistrationTag(RequestContext& ctx, std::string_view t) {
  const PageState& p = ctx.page;
  if (t == "RGPASSWORD") {
    if (FillsForm(p.SessionId)) return std::string();
    return ctx.TranslatedText(texts::C30) + "&nbsp;<input name=\"Koodi\" type=\"password\" size=10 value=\"\">";
  }
  for (const RegField& f : kRegFields)
    if (t == f.tag) return FillsForm(p.SessionId) ? HtmlEscape(p.RegDetails.*f.member) : std::string();
  if (t == "RGMODETXT") return p.RegMode == "Y" ? ctx.TranslatedText(texts::C31) : ctx.TranslatedText(texts::C32);
  if (t == "RGNAPPI01") {
    if (FillsForm(p.SessionId))
      return "<input name=\"Toim\" type=\"submit\" value=\"" + ctx.TranslatedText(texts::C33) + "\">";
    std::string r = "<input type=\"submit\" name=\"Toim\" value=\"" + ctx.TranslatedText(texts::C34) + "\">";
    if (ctx.settings.LnkSaanto.size() > 4)
      r += "&nbsp;<input type=\"submit\" name=\"Toim\" value=\"" + ctx.TranslatedText(texts::C35) + "\">";
    return r;
  }
  return std::nullopt;
}

// The tags of the password reset by e-mail, nothing with [Features] Mail
// off: UNOHTUILINKKI, the login page's link to the reset form, and
// PALAUTUSVIESTI, the notice of the reset pages (page.ResetNotice).
std::string ResetTag(RequestContext& ctx, std::string_view t) {
  const PageState& p = ctx.page;
  if (!ctx.ini.Mail) return {};
  if (t == "UNOHTUILINKKI")
    return "<p class=\"forgot\">" + LinkOpen(ProgramUrl("Unohtui", {{"Lang", p.Lang}})) +
           ctx.TranslatedText(texts::C80) + "</A></p>";
  if (!p.ResetNotice) return {};
  const char* role = p.ResetNotice == &texts::C81 ? "status" : "alert";
  return "<p class=\"notice\" role=\"" + std::string(role) + "\">" + ctx.TranslatedText(*p.ResetNotice) +
         "</p>";
}

}  // namespace

const std::vector<std::string_view>& KnownTemplateTags() {
  static const std::vector<std::string_view> tags = {
      "AIKALEIMA", "ENNAKKOILMOITUS", "ENNAKKOVARAUS", "ENNAKKOVARAUSPOIS", "ERROR", "EVKOLNK",
      "ID", "KALENTERI", "KALENTERILINKKI", "KOTISIVU", "LANG", "LOGO", "OMATLISTA", "PALAUTUSVIESTI", "PGMENU",
      "PGOTSIKKO", "PGOTSIKKOALA", "POISENNENPV", "RESURSSI", "RGEMAIL", "RGENIMI",
      "RGMODETXT", "RGMPUH", "RGNAPPI01", "RGOS01", "RGOS02", "RGOS03",
      "RGPASSWORD", "RGPUH", "RGSNIMI", "RGTUNNUS", "SELECTKK", "SELECTKOODI",
      "SELECTPP", "SELECTRESURSSI", "SELECTVV", "SVKOLNK", "UNOHTUILINKKI", "VARAUS", "VARPARAM",
      "VARAUSTIEDOT", "VUOROLISTA", "YREMAIL", "YRITYS", "YROSOITE1", "YROSOITE2", "YRPUHELIN",
      "YRSAANTO"};
  return tags;
}

std::string PageProdRootHTMLTag(RequestContext& ctx, std::string_view tag) {
  const std::string t = Upper(tag);
  // The list above is the contract: a tag that is not in it vanishes.
  const std::vector<std::string_view>& known = KnownTemplateTags();
  if (std::find(known.begin(), known.end(), t) == known.end()) return {};
  const PageState& p = ctx.page;
  const Settings& s = ctx.settings;

  // Plain values.
  if (t == "YRITYS") return p.CompanyName;
  if (t == "YROSOITE1") return s.OsoiteRivi1;
  if (t == "YROSOITE2") return s.OsoiteRivi2;
  if (t == "YRPUHELIN") return s.Puhelin;
  if (t == "LOGO") return s.Logo;
  if (t == "ID") return HtmlEscape(p.SessionId);
  if (t == "LANG") return HtmlEscape(p.Lang);
  if (t == "RESURSSI") return ResourceNameHtml(p);
  if (t == "VARAUS") return p.ReservationText;
  if (t == "VARPARAM") return p.HiddenFields;  // built by HiddenInput
  if (t == "VARAUSTIEDOT") return p.ReservationDetails;  // built escaped, under OwnListDetails only
  if (t == "RGTUNNUS") return HtmlEscape(p.RegDetails.Tunnus);
  if (t == "YREMAIL") {
    if (s.EMail.empty()) return {};
    return "<a href=\"mailto:" + s.EMail + "\">" + s.EMail + "</a>";
  }
  if (t == "AIKALEIMA") return FormatDateTimeShort(ctx.Now(), ctx.TimeSep());

  if (t == "PGOTSIKKO" || t == "PGOTSIKKOALA") return HeaderTemplate(ctx, t == "PGOTSIKKOALA");
  if (t == "PGMENU") return Menu(ctx);
  if (t == "KOTISIVU") {
    if (s.LnkKoti.size() <= 4) return {};
    return "<th>" + LinkOpen(Html{s.LnkKoti}, "_top") + ctx.TranslatedText(texts::C07) + "</A></th>";
  }
  if (t == "YRSAANTO") {
    if (!ShowsRules(p.SessionId) || s.LnkSaanto.size() <= 4) return {};
    return "<br><b>" + LinkOpen(Html{s.LnkSaanto}) + ctx.TranslatedText(texts::C10) +
           ctx.TranslatedText(texts::C11) + "</A></b><br><br>";
  }
  if (t == "EVKOLNK" || t == "SVKOLNK") return StepLink(ctx, t == "EVKOLNK");

  if (t == "SELECTRESURSSI") return BuildResourceOptions(ctx);
  // SELECTPP, SELECTKK, SELECTVV: by today's date, whatever date the page shows.
  if (t == "SELECTPP") return NumberOptions(1, 31, Decode(ctx.Now()).day);
  if (t == "SELECTKK") return NumberOptions(1, 12, Decode(ctx.Now()).month);
  if (t == "SELECTVV") {
    const int year = Decode(ctx.Now()).year;
    return NumberOptions(year, year + 1, year);
  }
  if (t == "SELECTKOODI") return BuildCodeSelect(ctx, p.Resurssi);

  if (t == "VUOROLISTA") return ctx.renderers.slotList(ctx);
  if (t == "OMATLISTA") return ctx.renderers.ownReservations(ctx);
  if (t == "KALENTERI") return ctx.renderers.calendarFeed ? ctx.renderers.calendarFeed(ctx) : std::string();
  if (t == "KALENTERILINKKI")
    return ctx.renderers.addToCalendar ? ctx.renderers.addToCalendar(ctx) : std::string();

  if (t == "POISENNENPV" || t == "ENNAKKOVARAUS" || t == "ENNAKKOVARAUSPOIS" || t == "ENNAKKOILMOITUS")
    return Notice(ctx, t);
  if (t == "ERROR") return ErrorText(ctx);
  if (t == "UNOHTUILINKKI" || t == "PALAUTUSVIESTI") return ResetTag(ctx, t);
  return RegistrationTag(ctx, t).value_or(std::string());
}

std::string WebCodeTextKey(std::string_view resNo, std::string_view code) {
  return "WEBKOODI/" + Trim(resNo) + "/" + Trim(code);
}

std::string BuildCodeSelect(RequestContext& ctx, std::string_view resNo) {
  const std::string key = Cut(resNo, kCodeWidth);
  store::Table& t = ctx.tbl->TblWebKoodi;
  TableGuard guard{&t};
  t.Open();
  t.SetRange({store::Txt(key)}, {store::Txt(key)});
  std::string rows;
  for (; !t.Eof(); t.Next()) {
    const std::string code = t.Text("WebKoodi");
    std::string name = t.Text("WebSelite");
    // Under PageLanguage a code's name in the page's language, where the
    // site has given it one.
    if (ctx.ini.PageLanguage)
      if (std::optional<std::string> own = ctx.SiteText(WebCodeTextKey(key, code))) name = *own;
    rows += OptionTag(false, Html{code}, Html{name});
  }
  if (rows.empty()) return {};
  // Under OwnListDetails the row's label names the selection.
  const std::string label = ctx.ini.OwnListDetails
                                ? "<label for=\"Koodi\">" + ctx.TranslatedText(texts::C37) + "</label>"
                                : ctx.TranslatedText(texts::C37);
  const char* select = ctx.ini.OwnListDetails ? "<select name=\"Koodi\" id=\"Koodi\">\r" : "<select name=\"Koodi\">\r";
  return "<tr><td>" + label + "</td><td>" + select + OptionTag(true, Html{"Web"}, Html{ctx.TranslatedText(texts::C36)}) +
         rows + "</select></td></tr>\r";
}

std::string ErrorText(RequestContext& ctx) {
  using namespace texts;
  const Settings& s = ctx.settings;
  auto text = [&](const TextDef& d) { return ctx.TranslatedText(d); };
  switch (ctx.page.ErrorCode) {
    case PageError::Search: return text(C19);
    case PageError::Duplicate: return text(C20);
    case PageError::TooManyOpen: return text(C21) + std::to_string(s.MaxAsVaraus) + text(C21a);
    case PageError::DetailsMissing: return text(C22);
    case PageError::BadLogin: return text(C23) + "4" + text(C24);
    case PageError::NotFound: return text(C25);
    case PageError::BeyondHorizon: return text(C26) + std::to_string(s.MaxVarausPv) + text(C27);
    case PageError::TooManyPast: return text(C28) + std::to_string(s.MaxVanhatVaraukset) + text(C28a);
    case PageError::CreditLimit: return text(C29);
    case PageError::SlotClosed: return text(C52);
    case PageError::TooLateToCancel: return text(C53);
    case PageError::WrongLogin: return text(C73);
    case PageError::LoginRefused: return text(C74);
    case PageError::NameTaken: return text(C75);
    case PageError::FieldsMissing: return text(C76) + " " + ctx.page.ErrorDetail + ".";
    case PageError::QueueNotFull: return text(C90);
    case PageError::QueueBooked: return text(C91);
    case PageError::QueueJoined: return text(C92);
    case PageError::QueueTooMany: return text(C93) + " " + std::to_string(s.MaxAsVaraus) + ".";
    case PageError::QueueNotIn: return text(C94);
  }
  return {};
}

}  // namespace wo
