#include "support/site.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "frame/cgi.h"
#include "base/text.h"
#include "booking/actions.h"
#include "module/module.h"
#include "support/clock.h"
#include "base/datetime.h"
#include "store/table.h"

namespace fs = std::filesystem;

namespace wo::test {

std::string CgiResult::Header(std::string_view name) const {
  for (const std::string& line : headerLines) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && SameText(std::string_view(line).substr(0, colon), name)) {
      size_t v = colon + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      return line.substr(v);
    }
  }
  return std::string();
}

CgiResult ParseCgiOutput(std::string raw) {
  CgiResult r;
  r.raw = std::move(raw);
  size_t pos = 0;
  while (pos < r.raw.size()) {
    size_t eol = r.raw.find("\r\n", pos);
    if (eol == std::string::npos) break;
    std::string line = r.raw.substr(pos, eol - pos);
    pos = eol + 2;
    if (line.empty()) {
      r.body = r.raw.substr(pos);
      break;
    }
    r.headerLines.push_back(line);
  }
  std::string st = r.Header("Status");
  if (!st.empty()) r.status = static_cast<int>(ToIntDef(st.substr(0, st.find(' ')), 0));
  return r;
}

void InsertRow(store::Connection& c, std::string_view table, const Row& row) {
  store::Table t(c, store::TableNamed(table), "", row.empty() ? "" : row.front().first);
  t.Open();
  t.Append();
  for (const auto& [name, value] : row) {
    store::Field f = t[name];
    if (value == kNull) {
      f.SetNull();
      continue;
    }
    switch (f.def().type) {
      case store::FieldType::Text: f.SetText(value); break;
      case store::FieldType::SmallInt:
      case store::FieldType::Integer: f.SetInt(std::stoll(value)); break;
      case store::FieldType::Float: f.SetFloat(std::stod(value)); break;
      case store::FieldType::Boolean: f.SetBool(value == "1"); break;
      case store::FieldType::DateTime: {
        DateTime d;
        if (!ParseStoredDateTime(value, d)) throw std::runtime_error("bad date-time " + value);
        f.SetDateTime(d);
        break;
      }
      case store::FieldType::Time: {
        double d;
        if (!ParseStoredTime(value, d)) throw std::runtime_error("bad time " + value);
        f.SetDateTime(d);
        break;
      }
    }
  }
  t.Post();
  t.Close();
}

void MoveLogIntoDatabase(const std::string& dbFile) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot move the log of " + dbFile + " into it");
}

std::pair<int, std::string> Shell(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {-1, out};
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  old_ = fs::current_path().string();
  fs::current_path(dir);
}
ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

namespace {

void WriteFile(const std::string& path, std::string_view bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace

TempSite::TempSite(SiteOptions opts) {
  char tmpl[] = "/tmp/wo-site-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  for (const char* d : {"www/cgi-bin", "www/WebOrvane/Fin", "www/WebOrvane/Eng", "www/htdocs", "bin", "log", "data"})
    fs::create_directories(root_ + "/" + d);
  // A hard link keeps /proc/self/exe inside this tree; copy across devices.
  std::error_code ec;
  fs::create_hard_link(WO_CGI_PROGRAM, program(), ec);
  if (ec) fs::copy_file(WO_CGI_PROGRAM, program());
  // The dynamically linked program that serves sites on a server.
  const std::string dynamic = root_ + "/lib/dynamic/WebOrvane.exe";
  fs::create_directories(root_ + "/lib/dynamic");
  ec.clear();
  fs::create_hard_link(std::string(WO_BINARY_DIR) + "/dynamic/WebOrvane.exe", dynamic, ec);
  if (ec) fs::copy_file(std::string(WO_BINARY_DIR) + "/dynamic/WebOrvane.exe", dynamic);
  if (opts.copySiteTemplates) {
    for (const char* lang : {"Fin", "Eng"}) {
      fs::path src = fs::path(WO_SOURCE_DIR) / "site" / lang;
      if (fs::exists(src))
        fs::copy(src, root_ + "/www/WebOrvane/" + lang, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
  }
  WriteIni(opts.extraIni);
  if (opts.createSchema) {
    store::ConnectionSettings s;
    s.databaseFile = dbFile();
    s.createIfMissing = true;
    store::Connection::Open(s)->CreateSchema();
  }
}

TempSite::~TempSite() {
  worker_.reset();
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void TempSite::WriteIni(std::string_view extra) {
  // The first of two equal keys counts, so `extra` goes first; lines before
  // its first section belong to [DataBase].
  std::string ini = extra.empty() || extra[0] == '[' ? "" : "[DataBase]\n";
  ini += extra;
  ini += "\n[DataBase]\nServerName=\nServerAddress=\nDatabaseFile=../data/VELMORI.db\n";
  WriteFile(iniFile(), ini);
}

void TempSite::WriteTemplate(std::string_view lang, std::string_view file, std::string_view bytes) {
  WriteFile(root_ + "/www/WebOrvane/" + std::string(lang) + "/" + std::string(file), bytes);
}

std::unique_ptr<store::Connection> TempSite::Connect() const {
  store::ConnectionSettings s;
  s.databaseFile = dbFile();
  return store::Connection::Open(s);
}

namespace {

std::map<std::string, std::string> RequestVariables(std::string_view path, std::string_view query,
                                                    const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> vars = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                                             {"REQUEST_METHOD", "GET"},
                                             {"PATH_INFO", std::string(path)},
                                             {"QUERY_STRING", std::string(query)},
                                             {"REMOTE_ADDR", "127.0.0.1"}};
  for (const auto& [k, v] : env) vars[k] = v;
  return vars;
}

CgiResult Parsed(std::string out, bool withHeaders) {
  return withHeaders ? ParseCgiOutput(std::move(out)) : CgiResult{out, {}, out, 0};
}

}  // namespace

CgiResult TempSite::Run(std::string_view path, std::string_view query,
                        const std::map<std::string, std::string>& env) const {
  return ThroughFastCgi() ? RunAsFastCgi(path, query, env) : RunAsCgi(path, query, env);
}

FastCgiWorkers& TempSite::Worker() const {
  std::lock_guard<std::mutex> lock(workerMutex_);
  if (!worker_) worker_ = std::make_unique<FastCgiWorkers>(program(), root_ + "/fastcgi.sock");
  return *worker_;
}

CgiResult TempSite::RunAsFastCgi(std::string_view path, std::string_view query,
                                 const std::map<std::string, std::string>& env) const {
  std::map<std::string, std::string> vars = RequestVariables(path, query, env);
  return Parsed(Worker().Request(vars), !vars["SERVER_PROTOCOL"].empty());
}

CgiResult TempSite::RunAsCgi(std::string_view path, std::string_view query,
                             const std::map<std::string, std::string>& env) const {
  std::map<std::string, std::string> vars = RequestVariables(path, query, env);
  int outPipe[2];
  if (pipe(outPipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    close(outPipe[0]);
    close(outPipe[1]);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    if (chdir(cgiDir().c_str()) != 0) _exit(127);
    std::vector<std::string> envs;
    for (const auto& [k, v] : vars)
      if (!v.empty()) envs.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string prog = program();
    char* argv[] = {prog.data(), nullptr};
    execve(prog.c_str(), argv, envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(outPipe[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(outPipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  return Parsed(std::move(out), !vars["SERVER_PROTOCOL"].empty());
}

CgiResult TempSite::RunInProcess(std::string_view path, std::string_view query,
                                 const std::map<std::string, std::string>& env) const {
  std::map<std::string, std::string> vars = RequestVariables(path, query, env);
  ScopedCwd cwd(cgiDir());
  std::string out;
  Resources resources(paths(), &TestNow, opener_);
  int devnull = open("/dev/null", O_RDONLY);
  RunCgi([&](const std::string& name) {
           auto it = vars.find(name);
           return it == vars.end() ? std::string() : it->second;
         },
         devnull, [&](std::string_view bytes) { out.append(bytes); },
         [&](const Request& req, Response& resp) {
           return std::unique_ptr<WebModuleBase>(std::make_unique<WebModule>(req, resp, resources, OrvaneApp()));
         });
  close(devnull);
  return Parsed(std::move(out), !vars["SERVER_PROTOCOL"].empty());
}

}  // namespace wo::test
