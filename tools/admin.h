// The administration command's pieces, each a thin layer over the library.
#pragma once

#include <string>

#include "module/ini.h"
#include "store/database.h"

namespace wo::admin {

// Loads the demonstration centre into an initialised database (admin/demo.cpp).
// Returns the exit status; prints what it did or why it failed.
int DemoCommand(store::Connection& conn, const SiteIni& ini);

}  // namespace wo::admin
