#include "module/site_admin.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/text.h"
#include "module/password_cipher.h"
#include "store/table.h"

namespace wo::site {

namespace {

constexpr const char* kRekeyReason = "weborvane-admin rekey";

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void SyncFolder(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

// Writes `text` to `path` through a synced file beside it that is renamed
// over it; the file gets `mode`, and the owner `like` has when given.
void ReplaceFile(const std::string& path, const std::string& text, mode_t mode, const struct stat* like) {
  std::string tmp = path + ".tmp" + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
  if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  bool ok = true;
  if (like) {
    if (fchown(fd, like->st_uid, like->st_gid) != 0 && geteuid() == 0) ok = false;
    fchmod(fd, like->st_mode & 07777);
  }
  const char* p = text.data();
  size_t left = text.size();
  while (ok && left > 0) {
    ssize_t n = write(fd, p, left);
    if (n <= 0) ok = false;
    else {
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  if (fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    int e = errno;
    std::remove(tmp.c_str());
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(e));
  }
  SyncFolder(FolderOf(path));
}

std::string Hex(std::string_view s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::string Unhex(std::string_view s) {
  if (s.size() % 2) throw std::runtime_error("the rekey journal is damaged");
  std::string out;
  for (size_t i = 0; i < s.size(); i += 2) {
    char* end = nullptr;
    std::string byte(s.substr(i, 2));
    long v = std::strtol(byte.c_str(), &end, 16);
    if (*end) throw std::runtime_error("the rekey journal is damaged");
    out += static_cast<char>(v);
  }
  return out;
}

// ---- the rekey journal ----

struct Journal {
  struct User {
    std::string tunnus, oldForm, newForm;  // Windows-1252, as the handle reads them
  };
  std::string oldKey, newKey;
  std::vector<User> users;
};

std::string JournalPath(const std::string& iniPath) { return TreePaths::Of(iniPath).data + "rekey.journal"; }

void WriteJournal(const std::string& path, const Journal& j) {
  std::string text = "weborvane rekey journal\nold\t" + Hex(j.oldKey) + "\nnew\t" + Hex(j.newKey) + "\n";
  for (const Journal::User& u : j.users)
    text += "user\t" + Hex(u.tunnus) + "\t" + Hex(u.oldForm) + "\t" + Hex(u.newForm) + "\n";
  text += "end\n";
  ReplaceFile(path, text, 0600, nullptr);
}

Journal ReadJournal(const std::string& path) {
  std::istringstream in(ReadAll(path));
  std::string line;
  Journal j;
  bool complete = false;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      f.push_back(line.substr(start, tab - start));
    f.push_back(line.substr(start));
    if (f[0] == "old" && f.size() == 2) j.oldKey = Unhex(f[1]);
    else if (f[0] == "new" && f.size() == 2) j.newKey = Unhex(f[1]);
    else if (f[0] == "user" && f.size() == 4) j.users.push_back({Unhex(f[1]), Unhex(f[2]), Unhex(f[3])});
    else if (f[0] == "end") complete = true;
  }
  // A journal cut short was never acted on: the database was changed only
  // after it was complete on disk.
  if (!complete) {
    j.users.clear();
    j.newKey.clear();
  }
  return j;
}

store::Table WebRegHandle(store::Connection& c) {
  return store::Table(c, store::TableNamed("WEBREG"), "Tunnus;PinKoodi", "Tunnus");
}

// Writes, in one transaction, the new forms (or the old ones) wherever a
// user still has the other one.
void WriteForms(store::Connection& c, const Journal& j, bool toNew) {
  store::InWriteTransaction(c, [&] {
    store::Table t = WebRegHandle(c);
    t.Open();
    for (const Journal::User& u : j.users) {
      if (!t.FindKey({store::Txt(u.tunnus)})) continue;
      if (t.Text("PinKoodi") != (toNew ? u.oldForm : u.newForm)) continue;
      t.Edit();
      t["PinKoodi"].SetText(toNew ? u.newForm : u.oldForm);
      t.Post();
    }
    t.Close();
  });
}

void RemoveRekeyMarker(const SiteIni& ini) {
  std::ifstream f(ini.ClosedFile);
  std::string first;
  if (f && std::getline(f, first) && Trim(first) == kRekeyReason) std::remove(ini.ClosedFile.c_str());
}

}  // namespace

std::string Tidy(std::string path) {
  for (size_t at; (at = path.find("/./")) != std::string::npos;) path.erase(at, 2);
  for (size_t at; (at = path.find("/../", 1)) != std::string::npos;) {
    size_t prev = path.rfind('/', at - 1);
    size_t start = prev == std::string::npos ? 0 : prev + 1;
    std::string part = path.substr(start, at - start);
    if (part == ".." || part.empty()) break;
    path.erase(start, at + 4 - start);
  }
  return path;
}

TreePaths TreePaths::Of(const std::string& iniPath) {
  std::string root = Tidy(FolderOf(iniPath) + "../");
  return {root, root + "data/", root + "log/", root + "www/WebOrvane/"};
}

void SetIniValue(const std::string& path, std::string_view section, std::string_view key,
                 const std::string& value) {
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real)) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
  std::string file = real;
  struct stat st;
  if (stat(file.c_str(), &st) != 0) throw std::runtime_error("cannot read " + path);
  const std::string text = ReadAll(file);

  // Lines with their endings.
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  const std::string eol = !lines.empty() && lines[0].size() >= 2 && lines[0].compare(lines[0].size() - 2, 2, "\r\n") == 0
                              ? "\r\n"
                              : "\n";
  auto body = [](const std::string& l) {
    std::string b = l;
    while (!b.empty() && (b.back() == '\n' || b.back() == '\r')) b.pop_back();
    return b;
  };

  bool inSection = false, sectionSeen = false, done = false;
  size_t insertAt = std::string::npos;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string t = Trim(body(lines[i]));
    if (!t.empty() && t[0] == '[') {
      size_t close = t.find(']');
      inSection = close != std::string::npos && SameText(Trim(t.substr(1, close - 1)), section);
      if (inSection) {
        sectionSeen = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inSection || t.empty() || t[0] == ';' || t[0] == '#') continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    insertAt = i + 1;
    if (!SameText(Trim(t.substr(0, eq)), key)) continue;
    std::string b = body(lines[i]);
    size_t at = b.find('=') + 1;
    while (at < b.size() && (b[at] == ' ' || b[at] == '\t')) ++at;
    lines[i] = b.substr(0, at) + value + eol;
    done = true;
  }
  if (!done) {
    std::string line = std::string(key) + "=" + value + eol;
    if (sectionSeen) {
      lines.insert(lines.begin() + static_cast<long>(insertAt), line);
    } else {
      if (!lines.empty() && lines.back().back() != '\n') lines.back() += eol;
      lines.push_back(eol);
      lines.push_back("[" + std::string(section) + "]" + eol);
      lines.push_back(line);
    }
  }
  std::string out;
  for (const std::string& l : lines) out += l;
  ReplaceFile(file, out, st.st_mode & 07777, &st);
}

std::string NewPasswordKey() {
  unsigned char buf[32];
  size_t got = 0;
  while (got < sizeof buf) {
    ssize_t n = getrandom(buf + got, sizeof buf - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error(std::string("getrandom failed: ") + std::strerror(errno));
    got += static_cast<size_t>(n);
  }
  return Hex(std::string_view(reinterpret_cast<const char*>(buf), sizeof buf));
}

store::ConnectionSettings AdminConnection(const SiteIni& ini) {
  store::ConnectionSettings s = ConnectionFromIni(ini);
  s.closedFile.clear();
  return s;
}

InitResult Init(const std::string& iniPath) {
  InitResult r;
  r.recovered = RecoverRekey(iniPath);
  SiteIni ini = ReadSiteIni(iniPath);
  store::ConnectionSettings s = AdminConnection(ini);
  if (!s.UsesServer()) {
    const std::string dir = FolderOf(s.databaseFile);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      throw std::runtime_error("the folder " + dir + " of the database file does not exist");
    if (!Exists(s.databaseFile)) {
      // An empty file is an empty database. When root makes it, it belongs
      // to whoever owns the folder (the web server's user), who must write
      // it; SQLite gives its side files the same owner.
      int fd = open(s.databaseFile.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0660);
      if (fd < 0) throw std::runtime_error("cannot create " + s.databaseFile + ": " + std::strerror(errno));
      if (geteuid() == 0 && fchown(fd, st.st_uid, st.st_gid) != 0) {
        close(fd);
        throw std::runtime_error("cannot give " + s.databaseFile + " to the owner of its folder");
      }
      close(fd);
      r.createdFile = true;
    }
  }
  std::unique_ptr<store::Connection> c = store::Connection::Open(s);
  r.changes = c->CreateSchema();

  bool users;
  {
    store::Table t = WebRegHandle(*c);
    t.Open();
    users = !t.IsEmpty();
    t.Close();
  }
  if (Trim(ini.PasswordKey).empty()) {
    if (users) {
      r.builtInKeyWithUsers = true;
    } else {
      SetIniValue(iniPath, "Security", "PasswordKey", NewPasswordKey());
      r.keyWritten = true;
    }
  }
  return r;
}

SiteClosed::SiteClosed(const SiteIni& ini, const std::string& reason) : file_(ini.ClosedFile) {
  if (Exists(file_)) return;  // closed already, by someone who will open it again
  char when[32];
  std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) throw std::runtime_error("cannot close the site for maintenance: cannot create " + file_ + ": " +
                                       std::strerror(errno));
  std::string text = reason + "\nsince " + when + "\n";
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
  close(fd);
  ours_ = true;
  if (!ok) {
    std::remove(file_.c_str());
    throw std::runtime_error("cannot close the site for maintenance: cannot write " + file_);
  }
}

SiteClosed::~SiteClosed() {
  if (ours_ && !keep_) std::remove(file_.c_str());
}

std::string RecoverRekey(const std::string& iniPath) {
  const std::string path = JournalPath(iniPath);
  if (!Exists(path)) return {};
  Journal j = ReadJournal(path);
  SiteIni ini = ReadSiteIni(iniPath);
  std::string msg;
  if (j.newKey.empty()) {
    msg = "an interrupted change of the password key had not begun to change anything";
  } else {
    std::unique_ptr<store::Connection> c = store::Connection::Open(AdminConnection(ini));
    int onNew = 0, onOld = 0;
    {
      store::Table t = WebRegHandle(*c);
      t.Open();
      for (const Journal::User& u : j.users) {
        if (!t.FindKey({store::Txt(u.tunnus)})) continue;
        std::string form = t.Text("PinKoodi");
        if (form == u.newForm) ++onNew;
        else if (form == u.oldForm) ++onOld;
      }
      t.Close();
    }
    if (onNew > 0 && onOld == 0) {
      if (ini.PasswordKey != j.newKey) SetIniValue(iniPath, "Security", "PasswordKey", j.newKey);
      msg = "finished an interrupted change of the password key: the passwords and the INI file are on the new key";
    } else {
      // The database kept the old forms (it commits them all at once; a
      // mixture is put back too).
      if (onNew > 0) WriteForms(*c, j, false);
      if (ini.PasswordKey != j.oldKey) SetIniValue(iniPath, "Security", "PasswordKey", j.oldKey);
      msg = "undid an interrupted change of the password key: the passwords and the INI file are on the old key";
    }
  }
  std::remove(path.c_str());
  SyncFolder(FolderOf(path));
  RemoveRekeyMarker(ini);
  return msg;
}

RekeyResult Rekey(const std::string& iniPath, const std::string& newKey, int graceSeconds,
                  const std::function<void(RekeyStep)>& after) {
  RekeyResult r;
  r.recovered = RecoverRekey(iniPath);
  SiteIni ini = ReadSiteIni(iniPath);
  if (Trim(newKey).empty() || newKey.size() > 80) throw std::runtime_error("a key has 1 to 80 characters");
  if (newKey == ini.PasswordKey) throw std::runtime_error("the INI file already names that key");
  auto step = [&](RekeyStep s) {
    if (after) after(s);
  };
  const std::string journalPath = JournalPath(iniPath);

  SiteClosed closed(ini, kRekeyReason);
  if (graceSeconds > 0) std::this_thread::sleep_for(std::chrono::seconds(graceSeconds));
  step(RekeyStep::Closed);

  std::unique_ptr<store::Connection> c = store::Connection::Open(AdminConnection(ini));
  Journal j{ini.PasswordKey, newKey, {}};
  const PasswordCipher oldCipher(j.oldKey), newCipher(j.newKey);
  {
    store::Table t = WebRegHandle(*c);
    t.Open();
    for (; !t.Eof(); t.Next()) {
      Journal::User u{t.Text("Tunnus"), t.Text("PinKoodi"), {}};
      std::string plain;
      if (!oldCipher.TryDecode(u.oldForm, plain)) {
        ++r.unreadable;
        continue;
      }
      u.newForm = newCipher.Encode(plain);
      j.users.push_back(std::move(u));
    }
    t.Close();
  }
  WriteJournal(journalPath, j);

  bool committed = false;
  try {
    step(RekeyStep::Journal);
    c->BeginWrite();
    {
      store::Table t = WebRegHandle(*c);
      t.Open();
      for (const Journal::User& u : j.users) {
        if (!t.FindKey({store::Txt(u.tunnus)}) || t.Text("PinKoodi") != u.oldForm)
          throw std::runtime_error("the password of " + u.tunnus + " changed while the site was closed");
        t.Edit();
        t["PinKoodi"].SetText(u.newForm);
        t.Post();
      }
      t.Close();
    }
    step(RekeyStep::Encrypted);
    c->Commit();
    committed = true;
    step(RekeyStep::Committed);
    SetIniValue(iniPath, "Security", "PasswordKey", j.newKey);
    step(RekeyStep::IniSwitched);
  } catch (const std::exception& e) {
    // Back to the old key, database and INI together.
    try {
      if (c->InTransaction()) c->Rollback();
      if (committed) {
        WriteForms(*c, j, false);
        if (ReadSiteIni(iniPath).PasswordKey != j.oldKey) SetIniValue(iniPath, "Security", "PasswordKey", j.oldKey);
      }
      std::remove(journalPath.c_str());
    } catch (const std::exception& undo) {
      closed.Keep();
      throw std::runtime_error(std::string(e.what()) + "; going back to the old key failed too (" + undo.what() +
                               "): the site stays closed until `weborvane-admin rekey` is run again");
    }
    throw;
  }
  std::remove(journalPath.c_str());
  SyncFolder(FolderOf(journalPath));
  r.users = static_cast<int>(j.users.size());
  return r;
}

}  // namespace wo::site
