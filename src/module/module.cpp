// The web module's life: start-up (INI file, connection, site settings),
// the end of the request, the error log, and page rendering shared by the
// actions.
#include "module/module.h"

#include <unistd.h>

#include <cstdio>
#include <exception>

#include "frame/html.h"
#include "base/text.h"
#include "module/ini.h"
#include "module/site_log.h"
#include "module/table_guard.h"

namespace wo {

namespace {

// The settings row of WEBPARAM.
constexpr std::string_view kParamNumero = "01";

}  // namespace

ModulePaths ModulePaths::FromExecutable() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string dir;
  if (n > 0) {
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    dir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return ModulePaths{dir + "../../bin/Velmori.ini", dir + "../../log/"};
}

WebModule::WebModule(const Request& q, Response& s, const ModulePaths& p)
    : req(q),
      resp(s),
      paths(p),
      PageProdRoot(nullptr),
      PageProdLogin(nullptr),
      PageProdRegin(nullptr),
      PageProdVaihda(nullptr),
      PageProdOmat(nullptr),
      PageProdResVal(nullptr),
      PageProdViikko(nullptr),
      PageProdVarOk(nullptr),
      PageProdVaraa(nullptr),
      PageProdRegOk(nullptr),
      PageProdVaihdaOk(nullptr),
      PageProdPoista(nullptr),
      PageProdPoisOk(nullptr),
      PageProdError(nullptr),
      PageProdPgOts(nullptr) {
  // Every producer expands its tags through the one tag handler.
  TagHandler handler = [this](std::string_view tag, const std::vector<std::string>&) {
    return PageProdRootHTMLTag(tag);
  };
  for (PageProducer* pp : {&PageProdRoot, &PageProdLogin, &PageProdRegin, &PageProdVaihda, &PageProdOmat,
                           &PageProdResVal, &PageProdViikko, &PageProdVarOk, &PageProdVaraa, &PageProdRegOk,
                           &PageProdVaihdaOk, &PageProdPoista, &PageProdPoisOk, &PageProdError, &PageProdPgOts})
    *pp = PageProducer(handler);
  // A start-up that fails (no INI file, no database, a damaged file) ends
  // the request with the frame's fallback page; the log keeps the reason.
  try {
    WebModuleCreate();
  } catch (const std::exception& e) {
    ReportException(ErrorTypeName(e), e.what());
    throw;
  } catch (...) {
    ReportException("Exception", "Unknown error");
    throw;
  }
}

WebModule::~WebModule() { WebModuleDestroy(); }

// Start-up, in this order: start values (the members' initialisers), the
// calendar's work buffers, the INI file, the connection, the settings row.
// A connection that cannot be made shows as the error of the first table
// operation, the opening of WEBPARAM, which escapes to the frame.
void WebModule::WebModuleCreate() {
  WeekGrid.resize(kGridRows);
  TimeRows.resize(kGridRows);
  ActivityKinds.reserve(kMaxKinds);

  // A missing or unreadable INI file ends the start-up (IniError).
  ini = ReadSiteIni(paths.iniFile);
  ServerName = Cut(ini.ServerName, 80);
  ServerAddress = Cut(ini.ServerAddress, 80);
  page.CompanyName = Cut(ini.CompanyName, 50);
  SetPasswordKey(ini.PasswordKey);

  conn = store::Connection::Open(ConnectionFromIni(ini));
  tbl = std::make_unique<Tables>(*conn);
  LoadSettings();
}

// The WEBPARAM row "01" over the start values. Each setting has its own
// rule for a null field: some read as 0 or empty, some keep their start
// value. Without the row every setting keeps its start value.
void WebModule::LoadSettings() {
  store::Table& t = tbl->TblWebParam;
  TableGuard guard(t);
  t.Open();
  if (!t.FindKey({store::Txt(std::string(kParamNumero))})) return;
  Settings& s = settings;
  s.OsoiteRivi1 = Cut(t.Text("OsoiteRivi1"), 50);
  s.OsoiteRivi2 = Cut(t.Text("OsoiteRivi2"), 50);
  s.Puhelin = Cut(t.Text("Puhelin"), 15);
  s.EMail = Cut(t.Text("EMail"), 50);
  s.LnkKoti = Cut(t.Text("LnkKoti"), 80);
  s.LnkSaanto = Cut(t.Text("LnkSaanto"), 80);
  s.MaxAsVaraus = static_cast<int>(t.Int("MaxAsVaraus"));
  s.ListanMuoto = static_cast<int>(t.Int("ListanMuoto"));
  s.NaytaOhjaaja = static_cast<int>(t.Int("NaytaOhjaaja"));
  auto intUnlessNull = [&t](std::string_view name, int& setting) {
    if (!t.IsNull(name)) setting = static_cast<int>(t.Int(name));
  };
  intUnlessNull("PoistaEnnenPv", s.PoistaEnnenPv);
  intUnlessNull("MaxVarausPv", s.MaxVarausPv);
  intUnlessNull("MaxVanhatPv", s.MaxVanhatPv);
  intUnlessNull("MaxVanhatVaraukset", s.MaxVanhatVaraukset);
  intUnlessNull("VarMaksuKaytossa", s.VarMaksuKaytossa);
  // Money is whole cents from the moment it is read.
  if (!t.IsNull("Varausmaksu")) s.Varausmaksu = RoundCents(t.Float("Varausmaksu"));
  if (!t.IsNull("Luottoraja")) s.Luottoraja = RoundCents(t.Float("Luottoraja"));
  s.Logo = Cut(t.Text("Logo"), 50);
  if (!t.IsNull("OtsikkoYla")) {
    std::string yla = Cut(t.Text("OtsikkoYla"), 80);
    if (!yla.empty()) s.OtsikkoYla = yla;
  }
  s.OtsikkoAla = Cut(t.Text("OtsikkoAla"), 80);
}

// The end of the request: buffers freed, the handles that shared operations
// leave open closed, then every handle and the connection. Nothing here may
// throw: the response has been written already.
void WebModule::WebModuleDestroy() {
  try {
    ActivityKinds = {};
    WeekGrid = {};
    TimeRows = {};
  } catch (...) {
  }
  if (tbl) {
    for (store::Table* t : {&tbl->TblWebReg, &tbl->TblVaOhjaaja, &tbl->FTblLang}) {
      try {
        if (t->IsOpen()) t->Close();
      } catch (...) {
      }
    }
  }
  try {
    tbl.reset();
  } catch (...) {
  }
  try {
    conn.reset();
  } catch (...) {
  }
}

// One line per unexpected error in <log folder>/WebOrvane.log.
void WebModule::ReportException(const char* type, const std::string& msg) noexcept {
  AppendSiteLog(paths.logFolder, req.path(), type ? type : "Exception", msg);
}

void WebModule::RenderPage(PageProducer& producer, std::string_view file) {
  producer.SetHTMLFile(TemplateDirectory(page.Lang) + std::string(file));
  resp.SetContent(producer.Content());
}

void WebModule::ErrorPage() { RenderPage(PageProdError, "error.html"); }

std::string WebModule::IndexUrl() const { return std::string(kProgramUrl) + "index?Lang=" + UrlEncode(page.Lang); }

}  // namespace wo
