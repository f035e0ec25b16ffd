#include "module/module.h"

#include <exception>

#include "module/site_log.h"

namespace wo {

WebModule::WebModule(const Request& req, Response& resp, Resources& res, const WebApp& app)
    : req_(req), paths_(res.paths()), app_(app) {
  // A start-up that fails (no INI file, no database, a damaged file) ends
  // the request with the frame's fallback page; the log keeps the reason.
  try {
    ctx_ = std::make_unique<RequestContext>(req, resp, res, app.renderers, [&](RequestContext& ctx) {
      AnnounceSessionOf(ctx, app.actions, req.path());
    });
  } catch (const std::exception& e) {
    ReportException(ErrorTypeName(e), e.what());
    throw;
  } catch (...) {
    ReportException("Exception", "Unknown error");
    throw;
  }
}

WebModule::~WebModule() = default;

std::span<const ActionItem> WebModule::Actions() {
  if (actions_.empty()) {
    actions_.reserve(app_.actions.size());
    for (const ActionRow& row : app_.actions) {
      ActionItem item;
      item.name = row.name;
      item.path = row.path;
      item.isDefault = row.isDefault;
      item.enabled = RowEnabled(row, ctx_->ini);
      item.handler = [this, &row](const Request&, Response&, bool&) { RunAction(*ctx_, row); };
      actions_.push_back(std::move(item));
    }
  }
  return actions_;
}

void WebModule::ReportException(const char* type, const std::string& msg) noexcept {
  AppendSiteLog(paths_.logFolder, req_.path(), type ? type : "Exception", msg);
}

}  // namespace wo
