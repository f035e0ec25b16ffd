#include "store/open_reservations.h"

#include "store/query.h"

namespace wo::store {

namespace {

constexpr std::string_view kReservations = "VAVARAUS", kSlots = "VaVuoro";

std::string OpenReservationsSql(Connection& c) {
  return "SELECT r.Kausi, r.VuoroNo, r.VuoroNoSeq, r.Jno, v.VuoroAika, v.Kesto, v.ResNo, v.Laji, v.Ohjaaja,"
         " v.VuoroNo FROM VAVARAUS r LEFT JOIN VaVuoro v ON v.Kausi = coalesce(r.Kausi, '') AND v.VuoroNo = r.VuoroNo"
         " AND v.VuoroNoSeq = r.VuoroNoSeq WHERE r.AsNo = ? AND r.Status = ? ORDER BY r." +
         std::string(c.backend().dialect.rowId);
}

std::vector<Stored> OpenReservationsParams(std::string_view asNo) {
  return {Param(kReservations, "AsNo", Txt(std::string(asNo))), Param(kReservations, "Status", Int(0))};
}

}  // namespace

void AnnounceOpenReservations(Connection& c, std::string_view asNo) {
  Announce(c, OpenReservationsSql(c), OpenReservationsParams(asNo));
}

std::vector<OpenReservation> OpenReservations(Connection& c, std::string_view asNo) {
  const std::string sql = OpenReservationsSql(c);
  const std::vector<Stored> params = OpenReservationsParams(asNo);
  std::vector<OpenReservation> out;
  EachRow(c, sql, params, [&](const StoredRow& row) {
    Columns col(row);
    OpenReservation& r = out.emplace_back();
    r.kausi = col.Text(kReservations, "Kausi");
    r.vuoroNo = col.Text(kReservations, "VuoroNo");
    r.vuoroNoSeq = col.Text(kReservations, "VuoroNoSeq");
    r.jno = col.Int(kReservations, "Jno");
    r.start = col.Date(kSlots, "VuoroAika");
    r.length = col.Date(kSlots, "Kesto");
    r.resNo = col.Text(kSlots, "ResNo");
    r.laji = col.Text(kSlots, "Laji");
    r.ohjaaja = col.Text(kSlots, "Ohjaaja");
    r.slotFound = !col.IsNull();
  });
  return out;
}

}  // namespace wo::store
