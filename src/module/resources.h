// What may outlive a request: where the site's files are, the clock, the
// INI file as last read, and the database connection (with the statements
// it has prepared and, for a PostgreSQL server, the client library it has
// loaded). A request's context (module/context.h) borrows them; a process
// that serves one request makes one of these, a process that serves many
// keeps it, and every request sees the files as they are when it starts.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/datetime.h"
#include "module/ini.h"
#include "module/page_state.h"
#include "store/change_stamp.h"
#include "store/database.h"

namespace wo {

// Where the module finds its INI file and log folder.
struct ModulePaths {
  std::string iniFile;    // ".../bin/Velmori.ini"
  std::string logFolder;  // ".../log/"
  // The folder the web server runs the program in: ".../www/cgi-bin/".
  std::string programFolder;
  std::string top;  // the top of the site's tree, ".../"
  // From the program's own directory, two levels below the top of the
  // site's tree: top dir + "../../", INI file top + "bin/Velmori.ini", and
  // so on.
  static ModulePaths FromExecutable();
};

// A small code table as far as a request has read it: each row's values by
// its code; `whole` when every row of the table is there, `lonesOnly` when
// the rows are only codes asked for one at a time (a heading's).
struct CodeRows {
  std::optional<std::map<std::string, std::vector<std::string>>> rows;
  bool whole = false;
  bool lonesOnly = false;
};

// The resources of a centre that the centre's list shows, in its order:
// their codes and names as the list prints them.
struct CentreResources {
  std::vector<std::string> codes, names;
};

// The code tables a page names again and again, as far as they were read:
// the instructors, the resources, the centres and the activity kinds; the
// option lists of the resources and of the centres shown on the web as a
// page rendered them (SELECTRESURSSI); and the resources of the centres
// whose lists were shown, by centre code (at most kMaxKeptCentreLists).
struct CodeTables {
  CodeRows instructors, resourceNames, centreNames;
  std::optional<std::vector<ActivityKind>> kinds;
  std::optional<std::string> resourceOptions, centreOptions;
  std::map<std::string, CentreResources> centreLists;
};
inline constexpr size_t kMaxKeptCentreLists = 64;

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

  // The INI file as it is now: read again when its stamp (ini.h) differs
  // from the one last read, and while the last read came so soon after a
  // change of the file that another change within the same tick of the
  // file system's clock would not show in the stamp. Throws IniError as
  // ReadSiteIni does; a file that cannot be read is not remembered. The
  // reference stays valid until the next call.
  const SiteIni& Ini();
  // Marks the start of a request in a process that serves many: from here
  // on the INI file's stamp is compared at the request's first Ini() call
  // only, and its later calls give the same file.
  void BeginRequest() {
    perRequest_ = true;
    iniChecked_ = false;
  }

  // The connection to the database `s` names: the one kept from an earlier
  // request when it was made for the same settings and is still usable
  // (Connection::Usable) outside any transaction, otherwise a new one
  // (which connects at its first use). The connection stays valid until
  // the next call or the end of this object.
  store::Connection& ConnectionFor(const store::ConnectionSettings& s);

  // Closes the kept connection, and forgets what was kept with it: the
  // next request connects again.
  void LetGo() {
    codes_.reset();
    conn_.reset();
  }

  // Whether what a request read of the code tables is kept for the next
  // request (a process that serves many); off unless set.
  void SetKeepCodeTables(bool keep) { keepCodes_ = keep; }
  bool keepsCodeTables() const { return keepCodes_; }
  // The code tables kept from earlier requests on the current connection
  // when the database still has the stamp they were read under, otherwise
  // none; what is handed out is no longer kept.
  CodeTables TakeCodeTables(const store::ChangeStamp& now);
  bool HasKeptCodeTables() const { return codes_.has_value(); }
  // Keeps `t`, read on the current connection after it had `stamp`.
  void KeepCodeTables(CodeTables t, const store::ChangeStamp& stamp);

 private:
  ModulePaths paths_;
  Clock clock_;
  Opener open_;
  std::optional<SiteIni> ini_;
  FileStamp iniStamp_;
  bool iniRacy_ = false;
  bool perRequest_ = false, iniChecked_ = false;  // BeginRequest
  store::ConnectionSettings settings_;
  std::unique_ptr<store::Connection> conn_;
  bool keepCodes_ = false;
  std::optional<std::pair<store::ChangeStamp, CodeTables>> codes_;  // for conn_
};

}  // namespace wo
