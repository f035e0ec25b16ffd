// Write transactions of separate processes, as simultaneous requests are:
// a writer that finds the database busy waits for the other, neither fails
// and no write is lost.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "store/database.h"
#include "store/handles.h"
#include "store/table.h"
#include "support/pg.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;
using Clock = std::chrono::steady_clock;

Table Handle(Connection& c, const char* name) {
  const HandleDef& d = HandleNamed(name);
  return Table(c, TableNamed(d.table), d.fields, d.index);
}

// Books the next place of one slot the way a reservation does: the highest
// Jno of the slot's rows plus one, then a counter in PARAM.
void BookOnePlace(Connection& c, const std::string& asNo) {
  InWriteTransaction(c, [&] {
    Table va = Handle(c, "TblVa");
    va.Open();
    va.SetRange({Txt("2024"), Txt("   10"), Txt("    1")}, {Txt("2024"), Txt("   10"), Txt("    1")});
    int64_t high = 0;
    for (; !va.Eof(); va.Next()) high = std::max(high, va.Int("Jno"));
    usleep(500);  // widen the window between the check and the write
    va.Append();
    va["Kausi"].SetText("2024");
    va["VuoroNo"].SetText("   10");
    va["VuoroNoSeq"].SetText("    1");
    va["Jno"].SetInt(high + 1);
    va["AsNo"].SetText(asNo);
    va["Status"].SetInt(0);
    va.Post();
    Table p = Handle(c, "TblParam");
    p.Open();
    if (!p.FindKey({Txt("Counter")})) throw DatabaseError("no counter");
    p.Edit();
    p["ArvoInt32"].SetInt(p.Int("ArvoInt32") + 1);
    p.Post();
  });
}

// Runs `fn` in a child process; its exit status is 0 when fn returned.
template <class Fn>
pid_t Child(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) {
    int status = 0;
    try {
      fn();
    } catch (const std::exception& e) {
      fprintf(stderr, "child %d: %s\n", getpid(), e.what());
      status = 1;
    }
    _exit(status);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class StoreConcurrency : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) WO_REQUIRE_PG_OR_SKIP();
    try {
      db = std::make_unique<test::TestDatabase>(GetParam());
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    std::unique_ptr<Connection> c = db->Connect();
    Table p = Handle(*c, "TblParam");
    p.Open();
    p.Append();
    p["Avain"].SetText("Counter");
    p["ArvoInt32"].SetInt(0);
    p.Post();
  }
  std::unique_ptr<test::TestDatabase> db;
};

TEST_P(StoreConcurrency, ConflictingWritersQueueAndLoseNothing) {
  const int kEach = 25;
  std::vector<pid_t> kids;
  for (const char* asNo : {"A", "B"}) {
    kids.push_back(Child([&, asNo] {
      std::unique_ptr<Connection> c = db->Connect();
      for (int i = 0; i < kEach; ++i) BookOnePlace(*c, asNo);
    }));
  }
  for (pid_t k : kids) EXPECT_EQ(Wait(k), 0) << "a writer failed";

  std::unique_ptr<Connection> c = db->Connect();
  Table va = Handle(*c, "TblVa");
  va.Open();
  std::set<int64_t> jnos;
  int a = 0;
  for (; !va.Eof(); va.Next()) {
    jnos.insert(va.Int("Jno"));
    a += va.Text("AsNo") == "A";
  }
  EXPECT_EQ(jnos.size(), 2u * kEach);
  EXPECT_EQ(*jnos.rbegin(), 2 * kEach);  // 1..50, no number twice
  EXPECT_EQ(a, kEach);
  Table p = Handle(*c, "TblParam");
  p.Open();
  ASSERT_TRUE(p.FindKey({Txt("Counter")}));
  EXPECT_EQ(p.Int("ArvoInt32"), 2 * kEach);
}

TEST_P(StoreConcurrency, ASecondWriterWaitsForTheFirst) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = Child([&] {
    std::unique_ptr<Connection> c = db->Connect();
    c->BeginWrite();
    Table p = Handle(*c, "TblParam");
    p.Open();
    if (!p.FindKey({Txt("Counter")})) throw DatabaseError("no counter");
    p.Edit();
    p["ArvoInt32"].SetInt(100);
    p.Post();
    if (write(ready[1], "x", 1) != 1) throw DatabaseError("pipe");
    usleep(600 * 1000);
    c->Commit();
  });
  char x;
  ASSERT_EQ(read(ready[0], &x, 1), 1);
  std::unique_ptr<Connection> c = db->Connect();
  auto start = Clock::now();
  c->BeginWrite();  // waits until the holder commits, here or at the first read
  Table p = Handle(*c, "TblParam");
  p.Open();
  ASSERT_TRUE(p.FindKey({Txt("Counter")}));
  double waited = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(p.Int("ArvoInt32"), 100);  // the first writer's row, committed
  p.Edit();
  p["ArvoInt32"].SetInt(p.Int("ArvoInt32") + 1);
  p.Post();
  c->Commit();
  EXPECT_EQ(Wait(holder), 0);
  EXPECT_GT(waited, 0.3) << "the second writer did not wait";
  ASSERT_TRUE(p.FindKey({Txt("Counter")}));
  EXPECT_EQ(p.Int("ArvoInt32"), 101);
  close(ready[0]);
  close(ready[1]);
}

WO_INSTANTIATE_PER_ENGINE(StoreConcurrency);

}  // namespace
}  // namespace wo::store
