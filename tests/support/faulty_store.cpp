#include "support/faulty_store.h"

#include <string>
#include <vector>

#include "store/backend.h"

namespace wo::test {

namespace {

class FaultyConnection final : public store::Connection, public store::Connection::Backend {
 public:
  FaultyConnection(std::unique_ptr<store::Connection> inner, WriteFaults& faults)
      : inner_(std::move(inner)), faults_(faults) {
    dialect = inner_->backend().dialect;
  }

  // ---- Connection ----
  void BeginWrite() override { inner_->BeginWrite(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  bool InTransaction() const override { return inner_->InTransaction(); }
  bool Usable() override { return inner_->Usable(); }
  std::vector<store::SchemaChange> CreateSchema() override { return inner_->CreateSchema(); }
  Connection::Backend& backend() override { return *this; }

  // ---- Backend ----
  void Ensure() override { Inner().Ensure(); }
  std::unique_ptr<store::Rows> Query(const std::string& sql, const std::vector<store::Stored>& params) override {
    return Keep(Inner().Query(sql, params));
  }
  store::ExecResult Exec(const std::string& sql, const std::vector<store::Stored>& params, bool insert) override {
    if (faults_.NextFails())
      throw store::DatabaseError("write " + std::to_string(faults_.writes()) + " refused by the test (" + sql + ")");
    return Keep(Inner().Exec(sql, params, insert));
  }
  void ExecScript(const std::string& sql) override { Inner().ExecScript(sql); }
  void Prefetch(const std::string& sql, const std::vector<store::Stored>& params) override {
    Inner().Prefetch(sql, params);
  }
  bool ReadsAhead() override { return Inner().ReadsAhead(); }
  Existing ReadSchema() override { return Inner().ReadSchema(); }

 private:
  // The wrapped backend, tracing where this one is asked to.
  store::Connection::Backend& Inner() {
    store::Connection::Backend& b = inner_->backend();
    b.trace = trace;
    return b;
  }
  template <class T>
  T Keep(T result) {
    prepares = inner_->backend().prepares;
    roundTrips = inner_->backend().roundTrips;
    return result;
  }

  std::unique_ptr<store::Connection> inner_;
  WriteFaults& faults_;
};

}  // namespace

std::unique_ptr<store::Connection> WriteFaults::Wrap(std::unique_ptr<store::Connection> inner) {
  return std::make_unique<FaultyConnection>(std::move(inner), *this);
}

Resources::Opener WriteFaults::Opener() {
  return [this](const store::ConnectionSettings& s) { return Wrap(store::Connection::Open(s)); };
}

}  // namespace wo::test
