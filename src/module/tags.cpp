// The tag handler that every page shares, and the small renderers it calls:
// option lists, the code selection, the list form of the slot list, the
// error messages and the registration details of the session.
//
// Line breaks in generated HTML are single carriage returns. Values that
// come from the request or that a web user typed are HTML-escaped in page
// text and percent-encoded in link queries; site settings, templates and
// the desktop system's tables go in as they are.
#include <algorithm>
#include <cstdio>

#include "base/format.h"
#include "frame/html.h"
#include "base/text.h"
#include "module/module.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

namespace {

// Logged-in tests: the menu counts a session ID longer than 10 characters
// as logged in; the rules link shows while it is shorter than 10; the
// registration tags take anything but "0" as logged in.
bool MenuLoggedIn(const PageState& p) { return p.SessionId.size() > 10; }
bool RegLoggedIn(const PageState& p) { return p.SessionId != "0"; }

// ResourceName is the request's own code when the lookup found no name.
std::string ResourceNameHtml(const PageState& p) {
  return p.ResourceName == p.Resurssi ? HtmlEscape(p.ResourceName) : p.ResourceName;
}

std::string Option(bool selected, std::string_view value, std::string_view shown) {
  std::string r = "<option ";
  if (selected) r += "selected ";
  r += "value=\"";
  r += value;
  r += "\">";
  r += shown;
  r += "\r";
  return r;
}

std::string NumberOptions(int from, int to, int selected) {
  std::string r;
  for (int n = from; n <= to; ++n) {
    std::string v = std::to_string(n);
    r += Option(n == selected, v, v);
  }
  return r;
}

std::string LeftTrimSpaces(std::string s) {
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : s.substr(i);
}

}  // namespace

const std::vector<std::string_view>& KnownTemplateTags() {
  static const std::vector<std::string_view> tags = {
      "AIKALEIMA", "ENNAKKOILMOITUS", "ENNAKKOVARAUS", "ENNAKKOVARAUSPOIS", "ERROR", "EVKOLNK",
      "ID", "KOTISIVU", "LANG", "LOGO", "OMATLISTA", "PGMENU",
      "PGOTSIKKO", "PGOTSIKKOALA", "POISENNENPV", "RESURSSI", "RGEMAIL", "RGENIMI",
      "RGMODETXT", "RGMPUH", "RGNAPPI01", "RGOS01", "RGOS02", "RGOS03",
      "RGPASSWORD", "RGPUH", "RGSNIMI", "RGTUNNUS", "SELECTKK", "SELECTKOODI",
      "SELECTPP", "SELECTRESURSSI", "SELECTVV", "SVKOLNK", "VARAUS", "VARPARAM",
      "VUOROLISTA", "YREMAIL", "YRITYS", "YROSOITE1", "YROSOITE2", "YRPUHELIN",
      "YRSAANTO"};
  return tags;
}

std::string WebModule::PageProdRootHTMLTag(std::string_view tag) {
  const std::string t = Upper(tag);
  // The list above is the contract: a tag that is not in it vanishes.
  const std::vector<std::string_view>& known = KnownTemplateTags();
  if (std::find(known.begin(), known.end(), t) == known.end()) return {};
  const PageState& p = page;
  const Settings& s = settings;

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
  if (t == "VARPARAM") return p.HiddenFields;  // built escaped by the actions
  if (t == "RGTUNNUS") return HtmlEscape(p.RegDetails.Tunnus);

  if (t == "YREMAIL") {
    if (s.EMail.empty()) return {};
    return "<a href=\"mailto:" + s.EMail + "\">" + s.EMail + "</a>";
  }
  if (t == "AIKALEIMA") return FormatDateTimeShort(Now(), ini.TimeSeparator);

  // The page header and footer come from their own templates, expanded by
  // this handler. Inside them the header tags yield nothing, so a header
  // that names itself cannot expand without end.
  if (t == "PGOTSIKKO" || t == "PGOTSIKKOALA") {
    if (inHeader_) return {};
    const std::string& file = t == "PGOTSIKKO" ? s.OtsikkoYla : s.OtsikkoAla;
    if (t == "PGOTSIKKOALA" && Trim(file).empty()) return {};
    PageProdPgOts.SetHTMLFile(TemplateDirectory(p.Lang) + file);
    inHeader_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{inHeader_};
    return PageProdPgOts.Content();
  }

  if (t == "PGMENU") {
    const std::string lang = UrlEncode(p.Lang);
    const std::string id = UrlEncode(p.SessionId);
    auto cell = [&](std::string_view path, const TextDef& label) {
      return "<th><A HREF=\"" + std::string(kProgramUrl) + std::string(path) + "?ID=" + id + "&Lang=" + lang +
             "\">" + TranslatedText(label) + "</A></th>";
    };
    if (MenuLoggedIn(p)) {
      return cell("Omat", texts::C03) + "\r" + cell("Resval", texts::C04) + "\r" + cell("Regin", texts::C05) +
             "\r" + cell("Vaihda", texts::C05a) + "\r" + cell("LogOut", texts::C06);
    }
    return "<th><A HREF=\"" + std::string(kProgramUrl) + "login?Lang=" + lang + "\">" +
           TranslatedText(texts::C01) + "</A></th>\r" + cell("Regin", texts::C02) + "\r" + "<th><A HREF=\"" +
           std::string(kProgramUrl) + "index?Lang=Fin\">FIN</A></th>\r" + "<th><A HREF=\"" +
           std::string(kProgramUrl) + "index?Lang=Eng\">ENG</A></th>";
  }

  if (t == "KOTISIVU") {
    if (s.LnkKoti.size() <= 4) return {};
    return "<th><A HREF=\"" + s.LnkKoti + "\" target=\"_top\">" + TranslatedText(texts::C07) + "</A></th>";
  }

  if (t == "YRSAANTO") {
    if (p.SessionId.size() >= 10 || s.LnkSaanto.size() <= 4) return {};
    return "<br><b><A HREF=\"" + s.LnkSaanto + "\">" + TranslatedText(texts::C10) + TranslatedText(texts::C11) +
           "</A></b><br><br>";
  }

  // Previous and next week (grid form) or day (list forms); the previous
  // link never leads before today. Only the opening of the anchor.
  if (t == "EVKOLNK" || t == "SVKOLNK") {
    if (!(p.ChosenDate > 10)) return {};
    const int step = s.ListanMuoto == 0 ? 7 : 1;
    DateTime d;
    if (t == "EVKOLNK") {
      d = p.ChosenDate - step;
      DateTime today = DateOf(Now());
      if (today > d) d = today;
    } else {
      // Nor does the next one lead past the last day the dates can form.
      d = std::min(p.ChosenDate + step, EncodeDate(9999, 12, 31));
    }
    DateParts dp = Decode(d);
    char tail[64];
    std::snprintf(tail, sizeof tail, "&PP=%d&KK=%d&VV=%d\">", dp.day, dp.month, dp.year);
    return "<A HREF=\"" + std::string(kProgramUrl) + "Viikko?ID=" + UrlEncode(p.SessionId) +
           "&Lang=" + UrlEncode(p.Lang) + "&Resurssi=" + UrlEncode(p.Resurssi) + tail;
  }

  if (t == "SELECTRESURSSI") return BuildResourceOptions();
  if (t == "SELECTPP") return BuildDayOptions();
  if (t == "SELECTKK") return BuildMonthOptions();
  if (t == "SELECTVV") return BuildYearOptions();
  if (t == "SELECTKOODI") return BuildCodeSelect(p.Resurssi);

  if (t == "VUOROLISTA") {
    std::string out;
    if (s.ListanMuoto == 0) {
      FillWeekGrid(out);
      RenderWeekGridRows(out);
    } else {
      RenderSlotList(out);
    }
    return out;
  }
  if (t == "OMATLISTA") {
    std::string out;
    BuildOwnReservationList(out);
    return out;
  }

  // Notice rows about cancelling and fees.
  if (t == "POISENNENPV") {
    if (s.PoistaEnnenPv <= 0) return {};
    return "<tr><td colspan=2><b>\r" + TranslatedText(texts::C12) + std::to_string(s.PoistaEnnenPv) +
           TranslatedText(texts::C13) + "\r</b></td></tr>";
  }
  if (t == "ENNAKKOVARAUS") {
    if (s.VarMaksuKaytossa != 1) return {};
    return "\r<tr><td colspan=2><b>\r" + TranslatedText(texts::C14) + FormatAmount10_2(s.Varausmaksu, ini.DecimalSeparator) +
           " Eur.\r</b></td></tr>";
  }
  if (t == "ENNAKKOVARAUSPOIS") {
    if (s.VarMaksuKaytossa != 1) return {};
    return "\r<tr><td colspan=2><b>\r" + TranslatedText(texts::C15) + std::to_string(s.PoistaEnnenPv) +
           TranslatedText(texts::C16) + "\r</b></td></tr>";
  }
  if (t == "ENNAKKOILMOITUS") {
    if (s.VarMaksuKaytossa != 1) return {};
    return "\r<tr><td colspan=3>\r" + TranslatedText(texts::C17) + LeftTrimSpaces(FormatAmount10_2(s.Varausmaksu, ini.DecimalSeparator)) +
           TranslatedText(texts::C18) + "\r</td></tr>";
  }

  if (t == "ERROR") return ErrorText();

  // The registration form.
  if (t == "RGPASSWORD") {
    if (RegLoggedIn(p)) return {};
    return TranslatedText(texts::C30) + "&nbsp;<input name=\"Koodi\" type=\"password\" size=10 value=\"\">";
  }
  struct RegField {
    std::string_view tag;
    std::string RegDetailsT::*field;
  };
  static const RegField kRegFields[] = {
      {"RGSNIMI", &RegDetailsT::Sukunimi},   {"RGENIMI", &RegDetailsT::EtuNimi},
      {"RGOS01", &RegDetailsT::KatuOsoite1}, {"RGOS02", &RegDetailsT::PostiNo},
      {"RGOS03", &RegDetailsT::PostiToimiPaikka}, {"RGEMAIL", &RegDetailsT::EMail1},
      {"RGPUH", &RegDetailsT::PuhNo},        {"RGMPUH", &RegDetailsT::MatkaPuh},
  };
  for (const RegField& f : kRegFields)
    if (t == f.tag) return RegLoggedIn(p) ? HtmlEscape(p.RegDetails.*f.field) : std::string();
  if (t == "RGMODETXT") return p.RegMode == "Y" ? TranslatedText(texts::C31) : TranslatedText(texts::C32);
  if (t == "RGNAPPI01") {
    if (RegLoggedIn(p)) return "<input name=\"Toim\" type=\"submit\" value=\"" + TranslatedText(texts::C33) + "\">";
    std::string r = "<input type=\"submit\" name=\"Toim\" value=\"" + TranslatedText(texts::C34) + "\">";
    if (s.LnkSaanto.size() > 4)
      r += "&nbsp;<input type=\"submit\" name=\"Toim\" value=\"" + TranslatedText(texts::C35) + "\">";
    return r;
  }

  return {};  // not a tag of this program: it vanishes
}

// SELECTRESURSSI: the centres shown on the web (centre list form) or the
// resources shown on the web, the first one selected.
std::string WebModule::BuildResourceOptions() {
  const bool centres = settings.ListanMuoto == 2;
  store::Table& t = centres ? tbl->TblWebKeskus : tbl->TblResNimi;
  const char* flag = centres ? "WebNayta" : "ResWebNayta";
  const char* code = centres ? "WebKeskus" : "ResNo";
  const char* name = centres ? "WebKeskusNimi" : "ResNimi";
  TableGuard guard(t);
  t.Open();
  std::string r;
  bool first = true;
  for (; !t.Eof(); t.Next()) {
    if (t.Int(flag) != 1) continue;
    r += Option(first, t.Text(code), t.Text(name));
    first = false;
  }
  return r;
}

// SELECTPP, SELECTKK, SELECTVV: by today's date, whatever date the page shows.
std::string WebModule::BuildDayOptions() { return NumberOptions(1, 31, Decode(Now()).day); }
std::string WebModule::BuildMonthOptions() { return NumberOptions(1, 12, Decode(Now()).month); }
std::string WebModule::BuildYearOptions() {
  int year = Decode(Now()).year;
  return NumberOptions(year, year + 1, year);
}

// SELECTKOODI: the web codes of a resource in a table row, or nothing when
// the resource has none.
std::string WebModule::BuildCodeSelect(std::string_view resNo) {
  const std::string key = Cut(resNo, 5);
  store::Table& t = tbl->TblWebKoodi;
  TableGuard guard(t);
  t.Open();
  t.SetRange({store::Txt(key)}, {store::Txt(key)});
  std::string rows;
  for (; !t.Eof(); t.Next()) rows += "<option value=\"" + t.Text("WebKoodi") + "\">" + t.Text("WebSelite") + "\r";
  if (rows.empty()) return {};
  return "<tr><td>" + TranslatedText(texts::C37) + "</td><td><select name=\"Koodi\">\r" +
         "<option selected value=\"Web\">" + TranslatedText(texts::C36) + "\r" + rows + "</select></td></tr>\r";
}

// The list forms of VUOROLISTA: a header row, then the day's slots of every
// shown resource of the centre (centre list form) or of the one resource.
void WebModule::RenderSlotList(std::string& out) {
  out += "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>" + TranslatedText(texts::C39) + "</th><th>" +
         TranslatedText(texts::C40) + "</th><th>" + TranslatedText(texts::C41) + "</th>";
  if (settings.NaytaOhjaaja != 0) out += "<th>" + TranslatedText(texts::C41a) + "</th>";
  out += "<th>" + TranslatedText(texts::C42) + "</th>\r</tr>\r";
  LoadActivityKinds();
  if (settings.ListanMuoto == 2) {
    store::Table& t = tbl->TblRes;  // by ResKeskus;ResWebNayta;ResNimi
    TableGuard guard(t);
    t.Open();
    t.SetRange({store::Txt(page.Resurssi), store::Int(1)}, {store::Txt(page.Resurssi), store::Int(1)});
    for (; !t.Eof(); t.Next()) {
      if (t.Int("ResWebNayta") != 1) continue;
      RenderDaySlotRows(Cut(t.Text("ResNo"), 5), Cut(t.Text("ResNimi"), 35), out);
    }
  } else {
    RenderDaySlotRows(page.Resurssi, ResourceNameHtml(page), out);
  }
}

std::string WebModule::ErrorText() {
  using namespace texts;
  switch (page.ErrorCode) {
    case 0: return TranslatedText(C19);
    case 1: return TranslatedText(C20);
    case 2: return TranslatedText(C21) + std::to_string(settings.MaxAsVaraus) + TranslatedText(C21a);
    case 3: return TranslatedText(C22);
    case 4: return TranslatedText(C23) + "4" + TranslatedText(C24);
    case 5: return TranslatedText(C25);
    case 6: return TranslatedText(C26) + std::to_string(settings.MaxVarausPv) + TranslatedText(C27);
    case 7: return TranslatedText(C28) + std::to_string(settings.MaxVanhatVaraukset) + TranslatedText(C28a);
    case 8: return TranslatedText(C29);
    case 9: return TranslatedText(C52);
    case 10: return TranslatedText(C53);
    default: return {};
  }
}

// The details of a session for the login, registration and password
// forms: valid when DetailsSessionLookup accepts it (an ID longer than 10
// characters, a WEBREG row that has it and is not blocked, its last event
// less than 12 hours back). Otherwise SessionId becomes "0". WEBREG stays
// open (index ID;Tunnus) until the module ends.
void WebModule::LoadRegistrationDetails() {
  auto noSession = [this] {
    page.RegDetails = RegDetailsT{};
    page.SessionId = std::string(1, '0');
  };
  if (!DetailsSessionLookup()) return noSession();
  store::Table& t = tbl->TblWebReg;
  RegDetailsT& r = page.RegDetails;
  r.Tunnus = Cut(t.Text("Tunnus"), 20);
  r.Sukunimi = Cut(t.Text("Sukunimi"), 35);
  r.EtuNimi = Cut(t.Text("EtuNimi"), 25);
  r.KatuOsoite1 = Cut(t.Text("KatuOsoite1"), 30);
  r.PostiNo = Cut(t.Text("PostiNo"), 5);
  r.PostiToimiPaikka = Cut(t.Text("PostiToimiPaikka"), 25);
  r.EMail1 = Cut(t.Text("EMail1"), 80);
  r.PuhNo = Cut(t.Text("PuhNo"), 15);
  r.MatkaPuh = Cut(t.Text("MatkaPuh"), 15);
}

}  // namespace wo
