// The action table of the web module: the nineteen actions in the order
// they are tried, each with its path and handler.
#include "module/module.h"

namespace wo {

std::span<const ActionItem> WebModule::Actions() {
  if (actions_.empty()) {
    using H = void (WebModule::*)(const Request&, Response&, bool&);
    struct Row {
      std::string_view name, path;
      H handler;
    };
    static const Row kRows[] = {
        {"WebActRoot", "/Index", &WebModule::WebModOrvaneWebActRootAction},
        {"WebActResVal", "/ResVal", &WebModule::WebModOrvaneWebActResValAction},
        {"WebActViikko", "/Viikko", &WebModule::WebModOrvaneWebActViikkoAction},
        {"WebActLogin", "/Login", &WebModule::WebModOrvaneWebActLoginAction},
        {"WebActChkLogin", "/ChkLogin", &WebModule::WebModOrvaneWebActChkLoginAction},
        {"WebActRegin", "/Regin", &WebModule::WebModOrvaneWebActReginAction},
        {"WebActSavReg", "/SavReg", &WebModule::WebModOrvaneWebActSavRegAction},
        {"WebActRecOk", "/RegOk", &WebModule::WebModOrvaneWebActRecOkAction},
        {"WebActLogOut", "/LogOut", &WebModule::WebModOrvaneWebActLogOutAction},
        {"WebActVar", "/Var", &WebModule::WebModOrvaneWebActVarAction},
        {"WebActVarOk", "/VarOk", &WebModule::WebModOrvaneWebActVarOkAction},
        {"WebActVaraa", "/Varaa", &WebModule::WebModOrvaneWebActVaraaAction},
        {"WebActOmat", "/Omat", &WebModule::WebModOrvaneWebActOmatAction},
        {"WebActPoista", "/Poista", &WebModule::WebModOrvaneWebActPoistaAction},
        {"WebActPoisVar", "/PoisVar", &WebModule::WebModOrvaneWebActPoisVarAction},
        {"WebActPoisOk", "/PoisOk", &WebModule::WebModOrvaneWebActPoisOkAction},
        {"WebActVaihda", "/Vaihda", &WebModule::WebModOrvaneWebActVaihdaAction},
        {"WebActVaihdaSana", "/VaihdaSana", &WebModule::WebModOrvaneWebActVaihdaSanaAction},
        {"WebActVaihdaOk", "/VaihdaOk", &WebModule::WebModOrvaneWebActVaihdaOkAction},
    };
    actions_.reserve(std::size(kRows));
    for (const Row& r : kRows) {
      ActionItem item;
      item.name = r.name;
      item.path = r.path;
      item.isDefault = r.name == "WebActRoot";
      H h = r.handler;
      item.handler = [this, h](const Request& q, Response& s, bool& handled) { (this->*h)(q, s, handled); };
      actions_.push_back(std::move(item));
    }
  }
  return actions_;
}

}  // namespace wo
