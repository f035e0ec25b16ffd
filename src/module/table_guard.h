// Closes a table handle when the scope that uses it ends, on every path.
#pragma once

#include "store/table.h"

namespace wo {

class TableGuard {
 public:
  explicit TableGuard(store::Table& t) : t_(t) {}
  ~TableGuard() {
    try {
      t_.Close();
    } catch (...) {
      // Closing forgets the handle's state; an error here has nothing to
      // undo and must not replace the one that may be on its way out.
    }
  }
  TableGuard(const TableGuard&) = delete;
  TableGuard& operator=(const TableGuard&) = delete;

 private:
  store::Table& t_;
};

}  // namespace wo
