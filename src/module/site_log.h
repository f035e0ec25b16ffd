// The site's error log, <log folder>/WebOrvane.log: one line per unexpected
// error, "time<TAB>path<TAB>kind<TAB>message". Once the file has grown past
// kLogRotateBytes it is renamed to WebOrvane.log.1 (replacing the older one)
// and a new file is begun, so the log never takes more than about twice
// that much room, whatever requests arrive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wo {

inline constexpr int64_t kLogRotateBytes = 1 << 20;

// Appends one line (line breaks inside the fields become blanks) to the
// log in `logFolder` (which ends with "/"). Safe against other processes
// writing and rotating the same log. Never throws: a log that cannot be
// written is given up silently, since the request has its answer anyway.
void AppendSiteLog(const std::string& logFolder, std::string_view path, std::string_view kind,
                   std::string_view message) noexcept;

}  // namespace wo
