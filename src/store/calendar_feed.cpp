#include "store/calendar_feed.h"

#include <algorithm>

#include "store/query.h"

namespace wo::store {

namespace {

constexpr std::string_view kTokens = "WEBKALENTERI";
constexpr std::string_view kCancelled = "WEBPERUTTU";

void RequireTransaction(Connection& c, const char* what) {
  if (!c.InTransaction()) throw DatabaseError(std::string(what) + " only inside a write transaction");
}

// The slot columns every feed query selects, in this order, after its own.
constexpr const char* kSlotColumns =
    "s.VuoroAika, s.Kesto, n.ResNimi, s.Laji, l.Lyhenne, l.Selite, o.Lyhenne, o.Nimi";
constexpr const char* kSlotJoins =
    " LEFT JOIN VARESNIMI n ON n.ResNo = s.ResNo"
    " LEFT JOIN VALAJI l ON l.Koodi = s.Laji"
    " LEFT JOIN VAOHJAAJA o ON o.Koodi = s.Ohjaaja";

void ReadSlot(Columns& col, FeedEntry& e) {
  e.start = col.Date("VaVuoro", "VuoroAika");
  e.end = e.start + col.Date("VaVuoro", "Kesto");
  e.resource = col.Text("VARESNIMI", "ResNimi");
  e.kindCode = col.Text("VaVuoro", "Laji");
  e.kindShort = col.Text("VALAJI", "Lyhenne");
  e.kindName = col.Text("VALAJI", "Selite");
  e.instructorShort = col.Text("VAOHJAAJA", "Lyhenne");
  e.instructorName = col.Text("VAOHJAAJA", "Nimi");
}

void ReadKey(Columns& col, FeedEntry& e) {
  e.key.kausi = col.Text("VAVARAUS", "Kausi");
  e.key.vuoroNo = col.Text("VAVARAUS", "VuoroNo");
  e.key.vuoroNoSeq = col.Text("VAVARAUS", "VuoroNoSeq");
  e.key.asNo = col.Text("VAVARAUS", "AsNo");
  e.jno = col.Int("VAVARAUS", "Jno");
}

bool ByStart(const FeedEntry& a, const FeedEntry& b) {
  if (a.start != b.start) return a.start < b.start;
  return a.cancelled < b.cancelled;
}

}  // namespace

void SetFeedToken(Connection& c, std::string_view tunnus, std::string_view hash, DateTime now) {
  RequireTransaction(c, "a feed token is set");
  Table t(c, TableNamed(kTokens), "", "Tunnus");
  t.Open();
  if (t.FindKey({Txt(std::string(tunnus))})) {
    t.Edit();
  } else {
    t.Append();
    t["Tunnus"].SetText(tunnus);
  }
  t["Tiiviste"].SetText(hash);
  t["Luotu"].SetDateTime(now);
  t.Post();
  t.Close();
}

bool DropFeedToken(Connection& c, std::string_view tunnus) {
  RequireTransaction(c, "a feed token is dropped");
  Table t(c, TableNamed(kTokens), "", "Tunnus");
  t.Open();
  const bool found = t.FindKey({Txt(std::string(tunnus))});
  if (found) t.Delete();
  t.Close();
  return found;
}

bool HasFeedToken(Connection& c, std::string_view tunnus) {
  Table t(c, TableNamed(kTokens), "", "Tunnus");
  t.Open();
  const bool found = t.FindKey({Txt(std::string(tunnus))});
  t.Close();
  return found;
}

void RecordCancellation(Connection& c, const ReservationKey& key, int64_t jno, DateTime at, DateTime forgetBefore) {
  RequireTransaction(c, "a cancellation is recorded");
  Table t(c, TableNamed(kCancelled), "", "Peruttu");
  t.Open();
  t.SetRange({Dt(EncodeDate(1, 1, 1))}, {Dt(forgetBefore - 1.0 / kSecondsPerDay)});
  while (!t.Eof()) t.Delete();
  t.CancelRange();
  t.Append();
  t["Kausi"].SetText(key.kausi);
  t["VuoroNo"].SetText(key.vuoroNo);
  t["VuoroNoSeq"].SetText(key.vuoroNoSeq);
  t["AsNo"].SetText(key.asNo);
  t["Jno"].SetInt(jno);
  t["Peruttu"].SetDateTime(at);
  t.Post();
  t.Close();
}

std::optional<std::vector<FeedEntry>> ReadOwnFeed(Connection& c, std::string_view hash, DateTime from, DateTime to,
                                                 DateTime cancelledSince) {
  // The token's user, then (left-joined, so that a user without any still
  // gives a row) each reservation and recorded cancellation of the user
  // with its slot in the span. A cancellation whose reservation was made
  // again is the same event, shown by the reservation.
  const std::string sql = std::string("SELECT r.Tunnus, x.Kausi, x.VuoroNo, x.VuoroNoSeq, x.AsNo, x.Jno, x.Muutos, ") +
                          "x.Peruttu, " + kSlotColumns +
                          " FROM WEBKALENTERI k JOIN WEBREG r ON r.Tunnus = k.Tunnus"
                          " LEFT JOIN ("
                          "(SELECT v.Kausi, v.VuoroNo, v.VuoroNoSeq, v.AsNo, v.Jno, v.Varausaika AS Muutos,"
                          " 0 AS Peruttu FROM VAVARAUS v"
                          " UNION ALL"
                          " SELECT p.Kausi, p.VuoroNo, p.VuoroNoSeq, p.AsNo, p.Jno, p.Peruttu AS Muutos,"
                          " 1 AS Peruttu FROM WEBPERUTTU p WHERE p.Peruttu >= ? AND NOT EXISTS"
                          " (SELECT 1 FROM VAVARAUS w WHERE w.Kausi = p.Kausi AND w.VuoroNo = p.VuoroNo"
                          " AND w.VuoroNoSeq = p.VuoroNoSeq AND w.AsNo = p.AsNo)) x"
                          " JOIN VaVuoro s ON s.Kausi = x.Kausi AND s.VuoroNo = x.VuoroNo"
                          " AND s.VuoroNoSeq = x.VuoroNoSeq AND s.VuoroAika >= ? AND s.VuoroAika <= ?" +
                          kSlotJoins +
                          ") ON x.AsNo = r.AsNo AND r.AsNo <> ''"
                          " WHERE k.Tiiviste = ? AND (r.Status IS NULL OR r.Status <> 4)";
  const std::vector<Stored> params = {Param(kCancelled, "Peruttu", Dt(cancelledSince)),
                                      Param("VaVuoro", "VuoroAika", Dt(from)), Param("VaVuoro", "VuoroAika", Dt(to)),
                                      Param(kTokens, "Tiiviste", Txt(std::string(hash)))};
  std::optional<std::vector<FeedEntry>> out;
  EachRow(c, sql, params, [&](const StoredRow& r) {
    if (!out) out.emplace();
    Columns col(r);
    col.Skip();  // the user
    if (col.IsNull()) return;  // no reservation in the span
    FeedEntry e;
    ReadKey(col, e);
    e.changed = col.Date("VAVARAUS", "Varausaika");
    e.cancelled = col.Int("VAVARAUS", "Status") != 0;
    ReadSlot(col, e);
    out->push_back(std::move(e));
  });
  if (out) std::sort(out->begin(), out->end(), ByStart);
  return out;
}

std::optional<FeedEntry> ReadOwnReservation(Connection& c, std::string_view asNo, std::string_view kausi,
                                            std::string_view vuoroNo, std::string_view vuoroNoSeq) {
  const std::string sql = std::string("SELECT v.Kausi, v.VuoroNo, v.VuoroNoSeq, v.AsNo, v.Jno, v.Varausaika, ") +
                          kSlotColumns +
                          " FROM VAVARAUS v JOIN VaVuoro s ON s.Kausi = v.Kausi AND s.VuoroNo = v.VuoroNo"
                          " AND s.VuoroNoSeq = v.VuoroNoSeq" +
                          kSlotJoins +
                          " WHERE v.Kausi = ? AND v.VuoroNo = ? AND v.VuoroNoSeq = ? AND v.AsNo = ?"
                          " ORDER BY v.Jno";
  const std::vector<Stored> params = {
      Param("VAVARAUS", "Kausi", Txt(std::string(kausi))), Param("VAVARAUS", "VuoroNo", Txt(std::string(vuoroNo))),
      Param("VAVARAUS", "VuoroNoSeq", Txt(std::string(vuoroNoSeq))), Param("VAVARAUS", "AsNo", Txt(std::string(asNo)))};
  std::optional<FeedEntry> out;
  EachRow(c, sql, params, [&](const StoredRow& r) {
    if (out) return;
    Columns col(r);
    FeedEntry e;
    ReadKey(col, e);
    e.changed = col.Date("VAVARAUS", "Varausaika");
    ReadSlot(col, e);
    out = std::move(e);
  });
  return out;
}

std::optional<FreeFeed> ReadFreeFeed(Connection& c, std::string_view resNo, DateTime from, DateTime to) {
  const std::string sql =
      std::string("SELECT s.Kausi, s.VuoroNo, s.VuoroNoSeq, s.Maara,"
                  " (SELECT COUNT(*) FROM VAVARAUS v WHERE v.Kausi = s.Kausi AND v.VuoroNo = s.VuoroNo"
                  " AND v.VuoroNoSeq = s.VuoroNoSeq),"
                  " (SELECT MAX(v.Varausaika) FROM VAVARAUS v WHERE v.Kausi = s.Kausi AND v.VuoroNo = s.VuoroNo"
                  " AND v.VuoroNoSeq = s.VuoroNoSeq), ") +
      kSlotColumns +
      " FROM VARESNIMI n LEFT JOIN VaVuoro s ON s.ResNo = n.ResNo AND s.VuoroAika > ? AND s.VuoroAika <= ?"
      " LEFT JOIN VALAJI l ON l.Koodi = s.Laji LEFT JOIN VAOHJAAJA o ON o.Koodi = s.Ohjaaja"
      " WHERE n.ResNo = ? AND n.ResWebNayta = 1";
  const std::vector<Stored> params = {Param("VaVuoro", "VuoroAika", Dt(from)), Param("VaVuoro", "VuoroAika", Dt(to)),
                                      Param("VARESNIMI", "ResNo", Txt(std::string(resNo)))};
  std::optional<FreeFeed> out;
  EachRow(c, sql, params, [&](const StoredRow& r) {
    if (!out) out.emplace();
    Columns col(r);
    const bool noSlot = col.IsNull();  // the resource without a slot in the span
    FreeSlot f;
    f.slot.key.kausi = col.Text("VaVuoro", "Kausi");
    f.slot.key.vuoroNo = col.Text("VaVuoro", "VuoroNo");
    f.slot.key.vuoroNoSeq = col.Text("VaVuoro", "VuoroNoSeq");
    f.places = static_cast<int>(col.Int("VaVuoro", "Maara"));
    f.taken = static_cast<int>(col.Int("VAVARAUS", "Jno"));  // the count, an integer like Jno
    f.slot.changed = col.Date("VAVARAUS", "Varausaika");
    ReadSlot(col, f.slot);
    out->resource = f.slot.resource;
    if (!noSlot && f.places - f.taken > 0) out->slots.push_back(std::move(f));
  });
  if (out)
    std::sort(out->slots.begin(), out->slots.end(),
              [](const FreeSlot& a, const FreeSlot& b) { return ByStart(a.slot, b.slot); });
  return out;
}

}  // namespace wo::store
