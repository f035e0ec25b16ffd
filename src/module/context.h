// The context of one request: the request and the response, the site's
// settings (the INI file and the WEBPARAM row, read for this request), the
// page state, the table handles, the page producers, the calendar's work
// buffers and the translated-text cache. The module makes a fresh one for
// every request and passes it to every action, tag and renderer; nothing
// of a request lives anywhere else. What may outlive a request (the
// connection, the clock, the paths) is borrowed from Resources.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/page_producer.h"
#include "frame/request.h"
#include "frame/response.h"
#include "module/ini.h"
#include "module/page_state.h"
#include "module/password_cipher.h"
#include "module/renderers.h"
#include "module/resources.h"
#include "module/texts.h"
#include "store/database.h"
#include "store/handles.h"
#include "store/table.h"

namespace wo {

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

// The page producers: one per page, each expanding its template's tags
// through PageProdRootHTMLTag (module/tags.h).
struct PageProducers {
  explicit PageProducers(const TagHandler& h)
      : PageProdRoot(h), PageProdLogin(h), PageProdRegin(h), PageProdVaihda(h), PageProdOmat(h),
        PageProdResVal(h), PageProdViikko(h), PageProdVarOk(h), PageProdVaraa(h), PageProdRegOk(h),
        PageProdVaihdaOk(h), PageProdPoista(h), PageProdPoisOk(h), PageProdError(h), PageProdPgOts(h) {}
  PageProducer PageProdRoot, PageProdLogin, PageProdRegin, PageProdVaihda, PageProdOmat, PageProdResVal,
      PageProdViikko, PageProdVarOk, PageProdVaraa, PageProdRegOk, PageProdVaihdaOk, PageProdPoista,
      PageProdPoisOk, PageProdError, PageProdPgOts;
};

struct RequestContext {
  // The start of a request, in this order: start values, the INI file
  // (IniError when it cannot be read), the connection, the settings row.
  // A connection that cannot be made shows as the error of the first
  // table operation, the opening of WEBPARAM.
  // `ahead`, when given, runs just before the settings row is read: what
  // it announces (Table::PrefetchKey) goes to the server with that row.
  // Throws what the start-up raises.
  RequestContext(const Request& req, Response& resp, Resources& res, const Renderers& renderers,
                 const std::function<void(RequestContext&)>& ahead = {});
  // The end of a request: every handle closed and a write transaction
  // still open rolled back, so that the connection can serve the next one;
  // the code tables read are kept when the resources keep them.
  // Never throws.
  ~RequestContext();
  RequestContext(const RequestContext&) = delete;
  RequestContext& operator=(const RequestContext&) = delete;

  const Request& req;
  Response& resp;
  const ModulePaths& paths;
  const Renderers& renderers;

  SiteIni ini;  // the INI file as read at start-up
  std::string ServerName, ServerAddress;  // kServerNameWidth
  PasswordCipher cipher;                  // under ini.PasswordKey
  Settings settings;
  PageState page;
  store::Connection& conn;
  std::unique_ptr<Tables> tbl;
  PageProducers pages;

  // The week grid (up to kGridRows rows of kGridColumns cells: the rows up
  // to the last one in use, never fewer than RowCount), its time rows and
  // the activity kinds (up to kMaxKinds). Empty until the calendar fills
  // them: most pages never show a grid, and a full grid is some 180 kB.
  std::vector<std::array<GridCell, kGridColumns>> WeekGrid;
  std::vector<TimeRow> TimeRows;
  std::vector<ActivityKind> ActivityKinds;
  int RowCount = 0, ColumnCount = 0, KindCount = 0;
  // The session's customer as the calendar found it (booking/calendar.h
  // SessionCustomer), with the session id it was found for.
  std::optional<std::pair<std::string, std::string>> SessionCustomerAsked;
  // What the request read of the small code tables and what is made of
  // them alone (module/resources.h CodeTables): the instructors, resources
  // and centres read whole at their first lookup (booking/calendar.cpp
  // LookUpCode), each row's values by its code, `whole` false when the
  // table was longer than what was read; the activity kinds as
  // LoadActivityKinds read them; the option lists of module/tags.cpp; the
  // centres' resources of booking/day_list.cpp.
  using CodeRows = wo::CodeRows;
  CodeTables codes;
  // Called before every lookup in those tables: at the first one, in a
  // process that serves many requests, they start as the requests before
  // left them while the database has not changed since
  // (Resources::TakeCodeTables); not inside a write transaction. `whole`
  // is false for a lookup that reads only the row it names and keeps
  // nothing, which uses kept tables only when there are some. Never
  // throws.
  void UseKeptCodeTables(bool whole = true);

  // A header template (PGOTSIKKO, PGOTSIKKOALA) is being expanded.
  bool inHeader = false;

  // The time of this request's clock.
  DateTime Now() const { return clock_(); }
  // The site's separators of "hh:nn" and of amounts.
  const std::string& TimeSep() const { return ini.TimeSeparator; }
  const std::string& DecimalSep() const { return ini.DecimalSeparator; }

  // The text of `key` in page.Lang, `def` (the Finnish default) when there
  // is none; see module/translated_text.cpp.
  std::string TranslatedText(std::string_view key, std::string_view def);
  std::string TranslatedText(const TextDef& text) { return TranslatedText(text.key, text.fin); }
  // The text of a name the site keeps in its own tables (such as a web
  // code's, tags.h WebCodeTextKey) in page.Lang: KAANNOS's row for `key`
  // when it is in use; nullopt in Finnish and when there is none. Never
  // adds a row: only the site's translators give such names a text.
  std::optional<std::string> SiteText(std::string_view key);

 private:
  void LoadSettings();
  bool SeedsLanguage(const std::string& language);
  // Positions FTblLang (opened when closed) on the row of `key` in page.Lang;
  // false, touching no table, in Finnish, for an empty language or key.
  bool FindText(std::string_view key, std::string& language);

  Clock clock_;
  Resources& res_;
  bool codesAsked_ = false;                  // UseKeptCodeTables has run
  std::optional<store::ChangeStamp> stamp_;  // the code tables read after it
  std::optional<std::string> seedCheckedLanguage_;  // SeedsLanguage's answer
  bool seedAllowed_ = false;                        // for that language
};

// Sets `producer`'s file to TemplateDirectory(page.Lang) + `file`, renders
// it and makes it the response content.
void RenderPage(RequestContext& ctx, PageProducer& producer, std::string_view file);

}  // namespace wo
