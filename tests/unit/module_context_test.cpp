// The request's context: its handles close with the scope that opened them
// and with the request, and a connection kept for the next request carries
// nothing of this one.
#include <stdexcept>

#include "booking/actions.h"
#include "booking/reservation.h"
#include "module/table_guard.h"
#include "module_harness.h"

namespace wo::test {
namespace {

TEST(ModuleContext, TableGuardClosesOnlyWhatItFoundClosed) {
  TempSite site;
  ModuleOnSite m(site);
  store::Table& held = m->tbl->TblVaLaji;
  store::Table& opened = m->tbl->TblResNimi;
  held.Open();
  {
    TableGuard guard{&held, &opened};
    opened.Open();
  }
  EXPECT_TRUE(held.IsOpen());  // its caller's
  EXPECT_FALSE(opened.IsOpen());
}

TEST(ModuleContext, TheNextRequestFindsNoTransactionOpen) {
  TempSite site;
  ScopedCwd cwd(site.cgiDir());
  Resources res(site.paths(), &TestNow, site.Opener());
  Response resp([](std::string_view) {}, true);
  const Request req("GET", "/Index", "");
  store::Connection* kept = nullptr;
  {
    WebModule first(req, resp, res, OrvaneApp());
    RequestContext& ctx = first.context();
    kept = &ctx.conn;
    ctx.conn.BeginWrite();  // as a request that fails inside its transaction
    ctx.tbl->TblWebParam.Open();
  }
  WebModule second(req, resp, res, OrvaneApp());
  EXPECT_EQ(&second.context().conn, kept);  // the same connection, kept
  EXPECT_FALSE(kept->InTransaction());
  EXPECT_NO_THROW(store::InWriteTransaction(*kept, [] {}));
}

TEST(ModuleContext, CommitReservationRequiresTheCallersTransaction) {
  TempSite site;
  ModuleOnSite m(site);
  EXPECT_THROW(CommitReservation(*m, ReservationRequest{}), std::logic_error);
}

}  // namespace
}  // namespace wo::test
