// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

Tables::Tables(store::Connection& c) : TblWebParam(c, store::TableNamed("WEBPARAM"), "", "Numero"), TblResNimi(c, store::TableNamed("VARESNIMI"), "", "ResNo"), TblRes(c, store::TableNamed("VARESNIMI"), "", "ResNo"), TblFiVuoro(c, store::TableNamed("VaVuoro"), "", "ResNo"), TblVuoro(c, store::TableNamed("VaVuoro"), "", "ResNo"), TblVaLaji(c, store::TableNamed("VALAJI"), "", "Koodi"), TblWebReg(c, store::TableNamed("WEBREG"), "", "Tunnus"), TblVa(c, store::TableNamed("VAVARAUS"), "", "Jno"), TblVaAs(c, store::TableNamed("VAVARAUS"), "", "Jno"), TblAsiakas(c, store::TableNamed("Asiakas"), "", "AsNo"), TblParam(c, store::TableNamed("PARAM"), "", "Avain"), TblWebKoodi(c, store::TableNamed("WEBKOODI"), "", "ResNo"), TblWebKeskus(c, store::TableNamed("WEBKESKUS"), "", "WebKeskus"), TblVaOhjaaja(c, store::TableNamed("VAOHJAAJA"), "", "Koodi"), FTblLang(c, store::TableNamed("KAANNOS"), "", "LGKieli") { Unbuilt("Tables::Tables"); }
WebModule::WebModule(const Request& q, Response& s, const ModulePaths& p) : req(q), resp(s), paths(p), PageProdRoot(nullptr), PageProdLogin(nullptr), PageProdRegin(nullptr), PageProdVaihda(nullptr), PageProdOmat(nullptr), PageProdResVal(nullptr), PageProdViikko(nullptr), PageProdVarOk(nullptr), PageProdVaraa(nullptr), PageProdRegOk(nullptr), PageProdVaihdaOk(nullptr), PageProdPoista(nullptr), PageProdPoisOk(nullptr), PageProdError(nullptr), PageProdPgOts(nullptr) { Unbuilt("WebModule::WebModule"); }
WebModule::~WebModule() { Unbuilt("WebModule::~WebModule"); }
void WebModule::ReportException(const char*, const std::string&) noexcept { Unbuilt("WebModule::ReportException"); }
void WebModule::RenderPage(PageProducer&, std::string_view) { Unbuilt("WebModule::RenderPage"); }
void WebModule::ErrorPage() { Unbuilt("WebModule::ErrorPage"); }
std::string WebModule::IndexUrl() const { Unbuilt("WebModule::IndexUrl"); return {}; }
ModulePaths ModulePaths::FromExecutable() { Unbuilt("ModulePaths::FromExecutable"); return {}; }
void WebModule::WebModuleCreate() { Unbuilt("WebModule::WebModuleCreate"); }
void WebModule::WebModuleDestroy() { Unbuilt("WebModule::WebModuleDestroy"); }
void WebModule::LoadSettings() { Unbuilt("WebModule::LoadSettings"); }

}  // namespace wo
