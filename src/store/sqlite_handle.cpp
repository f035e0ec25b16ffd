#include "store/sqlite_handle.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"

namespace wo::store {

namespace {

// ---- the memory of a process that serves one request ----
//
// Every allocation carries an 8-byte header: its usable size, the low bit
// set when it came from malloc and goes back to free. The rest are cut
// from blocks in order and never given back to the system: the process
// ends soon after. A piece let go waits in the list of its exact size for
// the next allocation of that size, so that the many short-lived objects
// of making a statement use the same memory again instead of new pages.
// Past kArenaLimit in all, everything goes to malloc.
constexpr size_t kBlock = 256 * 1024;
constexpr size_t kLargest = 16 * 1024;  // larger ones go to malloc
constexpr size_t kArenaLimit = 16 * 1024 * 1024;

struct Arena {
  char* next = nullptr;
  size_t left = 0;
  size_t total = 0;
  bool on = false;  // UseOneRequestMemory was asked for
  void* spare[kLargest / 8 + 1] = {};  // pieces let go, by size / 8
};
Arena arena;

constexpr uint64_t kFromMalloc = 1;

size_t Rounded(size_t n) { return (n + 7) & ~static_cast<size_t>(7); }

void* FromMalloc(size_t size) {
  auto* h = static_cast<uint64_t*>(std::malloc(size + 8));
  if (!h) return nullptr;
  *h = size | kFromMalloc;
  return h + 1;
}

void* ArenaMalloc(int n) {
  if (n <= 0) return nullptr;
  const size_t size = Rounded(static_cast<size_t>(n));
  if (size > kLargest) return FromMalloc(size);
  if (void*& spare = arena.spare[size / 8]) {
    void* p = spare;
    spare = *static_cast<void**>(p);
    return p;
  }
  if (size + 8 > arena.left) {
    if (arena.total + kBlock > kArenaLimit) return FromMalloc(size);
    char* block = static_cast<char*>(std::malloc(kBlock));
    if (!block) return nullptr;
    arena.next = block;
    arena.left = kBlock;
    arena.total += kBlock;
  }
  auto* h = reinterpret_cast<uint64_t*>(arena.next);
  *h = size;
  arena.next += size + 8;
  arena.left -= size + 8;
  return h + 1;
}

uint64_t HeaderOf(void* p) { return static_cast<uint64_t*>(p)[-1]; }

void ArenaFree(void* p) {
  if (!p) return;
  const uint64_t h = HeaderOf(p);
  if (h & kFromMalloc) {
    std::free(static_cast<uint64_t*>(p) - 1);
    return;
  }
  void*& spare = arena.spare[h / 8];
  *static_cast<void**>(p) = spare;
  spare = p;
}

int ArenaSize(void* p) { return p ? static_cast<int>(HeaderOf(p) & ~kFromMalloc) : 0; }

void* ArenaRealloc(void* p, int n) {
  if (!p) return ArenaMalloc(n);
  const size_t old = static_cast<size_t>(ArenaSize(p));
  const size_t size = Rounded(static_cast<size_t>(n));
  if (size <= old) return p;
  // The last piece cut grows in place while its block has room.
  if (!(HeaderOf(p) & kFromMalloc) && static_cast<char*>(p) + old == arena.next && size - old <= arena.left &&
      size <= kLargest) {
    static_cast<uint64_t*>(p)[-1] = size;
    arena.next += size - old;
    arena.left -= size - old;
    return p;
  }
  void* q = ArenaMalloc(n);
  if (!q) return nullptr;
  std::memcpy(q, p, old);
  ArenaFree(p);
  return q;
}

int ArenaRoundup(int n) { return static_cast<int>(Rounded(static_cast<size_t>(n))); }
int ArenaInit(void*) { return SQLITE_OK; }
void ArenaShutdown(void*) {}

// ---- a write-ahead log that stays between connections ----
//
// The library opens the log asking to create it, and the system's file
// system then flushes the log's directory at the log's first flush, so
// that the name of a new file survives a crash. The log stays beside the
// database between connections (SQLITE_FCNTL_PERSIST_WAL): its name is on
// the disk already, and each process that opens it and commits would flush
// the directory for nothing. This file system opens a log that exists
// without asking to create it; one that does not is created as before. All
// else is the system's default file system, whose calls take no state from
// the object they are called through beyond what the copy holds.
constexpr const char* kKeptLogVfs = "wo-kept-log";
sqlite3_vfs keptLogVfs;

int OpenKeptLog(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* base = static_cast<sqlite3_vfs*>(vfs->pAppData);
  if (name && (flags & SQLITE_OPEN_WAL) && (flags & SQLITE_OPEN_CREATE) &&
      base->xOpen(base, name, file, flags & ~SQLITE_OPEN_CREATE, outFlags) == SQLITE_OK)
    return SQLITE_OK;
  return base->xOpen(base, name, file, flags, outFlags);
}

// The library keeps no count of the memory it uses: the count costs a
// global lock around every allocation, and nothing here reads it. Set
// before the library starts, once per process.
void ConfigureLibrary() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    if (arena.on) {
      static const sqlite3_mem_methods kMethods{ArenaMalloc, ArenaFree,    ArenaRealloc, ArenaSize,
                                                ArenaRoundup, ArenaInit, ArenaShutdown, nullptr};
      sqlite3_config(SQLITE_CONFIG_MALLOC, &kMethods);
    }
    if (sqlite3_vfs* base = sqlite3_vfs_find(nullptr)) {
      keptLogVfs = *base;
      keptLogVfs.pNext = nullptr;
      keptLogVfs.zName = kKeptLogVfs;
      keptLogVfs.pAppData = base;
      keptLogVfs.xOpen = OpenKeptLog;
      sqlite3_vfs_register(&keptLogVfs, 0);
    }
    return true;
  }();
  (void)configured;
}

}  // namespace

// A sanitized build keeps the library's own allocator, whose every
// allocation the sanitizer watches.
#ifdef __SANITIZE_ADDRESS__
void UseOneRequestMemory() {}
#else
void UseOneRequestMemory() { arena.on = true; }
#endif

SqliteDb OpenSqliteDb(const std::string& file, int flags) {
  ConfigureLibrary();
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, sqlite3_vfs_find(kKeptLogVfs) ? kKeptLogVfs : nullptr);
  SqliteDb db(raw);  // owned from here on, also when opening failed
  if (rc != SQLITE_OK)
    throw DatabaseError("cannot open the database file " + file + ": " +
                        (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc)));
  sqlite3_extended_result_codes(db.get(), 1);
  return db;
}

}  // namespace wo::store
