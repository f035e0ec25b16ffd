#include "frame/dispatch.h"

#include "base/text.h"

namespace wo {

int Dispatch(std::span<const ActionItem> actions, const Request& req, Response& resp) {
  for (size_t i = 0; i < actions.size(); ++i) {
    const ActionItem& a = actions[i];
    if (!a.enabled || !SameText(a.path, req.path())) continue;
    bool handled = true;
    a.handler(req, resp, handled);
    if (handled) return static_cast<int>(i);
  }
  for (size_t i = 0; i < actions.size(); ++i) {
    if (!actions[i].isDefault) continue;
    bool handled = true;
    actions[i].handler(req, resp, handled);
    return handled ? static_cast<int>(i) : -1;
  }
  return -1;
}

}  // namespace wo
