#include "module/resources.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "module/site_layout.h"

namespace wo {

ModulePaths ModulePaths::FromExecutable() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string dir;
  if (n > 0) {
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    dir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  const std::string top = dir + WO_SITE_TOP_FROM_PROGRAM;
  return ModulePaths{top + WO_SITE_INI_FILE, top + "log/", top + "www/cgi-bin/", top};
}

Resources::Resources(ModulePaths paths, Clock clock, Opener open)
    : paths_(std::move(paths)), clock_(clock), open_(std::move(open)) {}

Resources::~Resources() = default;

namespace {

// A change to a file this close to its last read may share its time stamp
// with the read version: file systems tick in milliseconds or, some, in
// seconds.
constexpr long long kRacyNs = 2'000'000'000LL;

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

}  // namespace

const SiteIni& Resources::Ini() {
  if (ini_ && !iniRacy_) {
    if (perRequest_ && iniChecked_) return *ini_;
    std::optional<FileStamp> now = StampOf(paths_.iniFile);
    if (now && *now == iniStamp_) {
      iniChecked_ = true;
      return *ini_;
    }
  }
  ini_.reset();
  FileStamp stamp;
  ini_ = ReadSiteIni(paths_.iniFile, &stamp);
  iniStamp_ = stamp;
  iniRacy_ = NowNs() - std::max(stamp.modifiedNs, stamp.changedNs) < kRacyNs;
  iniChecked_ = true;
  return *ini_;
}

store::Connection& Resources::ConnectionFor(const store::ConnectionSettings& s) {
  if (conn_ && conn_->InTransaction()) {
    try {
      conn_->Rollback();
    } catch (...) {
      conn_.reset();
    }
  }
  if (!conn_ || !(s == settings_) || !conn_->Usable()) {
    conn_.reset();
    codes_.reset();
    conn_ = open_(s);
    settings_ = s;
  }
  return *conn_;
}

CodeTables Resources::TakeCodeTables(const store::ChangeStamp& now) {
  CodeTables t;
  if (codes_ && codes_->first == now) t = std::move(codes_->second);
  codes_.reset();
  return t;
}

void Resources::KeepCodeTables(CodeTables t, const store::ChangeStamp& stamp) {
  codes_.emplace(stamp, std::move(t));
}

}  // namespace wo
