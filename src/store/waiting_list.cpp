#include "store/waiting_list.h"

#include "store/backend.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/value.h"

namespace wo::store {

namespace {

constexpr std::string_view kTable = "WEBJONO";
constexpr const char* kWaiting = "waiting";
constexpr const char* kOffered = "offered";

Table Handle(Connection& c, std::string_view index) { return Table(c, TableNamed(kTable), "", index); }

void RequireTransaction(Connection& c, const char* what) {
  if (!c.InTransaction()) throw DatabaseError(std::string(kTable) + ": " + what + " only inside a write transaction");
}

QueueEntry Read(Table& t) {
  QueueEntry e;
  e.id = t.Int("Id");
  e.slot = {t.Text("Kausi"), t.Text("VuoroNo"), t.Text("VuoroNoSeq")};
  e.asNo = t.Text("AsNo");
  e.userName = t.Text("Tunnus");
  e.language = t.Text("Kieli");
  e.joined = t.Date("Liittynyt");
  e.offered = t.Text("Tila") == kOffered;
  e.offerUntil = e.offered ? t.Date("Voimassa") : 0;
  return e;
}

std::vector<QueueEntry> ReadRange(Table& t, const std::vector<Value>& key) {
  std::vector<QueueEntry> out;
  t.SetRange(key, key);
  for (; !t.Eof(); t.Next()) out.push_back(Read(t));
  t.Close();
  return out;
}

int64_t HighestId(Connection& c) {
  Connection::Backend& b = c.backend();
  b.Ensure();
  std::unique_ptr<Rows> rows = b.Query("SELECT max(Id) FROM " + std::string(kTable), {});
  StoredRow r;
  if (rows->Next(r) != Rows::Step::Row || r.rowId.IsNull()) return 0;
  const TableDef& def = TableNamed(kTable);
  return StoredAsInt(def.name, *def.Column("Id"), r.rowId);
}

}  // namespace

std::vector<QueueEntry> SlotQueue(Connection& c, const SlotKeyText& slot) {
  Table t = Handle(c, "Kausi;VuoroNo;VuoroNoSeq;Id");
  t.Open();
  return ReadRange(t, {Txt(std::get<0>(slot)), Txt(std::get<1>(slot)), Txt(std::get<2>(slot))});
}

std::vector<QueueEntry> CustomerQueue(Connection& c, std::string_view asNo) {
  Table t = Handle(c, "AsNo;Id");
  t.Open();
  return ReadRange(t, {Txt(std::string(asNo))});
}

std::vector<SlotKeyText> QueuedSlots(Connection& c) {
  std::vector<SlotKeyText> out;
  Table t = Handle(c, "Kausi;VuoroNo;VuoroNoSeq;Id");
  t.Open();
  for (t.First(); !t.Eof(); t.Next()) {
    SlotKeyText k{t.Text("Kausi"), t.Text("VuoroNo"), t.Text("VuoroNoSeq")};
    if (out.empty() || out.back() != k) out.push_back(std::move(k));
  }
  t.Close();
  return out;
}

int64_t AddToQueue(Connection& c, const QueueEntry& e) {
  RequireTransaction(c, "a place in line is added");
  const int64_t id = HighestId(c) + 1;
  Table t = Handle(c, "Id");
  t.Open();
  t.Append();
  t["Id"].SetInt(id);
  t["Kausi"].SetText(std::get<0>(e.slot));
  t["VuoroNo"].SetText(std::get<1>(e.slot));
  t["VuoroNoSeq"].SetText(std::get<2>(e.slot));
  t["AsNo"].SetText(e.asNo);
  t["Tunnus"].SetText(e.userName);
  t["Kieli"].SetText(e.language);
  t["Liittynyt"].SetDateTime(e.joined);
  t["Tila"].SetText(kWaiting);
  t.Post();
  t.Close();
  return id;
}

bool DropFromQueue(Connection& c, int64_t id) {
  RequireTransaction(c, "a place in line is dropped");
  Table t = Handle(c, "Id");
  t.Open();
  const bool found = t.FindKey({Int(id)});
  if (found) t.Delete();
  t.Close();
  return found;
}

bool MarkOffered(Connection& c, int64_t id, DateTime until) {
  RequireTransaction(c, "an offer is made");
  Table t = Handle(c, "Id");
  t.Open();
  const bool found = t.FindKey({Int(id)});
  if (found) {
    t.Edit();
    t["Tila"].SetText(kOffered);
    t["Voimassa"].SetDateTime(until);
    t.Post();
  }
  t.Close();
  return found;
}

}  // namespace wo::store
