#include "module/site_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/datetime.h"

namespace wo {

namespace {

// Writes all of `s` to `fd`; false on an error.
bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void AppendSiteLog(const std::string& logFolder, std::string_view path, std::string_view kind,
                   std::string_view message) noexcept {
  try {
    std::string line = ToStoredDateTime(Now());
    line += '\t';
    line += path.empty() ? std::string_view("/") : path;
    line += '\t';
    line += kind.empty() ? std::string_view("Exception") : kind;
    line += '\t';
    line += message;
    for (char& c : line)
      if (c == '\r' || c == '\n') c = ' ';
    line += '\n';

    const std::string file = logFolder + "WebOrvane.log";
    const std::string older = file + ".1";
    // The lock is held on the open file. A process that waited for it while
    // another one rotated holds the renamed file: it notices by the inode
    // and opens the new one. A few tries are plenty; then the line is lost.
    for (int attempt = 0; attempt < 4; ++attempt) {
      int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
      if (fd < 0) return;
      if (::flock(fd, LOCK_EX) != 0) {
        ::close(fd);
        return;
      }
      struct stat open, named;
      if (::fstat(fd, &open) != 0) {
        ::close(fd);
        return;
      }
      if (::stat(file.c_str(), &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev) {
        ::close(fd);  // rotated meanwhile
        continue;
      }
      if (open.st_size >= kLogRotateBytes && std::rename(file.c_str(), older.c_str()) == 0) {
        ::close(fd);
        continue;
      }
      WriteAll(fd, line);
      ::close(fd);  // releases the lock
      return;
    }
  } catch (...) {
  }
}

}  // namespace wo
