// Faults under the store, for tests: connections that count their writes
// (the INSERT, UPDATE and DELETE that table handles send) and refuse the
// ones a test names, as the engine itself refuses a write -- with
// DatabaseError and nothing written -- whatever the backend. Everything
// else goes to the wrapped connection unchanged.
#pragma once

#include <climits>
#include <memory>

#include "module/resources.h"
#include "store/database.h"

namespace wo::test {

class WriteFaults {
 public:
  // The `n`th write from now fails (1: the next one); the others pass.
  void FailNth(int n) {
    failFrom_ = writes_ + n;
    failUntil_ = failFrom_;
  }
  // Every write from now fails, until Heal.
  void FailAll() {
    failFrom_ = writes_ + 1;
    failUntil_ = LLONG_MAX;
  }
  void Heal() { failFrom_ = failUntil_ = 0; }
  // The writes seen so far, refused ones included.
  long long writes() const { return writes_; }

  // `inner`, counting its writes here and failing the ones this says.
  std::unique_ptr<store::Connection> Wrap(std::unique_ptr<store::Connection> inner);
  // An opener of such connections (Resources, TempSite::SetOpener). The
  // object must outlive the connections it opens.
  Resources::Opener Opener();

  // Counts one write; true when it is to fail.
  bool NextFails() {
    ++writes_;
    return writes_ >= failFrom_ && writes_ <= failUntil_;
  }

 private:
  long long writes_ = 0;
  long long failFrom_ = 0, failUntil_ = 0;
};

}  // namespace wo::test
