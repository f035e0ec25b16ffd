// The start and the end of a request's context: the INI file, the
// connection and the settings row; at the end every handle closed.
#include "module/context.h"

#include "base/format.h"
#include "base/text.h"
#include "module/table_guard.h"
#include "module/tags.h"
#include "store/change_stamp.h"

namespace wo {

namespace {

// The settings row of WEBPARAM.
constexpr std::string_view kParamNumero = "01";

}  // namespace

RequestContext::RequestContext(const Request& q, Response& s, Resources& res, const Renderers& r,
                               const std::function<void(RequestContext&)>& ahead)
    : req(q),
      resp(s),
      paths(res.paths()),
      renderers(r),
      ini(res.Ini()),
      ServerName(Cut(ini.ServerName, kServerNameWidth)),
      ServerAddress(Cut(ini.ServerAddress, kServerNameWidth)),
      cipher(ini.PasswordKey),
      conn(res.ConnectionFor(ConnectionFromIni(ini))),
      tbl(std::make_unique<Tables>(conn)),
      pages([this](std::string_view tag, const std::vector<std::string>&) { return PageProdRootHTMLTag(*this, tag); }),
      clock_(res.clock()),
      res_(res) {
  page.CompanyName = Cut(ini.CompanyName, kCompanyNameWidth);
  if (ahead) ahead(*this);
  LoadSettings();
}

void RequestContext::UseKeptCodeTables(bool whole) {
  if (codesAsked_ || (!whole && !res_.HasKeptCodeTables())) return;
  codesAsked_ = true;
  // A write of this request could still be rolled back: what is read
  // inside its transaction is not kept.
  if (!res_.keepsCodeTables() || conn.InTransaction()) return;
  // Without a stamp nothing is kept: the request reads what it needs.
  try {
    stamp_ = store::ChangeStampOf(conn);
  } catch (const store::DatabaseError&) {
    return;
  }
  if (!stamp_) return;
  codes = res_.TakeCodeTables(*stamp_);
}

RequestContext::~RequestContext() {
  tbl.reset();  // the handles let go of their statements
  if (stamp_) res_.KeepCodeTables(std::move(codes), *stamp_);
  try {
    if (conn.InTransaction()) conn.Rollback();
  } catch (...) {
    // The response is written; a connection that cannot roll back fails
    // the next request that uses it, which then reports it.
  }
}

// The WEBPARAM row "01" over the start values. Each setting has its own
// rule for a null field: some read as 0 or empty, some keep their start
// value. Without the row every setting keeps its start value.
void RequestContext::LoadSettings() {
  store::Table& t = tbl->TblWebParam;
  TableGuard guard{&t};
  t.Open();
  // A process that keeps the code tables asks whether they still hold
  // with the settings row.
  if (res_.keepsCodeTables()) store::AnnounceChangeStamp(conn);
  if (!t.FindKey({store::Txt(std::string(kParamNumero))})) return;
  Settings& s = settings;
  s.OsoiteRivi1 = Cut(t.Text("OsoiteRivi1"), kAddressLineWidth);
  s.OsoiteRivi2 = Cut(t.Text("OsoiteRivi2"), kAddressLineWidth);
  s.Puhelin = Cut(t.Text("Puhelin"), kPhoneWidth);
  s.EMail = Cut(t.Text("EMail"), kSiteMailWidth);
  s.LnkKoti = Cut(t.Text("LnkKoti"), kLinkWidth);
  s.LnkSaanto = Cut(t.Text("LnkSaanto"), kLinkWidth);
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
  s.Logo = Cut(t.Text("Logo"), kLogoWidth);
  if (!t.IsNull("OtsikkoYla")) {
    std::string yla = Cut(t.Text("OtsikkoYla"), kHeaderFileWidth);
    if (!yla.empty()) s.OtsikkoYla = yla;
  }
  s.OtsikkoAla = Cut(t.Text("OtsikkoAla"), kHeaderFileWidth);
}

void RenderPage(RequestContext& ctx, PageProducer& producer, std::string_view file) {
  producer.SetHTMLFile(TemplateDirectory(ctx.page.Lang) + std::string(file));
  ctx.resp.SetContent(producer.Content());
}

}  // namespace wo
