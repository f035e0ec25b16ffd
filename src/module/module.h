// The web module TWebModOrvane: what the frame sees of the program. For
// each request it makes a fresh context (module/context.h) -- its
// constructor is the create hook WebModuleCreate, its destructor the
// destroy hook WebModuleDestroy -- and offers the rows of the action table
// (module/actions.h) to the frame's dispatch. It keeps no state of its own
// beyond the request's.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "frame/cgi.h"
#include "module/actions.h"
#include "module/context.h"
#include "module/resources.h"

namespace wo {

class WebModule : public WebModuleBase {
 public:
  // WebModuleCreate: the request's context on `res`, with the actions and
  // renderers of `app`. Throws, after logging it, what the start-up raises
  // (RequestContext).
  WebModule(const Request& req, Response& resp, Resources& res, const WebApp& app);
  // WebModuleDestroy: the context ends; never throws.
  ~WebModule() override;

  // The rows of the table, each running RunAction on this request.
  std::span<const ActionItem> Actions() override;
  // One line per unexpected error in <log folder>/WebOrvane.log.
  void ReportException(const char* type, const std::string& msg) noexcept override;

  RequestContext& context() { return *ctx_; }

 private:
  const Request& req_;
  const ModulePaths& paths_;
  const WebApp& app_;
  std::unique_ptr<RequestContext> ctx_;
  std::vector<ActionItem> actions_;
};

}  // namespace wo
