#include "store/outbox.h"

#include "base/text.h"
#include "store/backend.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/value.h"

namespace wo::store {

namespace {

constexpr std::string_view kTable = "WEBPOSTI";

const char* const kKinds[] = {"confirmation", "cancellation", "reminder", "reset", "offer"};
const char* const kStates[] = {"queued", "sending", "sent", "failed"};

// The bounds of every date-time the store holds.
DateTime Earliest() { return EncodeDate(1, 1, 1); }

Table Handle(Connection& c, std::string_view index) { return Table(c, TableNamed(kTable), "", index); }

MailState StateOf(const std::string& name) {
  for (size_t i = 0; i < std::size(kStates); ++i)
    if (name == kStates[i]) return static_cast<MailState>(i);
  throw DatabaseError(std::string(kTable) + ": unknown state '" + name + "'");
}

OutboxMessage Read(Table& t) {
  OutboxMessage m;
  m.id = t.Int("Id");
  if (!ParseMailKind(t.Text("Laji"), m.kind))
    throw DatabaseError(std::string(kTable) + ": unknown kind '" + t.Text("Laji") + "' of message " +
                        std::to_string(m.id));
  m.recipient = t.Text("Vastaanottaja");
  m.language = t.Text("Kieli");
  m.facts = t.Text("Tiedot");
  m.key = {t.Text("Kausi"), t.Text("VuoroNo"), t.Text("VuoroNoSeq"), t.Text("AsNo")};
  m.created = t.Date("Luotu");
  m.attempts = static_cast<int>(t.Int("Yritykset"));
  m.nextAttempt = t.Date("Seuraava");
  m.state = StateOf(t.Text("Tila"));
  m.holder = t.Text("Haltija");
  m.sentAt = t.Date("Lahetetty");
  m.lastError = t.Text("Virhe");
  return m;
}

// `v` into the text field `name`, refused rather than cut when too long.
void SetWhole(Table& t, const char* name, const std::string& v) {
  Field f = t[name];
  if (v.size() > static_cast<size_t>(f.def().width))
    throw DatabaseError(std::string(kTable) + "." + name + ": " + std::to_string(v.size()) +
                        " characters, more than the " + std::to_string(f.def().width) + " it holds");
  f.SetText(v);
}

int64_t HighestId(Connection& c) {
  Connection::Backend& b = c.backend();
  b.Ensure();
  std::unique_ptr<Rows> rows = b.Query("SELECT max(Id) FROM " + std::string(kTable), {});
  StoredRow r;
  if (rows->Next(r) != Rows::Step::Row) return 0;
  const TableDef& def = TableNamed(kTable);
  return StoredAsInt(def.name, *def.Column("Id"), r.rowId);
}

std::vector<Value> KeyValues(const ReservationKey& k) {
  return {Txt(k.kausi), Txt(k.vuoroNo), Txt(k.vuoroNoSeq), Txt(k.asNo)};
}

void RequireNoTransaction(Connection& c, const char* what) {
  if (c.InTransaction()) throw DatabaseError(std::string(what) + " runs its own transaction, not inside one");
}

}  // namespace

const char* MailKindName(MailKind k) { return kKinds[static_cast<size_t>(k)]; }
const char* MailStateName(MailState s) { return kStates[static_cast<size_t>(s)]; }

bool ParseMailKind(std::string_view name, MailKind& out) {
  for (size_t i = 0; i < std::size(kKinds); ++i)
    if (name == kKinds[i]) {
      out = static_cast<MailKind>(i);
      return true;
    }
  return false;
}

int64_t QueueMessage(Connection& c, const OutboxMessage& msg) {
  if (!c.InTransaction())
    throw DatabaseError("a message is queued only inside the write transaction of the change it tells of");
  if (msg.recipient.empty()) throw DatabaseError("a message needs a recipient");
  const int64_t id = HighestId(c) + 1;
  Table t = Handle(c, "Id");
  t.Open();
  t.Append();
  t["Id"].SetInt(id);
  t["Laji"].SetText(MailKindName(msg.kind));
  SetWhole(t, "Vastaanottaja", msg.recipient);
  SetWhole(t, "Kieli", msg.language);
  SetWhole(t, "Tiedot", msg.facts);
  if (!msg.key.Empty()) {
    SetWhole(t, "Kausi", msg.key.kausi);
    SetWhole(t, "VuoroNo", msg.key.vuoroNo);
    SetWhole(t, "VuoroNoSeq", msg.key.vuoroNoSeq);
    SetWhole(t, "AsNo", msg.key.asNo);
  }
  t["Luotu"].SetDateTime(msg.created);
  t["Yritykset"].SetInt(0);
  t["Seuraava"].SetDateTime(msg.created);
  t["Tila"].SetText(MailStateName(MailState::Queued));
  t.Post();
  t.Close();
  return id;
}

std::optional<OutboxMessage> ClaimNextMessage(Connection& c, std::string_view holder, DateTime dueBy,
                                              DateTime leaseUntil) {
  RequireNoTransaction(c, "claiming a message");
  return InWriteTransaction(c, [&]() -> std::optional<OutboxMessage> {
    Table t = Handle(c, "Tila;Seuraava");
    t.Open();
    for (MailState s : {MailState::Queued, MailState::Sending}) {
      t.SetRange({Txt(MailStateName(s)), Dt(Earliest())}, {Txt(MailStateName(s)), Dt(dueBy)});
      if (t.Eof()) continue;
      const int attempts = static_cast<int>(t.Int("Yritykset"));
      t.Edit();
      t["Tila"].SetText(MailStateName(MailState::Sending));
      t["Haltija"].SetText(holder);
      t["Seuraava"].SetDateTime(leaseUntil);
      t["Yritykset"].SetInt(attempts + 1);
      t.Post();
      OutboxMessage m = Read(t);
      t.Close();
      return m;
    }
    t.Close();
    return std::nullopt;
  });
}

bool FinishMessage(Connection& c, int64_t id, std::string_view holder, const Delivery& d) {
  RequireNoTransaction(c, "recording a delivery");
  return InWriteTransaction(c, [&] {
    Table t = Handle(c, "Id");
    t.Open();
    if (!t.FindKey({Int(id)}) || t.Text("Tila") != MailStateName(MailState::Sending) || t.Text("Haltija") != holder) {
      t.Close();
      return false;
    }
    t.Edit();
    switch (d.outcome) {
      case Delivery::Sent:
        t["Tila"].SetText(MailStateName(MailState::Sent));
        t["Lahetetty"].SetDateTime(d.at);
        break;
      case Delivery::Retry:
        t["Tila"].SetText(MailStateName(MailState::Queued));
        t["Seuraava"].SetDateTime(d.at);
        t["Virhe"].SetText(d.error);
        break;
      case Delivery::Failed:
        t["Tila"].SetText(MailStateName(MailState::Failed));
        t["Virhe"].SetText(d.error);
        break;
    }
    if (d.forgetFacts) t["Tiedot"].SetText("");
    t.Post();
    t.Close();
    return true;
  });
}

std::vector<OutboxMessage> ListMessages(Connection& c) {
  std::vector<OutboxMessage> out;
  Table t = Handle(c, "Id");
  t.Open();
  for (t.First(); !t.Eof(); t.Next()) out.push_back(Read(t));
  t.Close();
  return out;
}

std::optional<OutboxMessage> LatestMessageFor(Connection& c, const ReservationKey& key, MailKind kind,
                                              DateTime since) {
  Table t = Handle(c, "Kausi;VuoroNo;VuoroNoSeq;AsNo;Laji");
  t.Open();
  std::vector<Value> k = KeyValues(key);
  k.push_back(Txt(MailKindName(kind)));
  t.SetRange(k, k);
  std::optional<OutboxMessage> latest;
  for (; !t.Eof(); t.Next()) {
    if (t.Date("Luotu") < since) continue;
    OutboxMessage m = Read(t);
    if (!latest || m.id > latest->id) latest = std::move(m);
  }
  t.Close();
  return latest;
}

int PruneMessages(Connection& c, DateTime before) {
  RequireNoTransaction(c, "pruning the outbox");
  return InWriteTransaction(c, [&] {
    Table t = Handle(c, "Luotu");
    t.Open();
    t.SetRange({Dt(Earliest())}, {Dt(before - 1.0 / kSecondsPerDay)});
    int n = 0;
    while (!t.Eof()) {
      const std::string state = t.Text("Tila");
      if (state == MailStateName(MailState::Sent) || state == MailStateName(MailState::Failed)) {
        t.Delete();
        ++n;
      } else {
        t.Next();
      }
    }
    t.Close();
    return n;
  });
}

}  // namespace wo::store
