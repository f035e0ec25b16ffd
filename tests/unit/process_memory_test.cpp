// Memory mapped ahead: a CGI process takes no page fault for the heap a
// request allocates, and the static program maps its whole image at start.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/cgi.h"
#include "support/fastcgi_client.h"
#include "support/site.h"

namespace wo::test {
namespace {

bool KernelMapsAhead() {  // Linux 5.14 and later
  void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p != MAP_FAILED && madvise(p, 4096, MADV_POPULATE_WRITE) == 0;
}

// In a process of its own: a forked test's heap would be copied on write.
TEST(ProcessMemory, HeapMadeReadyTakesNoFaultsForWhatARequestAllocates) {
  if (std::getenv("WO_HEAP_CHILD")) {
    ReadyHeapForOneRequest();
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    for (size_t kb : {4, 64, 256}) {  // a page's strings, then a database block
      auto* p = static_cast<volatile char*>(std::malloc(kb * 1024));
      for (size_t i = 0; i < kb * 1024; i += 4096) p[i] = 1;
    }
    getrusage(RUSAGE_SELF, &after);
    _exit(static_cast<int>(std::min(after.ru_minflt - before.ru_minflt, 100L)));
  }
  if (kSanitized || !KernelMapsAhead()) GTEST_SKIP() << "no heap made ready here";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(Shell("WO_HEAP_CHILD=1 '" + self + "' --gtest_filter='ProcessMemory.Heap*' >/dev/null 2>&1").first, 0)
      << "page faults after the heap was made ready";
}

TEST(ProcessMemory, StaticProgramMapsItsWholeImageAsItStarts) {
#ifndef __x86_64__
  GTEST_SKIP() << "the static program's own entry point is built for x86-64 only";
#endif
  if (kSanitized || !KernelMapsAhead()) GTEST_SKIP() << "no static program or no mapping ahead here";
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "ok");
  FastCgiWorkers w(site.program(), site.root() + "/image.sock");
  ASSERT_NE(w.Request({{"SERVER_PROTOCOL", "HTTP/1.1"}}).find("ok"), std::string::npos);  // started
  std::ifstream smaps("/proc/" + std::to_string(w.pids()[0]) + "/smaps");
  int mappings = 0;
  long size = 0;
  bool ours = false;
  for (std::string line, key; std::getline(smaps, line);) {
    long kb = 0;
    std::istringstream(line) >> key >> kb;
    if (key.back() != ':') {  // "from-to perms offset device inode path"
      ours = line.ends_with(site.program());
      mappings += ours;
    } else if (ours && key == "Size:") {
      size = kb;
    } else if (ours && key == "Rss:") {
      EXPECT_EQ(kb, size) << "kB of a mapping of the program resident";
    }
  }
  EXPECT_GE(mappings, 2);
}

}  // namespace
}  // namespace wo::test
