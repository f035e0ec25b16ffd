#include "booking/plain_pages.h"

#include "base/text.h"
#include "module/context.h"

namespace wo {

Answer WebModOrvaneWebActRootAction(RequestContext& ctx) { return Answer::Page(ctx.pages.PageProdRoot, "index.html"); }

Answer WebModOrvaneWebActLoginAction(RequestContext& ctx) { return Answer::Page(ctx.pages.PageProdLogin, "login.html"); }

Answer WebModOrvaneWebActReginAction(RequestContext& ctx) { return Answer::Page(ctx.pages.PageProdRegin, "regin.html"); }

Answer WebModOrvaneWebActVaihdaAction(RequestContext& ctx) {
  return Answer::Page(ctx.pages.PageProdVaihda, "vaihda.html");
}

Answer WebModOrvaneWebActOmatAction(RequestContext& ctx) { return Answer::Page(ctx.pages.PageProdOmat, "omat.html"); }

Answer ConfirmationPage(RequestContext& ctx, PageProducer& producer, std::string_view file) {
  ctx.page.RegMode = Cut(ctx.req.Field("UPD"), kRegModeWidth);
  return Answer::Page(producer, file);
}

}  // namespace wo
