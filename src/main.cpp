// The CGI program: one request per process.
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "booking/actions.h"
#include "frame/cgi.h"
#include "module/module.h"

int main() {
  auto env = [](const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
  };
  // Standard output is written raw with write(2), all of it at once.
  auto sink = [](std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      ssize_t n = ::write(1, p, left);
      if (n <= 0) return;
      p += n;
      left -= static_cast<size_t>(n);
    }
  };
  wo::Resources resources(wo::ModulePaths::FromExecutable());
  return wo::RunCgi(env, 0, sink, [&](const wo::Request& req, wo::Response& resp) {
    return std::unique_ptr<wo::WebModuleBase>(std::make_unique<wo::WebModule>(req, resp, resources, wo::OrvaneApp()));
  });
}
