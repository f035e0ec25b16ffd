#include "support/pg.h"

#include <glob.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "store/backend.h"

namespace wo::test {

namespace {

std::string Env(const char* name, const char* def) {
  const char* v = std::getenv(name);
  return v && *v ? v : def;
}

// Runs one statement on the server's maintenance database.
void ServerCommand(const std::string& sql) {
  std::unique_ptr<store::Connection> c = store::Connection::Open(PgSettings("postgres"));
  c->backend().ExecScript(sql);
}

}  // namespace

PgServer PgServerFromEnv() {
  PgServer s;
  s.host = Env("WO_PG_HOST", "127.0.0.1");
  s.port = std::atoi(Env("WO_PG_PORT", "16000").c_str());
  s.user = Env("WO_PG_USER", "weborvane");
  return s;
}

bool PgInstalled() {
  glob_t g;
  bool found = glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0 && g.gl_pathc > 0;
  globfree(&g);
  return found;
}

store::ConnectionSettings PgSettings(const std::string& name) {
  PgServer srv = PgServerFromEnv();
  store::ConnectionSettings s;
  s.serverName = "WebOrvaneTest";
  s.serverAddress = srv.host;
  s.port = srv.port;
  s.alias = name;
  s.user = srv.user;
  return s;
}

PgDatabase::PgDatabase() {
  static std::atomic<int> counter{0};
  name_ = "wo_test_" + std::to_string(getpid()) + "_" + std::to_string(time(nullptr) % 100000) + "_" +
          std::to_string(counter++);
  try {
    ServerCommand("CREATE DATABASE " + name_ + " ENCODING 'UTF8' TEMPLATE template0");
  } catch (const store::DatabaseError& e) {
    PgServer srv = PgServerFromEnv();
    throw std::runtime_error("the PostgreSQL test server at " + srv.host + ":" + std::to_string(srv.port) +
                             " (user " + srv.user +
                             ") cannot create a database; start it with tests/pg/pg-server.sh start: " +
                             e.what());
  }
  settings_ = PgSettings(name_);
}

PgDatabase::~PgDatabase() {
  try {
    ServerCommand("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (const std::exception&) {
    // The server went away; its folder is removed with it.
  }
}

}  // namespace wo::test
