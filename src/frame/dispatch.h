// The action table and the dispatch of a request path to its action.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "frame/request.h"
#include "frame/response.h"

namespace wo {

// An action's handler: fills the response; clearing `handled` passes the
// request on to the following actions.
using ActionHandler = std::function<void(const Request&, Response&, bool& handled)>;

struct ActionItem {
  std::string_view name;  // e.g. "WebActViikko"
  std::string_view path;  // e.g. "/Viikko"
  bool enabled = true;
  bool isDefault = false;
  ActionHandler handler;
};

// Tries the enabled actions whose path equals the request path (ASCII case
// ignored, whole text) in table order until one leaves `handled` set; when
// none does, runs the default action whatever its path or enabled flag.
// Returns the index of the action that handled the request, or -1.
int Dispatch(std::span<const ActionItem> actions, const Request& req, Response& resp);

}  // namespace wo
