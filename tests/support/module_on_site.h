// A web module of a test site built in this process, for the tests of
// tags, renderers and session lookups: the request context of a request to
// `path` with `query`, made as the program makes it (working directory
// www/cgi-bin while it lives, the test clock, the site's connections).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "frame/request.h"
#include "frame/response.h"
#include "module/context.h"
#include "module/module.h"
#include "module/resources.h"
#include "support/site.h"

namespace wo::test {

class ModuleOnSite {
 public:
  explicit ModuleOnSite(const TempSite& site, std::string path = "/Index", std::string query = "");
  ~ModuleOnSite();
  ModuleOnSite(const ModuleOnSite&) = delete;
  ModuleOnSite& operator=(const ModuleOnSite&) = delete;

  RequestContext& operator*() { return module_->context(); }
  RequestContext* operator->() { return &module_->context(); }
  const Request& request() const { return req_; }
  Response& response() { return resp_; }

  // The text of template tag `name` on this request's page.
  std::string Tag(std::string_view name);
  // Runs the request through the action table: the row of its path.
  void Run();

 private:
  ScopedCwd cwd_;
  Request req_;
  Response resp_;
  Resources resources_;
  std::unique_ptr<WebModule> module_;
};

}  // namespace wo::test
