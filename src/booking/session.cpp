// UNBUILT: placeholder so the tree links while this file is written.
#include <stdexcept>

#include "module/module.h"

namespace wo {

static void Unbuilt(const char* what) { throw std::logic_error(std::string("not built yet: ") + what); }

void WebModule::WebModOrvaneWebActChkLoginAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActChkLoginAction"); }
void WebModule::WebModOrvaneWebActLogOutAction(const Request&, Response&, bool&) { Unbuilt("WebModule::WebModOrvaneWebActLogOutAction"); }
bool WebModule::PlainSessionLookup() { Unbuilt("WebModule::PlainSessionLookup"); return false; }
SessionState WebModule::IdleTestedSession() { Unbuilt("WebModule::IdleTestedSession"); return SessionState::None; }
void WebModule::RefreshSession() { Unbuilt("WebModule::RefreshSession"); }
std::string MakeSessionId(std::string_view) { Unbuilt("MakeSessionId"); return {}; }
bool SessionTimedOut(DateTime) { Unbuilt("SessionTimedOut"); return false; }
std::string EncodePassword(std::string_view) { Unbuilt("EncodePassword"); return {}; }
std::string DecodePassword(std::string_view) { Unbuilt("DecodePassword"); return {}; }
void SetPasswordKey(std::string) { Unbuilt("SetPasswordKey"); }

}  // namespace wo
