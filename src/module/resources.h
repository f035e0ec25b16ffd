// What may outlive a request: where the site's files are, the clock, and
// the database connection (with the statements it has prepared and, for a
// PostgreSQL server, the client library it has loaded). A request's
// context (module/context.h) borrows them; a process that serves one
// request makes one of these, a process that serves many keeps it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/datetime.h"
#include "store/database.h"

namespace wo {

// Where the module finds its INI file and log folder.
struct ModulePaths {
  std::string iniFile;    // ".../bin/Velmori.ini"
  std::string logFolder;  // ".../log/"
  // From the program's own directory: dir + "../../bin/Velmori.ini".
  static ModulePaths FromExecutable();
};

class Resources {
 public:
  using Opener = std::function<std::unique_ptr<store::Connection>(const store::ConnectionSettings&)>;

  // `clock` tells the time of every request; `open` makes a connection
  // (Connection::Open; a test may wrap what it makes).
  explicit Resources(ModulePaths paths, Clock clock = &Now, Opener open = &store::Connection::Open);
  ~Resources();
  Resources(const Resources&) = delete;
  Resources& operator=(const Resources&) = delete;

  const ModulePaths& paths() const { return paths_; }
  Clock clock() const { return clock_; }

  // The connection to the database `s` names: the one kept from an earlier
  // request when it was made for the same settings, otherwise a new one
  // (which connects at its first use). The connection stays valid until
  // the next call or the end of this object.
  store::Connection& ConnectionFor(const store::ConnectionSettings& s);

 private:
  ModulePaths paths_;
  Clock clock_;
  Opener open_;
  store::ConnectionSettings settings_;
  std::unique_ptr<store::Connection> conn_;
};

}  // namespace wo
