// Closes table handles when the scope that uses them ends, on every path --
// but only those that were closed when the guard was made: a handle that
// its caller holds open stays open for it.
#pragma once

#include <initializer_list>
#include <vector>

#include "store/table.h"

namespace wo {

class TableGuard {
 public:
  TableGuard(std::initializer_list<store::Table*> tables) {
    for (store::Table* t : tables) Add(t);
  }
  ~TableGuard() {
    for (store::Table* t : tables_) {
      try {
        if (t->IsOpen()) t->Close();
      } catch (...) {
        // Closing forgets the handle's state; an error here has nothing to
        // undo and must not replace the one that may be on its way out.
      }
    }
  }
  TableGuard(const TableGuard&) = delete;
  TableGuard& operator=(const TableGuard&) = delete;

  // Guards one more handle, on the same terms.
  void Add(store::Table* t) {
    if (!t->IsOpen()) tables_.push_back(t);
  }

 private:
  std::vector<store::Table*> tables_;
};

}  // namespace wo
