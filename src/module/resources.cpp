#include "module/resources.h"

#include <unistd.h>

namespace wo {

ModulePaths ModulePaths::FromExecutable() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string dir;
  if (n > 0) {
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    dir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return ModulePaths{dir + "../../bin/Velmori.ini", dir + "../../log/"};
}

Resources::Resources(ModulePaths paths, Clock clock, Opener open)
    : paths_(std::move(paths)), clock_(clock), open_(std::move(open)) {}

Resources::~Resources() = default;

store::Connection& Resources::ConnectionFor(const store::ConnectionSettings& s) {
  if (!conn_ || !(s == settings_)) {
    conn_.reset();
    conn_ = open_(s);
    settings_ = s;
  }
  return *conn_;
}

}  // namespace wo
