// The web module TWebModOrvane: one per request. It owns the settings, the
// page state, the work buffers of the calendar, the table handles and the
// page producers, and carries the nineteen actions. Its constructor is the
// create hook (WebModuleCreate) and its destructor the destroy hook
// (WebModuleDestroy).
//
// Action handlers live in one file per action family:
//   module/plain_pages.cpp      /Index /Login /Regin /Vaihda /Omat
//   booking/calendar.cpp        /ResVal /Viikko and the slot renderers
//   booking/session.cpp         /ChkLogin /LogOut and the session tests
//   booking/registration.cpp    /SavReg /RegOk
//   booking/password.cpp        /VaihdaSana /VaihdaOk
//   booking/reservation.cpp     /Varaa /Var /VarOk
//   booking/own_reservations.cpp /Poista /PoisVar /PoisOk and OMATLISTA
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/cgi.h"
#include "frame/page_producer.h"
#include "module/ini.h"
#include "store/database.h"
#include "store/handles.h"
#include "base/datetime.h"
#include "base/format.h"
#include "base/text.h"
#include "store/table.h"

namespace wo {

struct TextDef;  // module/texts.h

// Site settings: the WEBPARAM row "01" over these start values.
struct Settings {
  std::string OsoiteRivi1, OsoiteRivi2;  // 50
  std::string Puhelin;                   // 15
  std::string EMail;                     // 50
  std::string LnkKoti, LnkSaanto;        // 80
  int MaxAsVaraus = 4;
  int ListanMuoto = 0;
  int NaytaOhjaaja = 0;
  int PoistaEnnenPv = 0;
  int MaxVarausPv = 30;
  int MaxVanhatPv = 180;
  int MaxVanhatVaraukset = 3;
  int VarMaksuKaytossa = 0;
  double Varausmaksu = 0.0;
  double Luottoraja = 0.0;
  std::string Logo = "logo.jpg";          // 50
  std::string OtsikkoYla = "otsikko.html";  // 80
  std::string OtsikkoAla;                 // 80
};

struct RegDetailsT {
  std::string Tunnus;            // 20
  std::string Sukunimi;          // 35
  std::string EtuNimi;           // 25
  std::string KatuOsoite1;       // 30
  std::string PostiNo;           // 5
  std::string PostiToimiPaikka;  // 25
  std::string EMail1;            // 80
  std::string PuhNo;             // 15
  std::string MatkaPuh;          // 15
};

// What an action hands to the tags of its page. Capacities in comments;
// use Cut() when storing.
struct PageState {
  std::string SessionId = "0";             // 50
  std::string Lang = "FIN";                // 15
  std::string Resurssi;                    // 5
  // 35. A table's name for Resurssi, or Resurssi itself when the table lacks
  // it (ResourceNameOf, CentreNameOf). Store it as that lookup gives it: the
  // tags HTML-escape it whenever it equals Resurssi, since it is then the
  // request's own text.
  std::string ResourceName = "Ei m\xe4\xe4ritelty";
  DateTime ChosenDate = 0;
  int ErrorCode = 0;
  std::string ReservationText;  // 80
  std::string HiddenFields;     // unbounded
  std::string RegMode;          // 10
  RegDetailsT RegDetails;
  std::string CompanyName;  // 50
};

// Calendar work buffers.
struct GridCell {
  std::string Kausi, VuoroNo, VuoroNoSeq, ResNo, Laji, Ohjaaja;  // 5, untrimmed
  std::string Tyyppi;                                            // 3
  DateTime Start = 0, End = 0;
  double Kesto = 0;
  int Maara = 0, Reserved = 0, Used = 0;
};
struct TimeRow {
  DateTime Start = 0, End = 0;
  double Kesto = 0;
  int Used = 0;
};
struct ActivityKind {
  std::string Koodi;    // 5
  std::string Lyhenne;  // 35
};
constexpr int kGridRows = 96;
constexpr int kGridColumns = 7;
constexpr int kMaxKinds = 900;

// The fifteen table handles, all closed until an operation opens them; each
// as the store defines it (store/handles.h).
struct Tables {
  explicit Tables(store::Connection& c) : conn(c) {}
  store::Connection& conn;
  store::Table TblWebParam = store::MakeHandle(conn, "TblWebParam");
  store::Table TblResNimi = store::MakeHandle(conn, "TblResNimi");
  store::Table TblRes = store::MakeHandle(conn, "TblRes");
  store::Table TblFiVuoro = store::MakeHandle(conn, "TblFiVuoro");
  store::Table TblVuoro = store::MakeHandle(conn, "TblVuoro");
  store::Table TblVaLaji = store::MakeHandle(conn, "TblVaLaji");
  store::Table TblWebReg = store::MakeHandle(conn, "TblWebReg");
  store::Table TblVa = store::MakeHandle(conn, "TblVa");
  store::Table TblVaAs = store::MakeHandle(conn, "TblVaAs");
  store::Table TblAsiakas = store::MakeHandle(conn, "TblAsiakas");
  store::Table TblParam = store::MakeHandle(conn, "TblParam");
  store::Table TblWebKoodi = store::MakeHandle(conn, "TblWebKoodi");
  store::Table TblWebKeskus = store::MakeHandle(conn, "TblWebKeskus");
  store::Table TblVaOhjaaja = store::MakeHandle(conn, "TblVaOhjaaja");
  store::Table FTblLang = store::MakeHandle(conn, "FTblLang");
};

// Where the module finds its INI file and log folder.
struct ModulePaths {
  std::string iniFile;    // ".../bin/Velmori.ini"
  std::string logFolder;  // ".../log/"
  // From the program's own directory: dir + "../../bin/Velmori.ini".
  static ModulePaths FromExecutable();
};

// The outcome of the idle-tested session lookup.
enum class SessionState {
  None,      // SessionId "0" or empty, or no WEBREG row has it
  TimedOut,  // the row was found idle too long; its ID is now "0"
  Valid      // TblWebReg is positioned on the user's row
};

class WebModule : public WebModuleBase {
 public:
  // WebModuleCreate. Throws when the settings cannot be read.
  WebModule(const Request& req, Response& resp, const ModulePaths& paths);
  // WebModuleDestroy.
  ~WebModule() override;

  std::span<const ActionItem> Actions() override;
  void ReportException(const char* type, const std::string& msg) noexcept override;

  const Request& req;
  Response& resp;
  ModulePaths paths;
  Settings settings;
  SiteIni ini;  // the INI file as read at start-up
  PageState page;
  std::string ServerName, ServerAddress;  // 80 each
  std::unique_ptr<store::Connection> conn;
  std::unique_ptr<Tables> tbl;

  std::vector<std::array<GridCell, kGridColumns>> WeekGrid;  // kGridRows rows
  std::vector<TimeRow> TimeRows;                             // kGridRows
  std::vector<ActivityKind> ActivityKinds;                   // up to kMaxKinds
  int RowCount = 0, ColumnCount = 0, KindCount = 0;

  PageProducer PageProdRoot, PageProdLogin, PageProdRegin, PageProdVaihda, PageProdOmat,
      PageProdResVal, PageProdViikko, PageProdVarOk, PageProdVaraa, PageProdRegOk,
      PageProdVaihdaOk, PageProdPoista, PageProdPoisOk, PageProdError, PageProdPgOts;

  // ---- rendering (module/module.cpp) ----
  // Sets the producer's file to TemplateDirectory(Lang) + file, renders it
  // and makes it the response content.
  void RenderPage(PageProducer& producer, std::string_view file);
  // "error.html" with the current ErrorCode.
  void ErrorPage();
  // "/cgi-bin/WebOrvane.exe/index?Lang=" + Lang (percent-encoded).
  std::string IndexUrl() const;

  // ---- translated texts (module/translated_text.cpp) ----
  std::string TranslatedText(std::string_view key, std::string_view def);
  // The same for a key of module/texts.h: TranslatedText(texts::C38).
  std::string TranslatedText(const TextDef& text);

  // ---- tags (module/tags.cpp) ----
  std::string PageProdRootHTMLTag(std::string_view tag);
  std::string BuildResourceOptions();
  std::string BuildDayOptions();
  std::string BuildMonthOptions();
  std::string BuildYearOptions();
  std::string BuildCodeSelect(std::string_view resNo);
  void RenderSlotList(std::string& out);
  std::string ErrorText();
  void LoadRegistrationDetails();

  // ---- calendar (booking/calendar.cpp) ----
  void FillWeekGrid(std::string& out);
  void RenderWeekGridRows(std::string& out);
  void RenderDaySlotRows(std::string_view resNo, std::string_view resName, std::string& out);
  void LoadActivityKinds();
  std::string ActivityKindText(std::string_view code);
  std::string InstructorText(std::string_view code);
  std::string ResourceNameOf(std::string_view code);
  std::string CentreNameOf(std::string_view code);
  int PlaceInTimeRow(DateTime start, DateTime end, double kesto, int row);
  int CountReservations(std::string_view kausi, std::string_view vuoroNo, std::string_view seq);
  // The booking link "<A HREF=\".../Varaa?...\">" of a slot.
  std::string BookingLinkOpen(std::string_view kausi, std::string_view vuoroNo, std::string_view seq);

  // ---- sessions (booking/session.cpp) ----
  // Positions TblWebReg (index "ID;Tunnus", opened) on the row of SessionId;
  // false for "0", an empty ID, no row or a blocked user's row. Leaves
  // WEBREG open.
  bool PlainSessionLookup();
  // The test of the details forms and of the save of own details: an ID
  // longer than 10 characters whose row is not blocked and whose Aika lies
  // less than 12 hours back. Positions and leaves WEBREG as the plain
  // lookup does; writes nothing.
  bool DetailsSessionLookup();
  // The idle-tested lookup; on TimedOut the row's ID is already "0".
  SessionState IdleTestedSession();
  // Aika := now on the current WEBREG row, posted.
  void RefreshSession();

  // ---- reservation (booking/reservation.cpp) ----
  int CommitReservation(const std::string& kau, const std::string& vuo, const std::string& seq,
                        const std::string& asNo, const std::string& korttiLyh, std::string koodi,
                        int places, double& balance, bool& chargeWebBalance);
  void CountOpenReservations(std::string_view asNo, int& open, int& past);

  // ---- own reservations (booking/own_reservations.cpp) ----
  void BuildOwnReservationList(std::string& out);
  void GetCustomerBalance(std::string_view asNo, double& balance);

  // ---- registration (booking/registration.cpp) ----
  // Draws the next number of the PARAM counter `key` (ArvoInt32 + 1, posted)
  // and returns it as decimal text. A missing counter row is created
  // holding `first`, which is then the number drawn. Run it inside the
  // caller's write transaction, so that no number is handed out twice.
  std::string NextParamNumber(std::string_view key, int64_t first);

  // ---- actions ----
  void WebModOrvaneWebActRootAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActResValAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActViikkoAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActLoginAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActChkLoginAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActReginAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActSavRegAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActRecOkAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActLogOutAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVarAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVarOkAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVaraaAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActOmatAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActPoistaAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActPoisVarAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActPoisOkAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVaihdaAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVaihdaSanaAction(const Request&, Response&, bool&);
  void WebModOrvaneWebActVaihdaOkAction(const Request&, Response&, bool&);

 private:
  void WebModuleCreate();
  void WebModuleDestroy();
  void LoadSettings();
  bool SeedsLanguage(const std::string& language);
  bool inHeader_ = false;  // a header template is being expanded
  std::optional<std::string> seedCheckedLanguage_;  // SeedsLanguage's answer
  bool seedAllowed_ = false;                        // for that language
  std::vector<ActionItem> actions_;
};

// The tags of the templates, in upper case: the names PageProdRootHTMLTag
// answers (names compare without case); any other tag vanishes.
const std::vector<std::string_view>& KnownTemplateTags();

// The files of each template folder: the page of every action, the error
// page and the page header that <#PGOTSIKKO> inserts by default.
inline constexpr const char* kTemplatePages[] = {
    "index.html", "login.html",   "regin.html",  "vaihda.html",   "omat.html", "resval.html",
    "viikko.html", "varok.html",  "varaa.html",  "regok.html",    "vaihdaok.html", "poista.html",
    "poisok.html", "error.html",  "otsikko.html"};

// Session IDs (booking/session.cpp): the trimmed customer number's length
// plus 16 random letters and digits. SessionTimedOut: more than 600 whole
// seconds, or a day or more, between aika and now, in either direction.
std::string MakeSessionId(std::string_view customerNumber);
bool SessionTimedOut(DateTime aika);
// The password cipher (booking/password_cipher.cpp): a password of n <= 14
// bytes is stored in n + 1 printable characters; any bytes up to 43 round
// trip. DecodePassword gives "" for a text EncodePassword never writes, so
// test a typed password with accounts::PasswordMatches (booking/accounts.h).
std::string EncodePassword(std::string_view plain);
std::string DecodePassword(std::string_view stored);
// The cipher's key: INI [Security] PasswordKey, a built-in key when unset.
void SetPasswordKey(std::string key);

}  // namespace wo
