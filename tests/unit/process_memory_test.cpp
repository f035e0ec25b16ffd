// Memory mapped ahead: a process that serves one request takes no page
// fault for the heap it allocates, and the static program maps its whole
// image as it starts.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/cgi.h"
#include "support/fastcgi_client.h"
#include "support/site.h"

namespace wo::test {
namespace {

// Whether this kernel maps pages on request (Linux 5.14 and later).
bool KernelMapsAhead() {
  void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  const bool ok = p != MAP_FAILED && madvise(p, 4096, MADV_POPULATE_WRITE) == 0;
  if (p != MAP_FAILED) munmap(p, 4096);
  return ok;
}

long MinorFaults() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_minflt;
}

// Run in a process of its own (the test's heap, inherited by a fork,
// would be shared with the parent and copied on the first write).
TEST(ProcessMemory, HeapMadeReadyTakesNoFaultsForWhatARequestAllocates) {
  if (std::getenv("WO_HEAP_CHILD")) {
    ReadyHeapForOneRequest();
    long faults = 0;
    // A page's strings, then blocks as large as the database's own.
    for (size_t kb : {4, 64, 256}) {
      const long before = MinorFaults();
      auto* p = static_cast<volatile char*>(std::malloc(kb * 1024));
      for (size_t i = 0; i < kb * 1024; i += 4096) p[i] = 1;
      faults += MinorFaults() - before;
    }
    _exit(static_cast<int>(std::min(faults, 100L)));
  }
  if (kSanitized || !KernelMapsAhead()) GTEST_SKIP() << "no heap made ready here";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  const auto [status, out] =
      Shell("WO_HEAP_CHILD=1 '" + self + "' --gtest_filter=ProcessMemory.HeapMadeReady* >/dev/null 2>&1");
  EXPECT_EQ(status, 0) << "page faults after the heap was made ready";
}

TEST(ProcessMemory, StaticProgramMapsItsWholeImageAsItStarts) {
#ifndef __x86_64__
  GTEST_SKIP() << "the static program's own entry point is built for x86-64 only";
#endif
  if (kSanitized || !KernelMapsAhead()) GTEST_SKIP() << "no static program or no mapping ahead here";
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "ok");
  FastCgiWorkers w(site.program(), site.root() + "/image.sock");
  ASSERT_NE(w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}}).find("ok"), std::string::npos);
  // Every mapping of the program file is resident in full.
  std::ifstream smaps("/proc/" + std::to_string(w.pids()[0]) + "/smaps");
  int mappings = 0;
  long size = -1;
  bool ours = false;
  for (std::string line; std::getline(smaps, line);) {
    std::istringstream in(line);
    std::string key;
    long kb = 0;
    if (line.find(" kB") == std::string::npos) {  // a mapping's first line
      ours = line.size() > site.program().size() &&
             line.compare(line.size() - site.program().size(), std::string::npos, site.program()) == 0;
      mappings += ours;
    } else if (ours && (in >> key >> kb) && key == "Size:") {
      size = kb;
    } else if (ours && key == "Rss:") {
      EXPECT_EQ(kb, size) << "kB resident of a mapping of the program";
    }
  }
  EXPECT_GE(mappings, 2);
}

}  // namespace
}  // namespace wo::test
