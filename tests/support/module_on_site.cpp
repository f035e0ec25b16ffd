#include "support/module_on_site.h"

#include "booking/actions.h"
#include "frame/dispatch.h"
#include "module/actions.h"
#include "module/tags.h"
#include "support/clock.h"

namespace wo::test {

ModuleOnSite::ModuleOnSite(const TempSite& site, std::string path, std::string query)
    : cwd_(site.cgiDir()),
      req_("GET", std::move(path), std::move(query)),
      resp_([](std::string_view) {}, true),
      resources_(ModulePaths{site.iniFile(), site.logDir() + "/"}, &TestNow, site.Opener()),
      module_(std::make_unique<WebModule>(req_, resp_, resources_, OrvaneApp())) {}

ModuleOnSite::~ModuleOnSite() = default;

std::string ModuleOnSite::Tag(std::string_view name) { return PageProdRootHTMLTag(**this, name); }

void ModuleOnSite::Run() { Dispatch(module_->Actions(), req_, resp_); }

}  // namespace wo::test
