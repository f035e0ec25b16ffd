// The administration of a site tree: its INI file, its password key and its
// maintenance state. Everything here is relative to the INI file's path as
// given (P/bin/Velmori.ini of the tree; not the target of a link to it), as
// the program itself finds its files.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "module/ini.h"
#include "store/database.h"

namespace wo::site {

// `path` with "dir/../" and "./" taken out, for messages.
std::string Tidy(std::string path);

// The folders of the tree that holds `iniPath`, each ending in "/".
struct TreePaths {
  std::string root;       // P/
  std::string data;       // P/data/
  std::string log;        // P/log/
  std::string templates;  // P/www/WebOrvane/ (Fin/ and Eng/ below it)
  static TreePaths Of(const std::string& iniPath);
};

// Sets `key` of `section` in the INI file at `path` to `value`, keeping
// every other byte: the first line of that key in that section is
// replaced (names compare without case, as the program reads them); a
// missing key goes after the section's last key, a missing section at the
// end. The new file is written beside the old one (the target of a link)
// with the old one's owner and permissions, synced and renamed over it, so
// that a reader sees the old file or the new one. Raises
// std::runtime_error when it cannot.
void SetIniValue(const std::string& path, std::string_view section, std::string_view key,
                 const std::string& value);

// A new random password key: 64 hexadecimal digits.
std::string NewPasswordKey();

// Connection settings of the administration command: the site's, but not
// refused while the site is closed.
store::ConnectionSettings AdminConnection(const SiteIni& ini);

// ---- init ----

struct InitResult {
  bool createdFile = false;                  // a new SQLite file
  std::vector<store::SchemaChange> changes;  // what the schema gained
  bool keyWritten = false;                   // a new PasswordKey in the INI
  bool builtInKeyWithUsers = false;          // warn: users' passwords rest on the built-in key
  std::string recovered;                     // how an interrupted rekey was finished (RecoverRekey)
};

// Creates the database when missing (SQLite: the file, owned like its
// folder when run as root), then every missing table, column and index in
// one transaction; writes a new random PasswordKey into the INI when it has
// none and WEBREG has no row yet. Finishes an interrupted rekey first.
// Running it again changes nothing.
InitResult Init(const std::string& iniPath);

// ---- maintenance ----

// Closes the site while it lives: requests get the program's start-up
// failure answer until the object goes (or the process ends without
// undoing it, when the marker stays for the next command to see).
class SiteClosed {
 public:
  SiteClosed(const SiteIni& ini, const std::string& reason);
  ~SiteClosed();
  SiteClosed(const SiteClosed&) = delete;
  SiteClosed& operator=(const SiteClosed&) = delete;
  // Leaves the site closed when the object goes.
  void Keep() { keep_ = true; }

 private:
  std::string file_;
  bool ours_ = false;
  bool keep_ = false;
};

// ---- rekey ----

// The steps of a rekey, in order; the hook is called after each.
enum class RekeyStep {
  Closed,      // the site refuses requests; requests in progress have ended
  Journal,     // the journal (data/rekey.journal) holds both keys and forms
  Encrypted,   // every password is written under the new key, not committed
  Committed,   // the database holds the new forms
  IniSwitched  // the INI names the new key
};

struct RekeyResult {
  int users = 0;       // passwords now under the new key
  int unreadable = 0;  // stored forms that hold no password, left as they were
  std::string recovered;  // what an earlier, interrupted rekey left: how it was finished
};

// Re-encrypts every stored password under `newKey` and writes it into the
// INI. The site is closed meanwhile; after closing it waits `graceSeconds`
// for requests that started before. Should any step fail, the database and
// the INI go back to the old key together; should the process die, the
// journal lets the next Init, Rekey or RecoverRekey finish the change
// (database and INI both on the new key) or undo it (both on the old one),
// and the site stays closed until then. `after` (may be empty) is called
// after each step; what it throws fails the rekey there.
RekeyResult Rekey(const std::string& iniPath, const std::string& newKey, int graceSeconds,
                  const std::function<void(RekeyStep)>& after = {});

// Finishes or undoes an interrupted rekey, as Rekey describes; an empty
// text when there was none.
std::string RecoverRekey(const std::string& iniPath);

}  // namespace wo::site
