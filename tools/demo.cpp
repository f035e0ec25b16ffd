// UNBUILT: placeholder for the demo loader.
#include <cstdio>

#include "admin.h"

namespace wo::admin {
int DemoCommand(store::Connection&, const SiteIni&) {
  std::fprintf(stderr, "weborvane-admin: demo not built yet\n");
  return 1;
}
}  // namespace wo::admin
