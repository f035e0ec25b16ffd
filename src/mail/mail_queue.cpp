#include "mail/mail_queue.h"

#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "base/format.h"
#include "base/text.h"
#include "store/schema.h"

namespace wo::mail {

namespace {

using store::Table;
using store::Txt;

constexpr int kBlockedStatus = 4;  // WEBREG.Status of a blocked user

Table Handle(store::Connection& c, const char* table, const char* index) {
  return Table(c, store::TableNamed(table), "", index);
}

// The site's settings that a reservation's mail tells of (WEBPARAM "01";
// a null field or a missing row reads as 0, as the pages take them).
struct SiteRules {
  bool feeInUse = false;
  double fee = 0;
  int cancelHours = 0;
  int showInstructor = 0;  // NaytaOhjaaja
};

SiteRules ReadRules(store::Connection& c) {
  SiteRules r;
  Table t = Handle(c, "WEBPARAM", "Numero");
  t.Open();
  if (t.FindKey({Txt("01")})) {
    r.feeInUse = t.Int("VarMaksuKaytossa") == 1;
    r.fee = RoundCents(t.Float("Varausmaksu"));
    r.cancelHours = static_cast<int>(t.Int("PoistaEnnenPv"));
    r.showInstructor = static_cast<int>(t.Int("NaytaOhjaaja"));
  }
  return r;
}

// The value of `field` in the row of `table` whose one-field key is `key`;
// "" when there is none.
std::string Lookup(store::Connection& c, const char* table, const char* index, const std::string& key,
                   const char* field) {
  if (Trim(key).empty()) return {};
  Table t = Handle(c, table, index);
  t.Open();
  return t.FindKey({Txt(key)}) ? Trim(t.Text(field)) : std::string();
}

std::string Amount(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.2f", RoundCents(v));
  return buf;
}

void AddUser(Facts& f, const Recipient& to) {
  f[fact::kUserName] = Trim(to.userName);
  f[fact::kFirstName] = Trim(to.firstName);
  f[fact::kName] = Trim(Trim(to.firstName) + " " + Trim(to.lastName));
}

// The facts of a reservation of `slot` by `to`; nothing when VaVuoro lacks
// the slot.
std::optional<Facts> ReservationFacts(store::Connection& c, const Slot& slot, const Recipient& to, DateTime now) {
  Table vuoro = Handle(c, "VaVuoro", "Kausi;VuoroNo;VuoroNoSeq");
  vuoro.Open();
  if (!vuoro.FindKey({Txt(slot.kausi), Txt(slot.vuoroNo), Txt(slot.vuoroNoSeq)})) return std::nullopt;
  const DateTime start = vuoro.Date("VuoroAika");
  const DateTime end = start + vuoro.Date("Kesto");
  const std::string resNo = vuoro.Text("ResNo"), laji = vuoro.Text("Laji"), ohjaaja = vuoro.Text("Ohjaaja");
  vuoro.Close();
  const SiteRules rules = ReadRules(c);

  Facts f;
  AddUser(f, to);
  std::string resource = resNo.empty() ? std::string() : Trim(resNo), centre;
  {
    Table res = Handle(c, "VARESNIMI", "ResNo");
    res.Open();
    if (!resNo.empty() && res.FindKey({Txt(resNo)})) {
      resource = Trim(res.Text("ResNimi"));
      centre = Lookup(c, "WEBKESKUS", "WebKeskus", res.Text("ResKeskus"), "WebKeskusNimi");
    }
  }
  std::string what = Lookup(c, "VALAJI", "Koodi", laji, "Selite");
  if (what.empty()) what = Lookup(c, "VALAJI", "Koodi", laji, "Lyhenne");
  if (what.empty()) what = Trim(laji);
  f[fact::kWhat] = what.empty() ? resource : what;
  f[fact::kWhere] = centre.empty() || centre == resource ? resource : resource + ", " + centre;
  // The instructor as the pages show one: 1 the short name, 2 the name,
  // 0 none, another value the code.
  if (!Trim(ohjaaja).empty() && rules.showInstructor != 0) {
    std::string shown = Trim(ohjaaja);
    if (rules.showInstructor == 1 || rules.showInstructor == 2) {
      const std::string name =
          Lookup(c, "VAOHJAAJA", "Koodi", ohjaaja, rules.showInstructor == 1 ? "Lyhenne" : "Nimi");
      if (!name.empty()) shown = name;
    }
    f[fact::kInstructor] = shown;
  }
  f[fact::kStart] = ToStoredDateTime(start);
  f[fact::kEnd] = ToStoredDateTime(end);
  const DateTime cancelUntil = start - rules.cancelHours / 24.0;
  if (cancelUntil > now) f[fact::kCancelUntil] = ToStoredDateTime(cancelUntil);
  if (rules.feeInUse) {
    double balance = to.webBalance;
    Table as = Handle(c, "Asiakas", "AsNo");
    as.Open();
    if (as.FindKey({Txt(to.customerNo)})) balance = as.Float("Laskutettu");
    f[fact::kFee] = Amount(rules.fee);
    f[fact::kBalance] = Amount(balance);
  }
  return f;
}

bool MayMail(const SiteIni& ini, const Recipient& to) {
  return ini.Mail && !to.blocked && IsMailAddress(Trim(to.address));
}

int64_t Queue(store::Connection& c, store::MailKind kind, const Recipient& to, std::string_view lang,
              const Facts& facts, const store::ReservationKey& key, DateTime now) {
  store::OutboxMessage m;
  m.kind = kind;
  m.recipient = Trim(to.address);
  m.language = Cut(lang, 15);
  m.facts = EncodeFacts(facts);
  m.key = key;
  m.created = now;
  return store::QueueMessage(c, m);
}

store::ReservationKey KeyOf(const Slot& slot, const Recipient& to) {
  return {slot.kausi, slot.vuoroNo, slot.vuoroNoSeq, to.customerNo};
}

}  // namespace

Recipient RecipientOf(store::Table& reg) {
  Recipient r;
  r.userName = reg.Text("Tunnus");
  r.address = reg.Text("EMail1");
  r.firstName = reg.Text("EtuNimi");
  r.lastName = reg.Text("Sukunimi");
  r.customerNo = reg.Text("AsNo");
  r.webBalance = reg.Float("TmpSaldo");
  r.blocked = reg.Int("Status") == kBlockedStatus;
  return r;
}

bool IsMailAddress(std::string_view a) {
  const size_t at = a.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= a.size() || a.find('@', at + 1) != std::string_view::npos)
    return false;
  for (unsigned char ch : a)
    if (ch <= ' ' || ch == 0x7f || std::string_view("<>()[],;:\\\"").find(static_cast<char>(ch)) != std::string_view::npos)
      return false;
  const std::string_view domain = a.substr(at + 1);
  return domain.front() != '.' && domain.back() != '.';
}

int64_t QueueReservationMail(store::Connection& c, const SiteIni& ini, store::MailKind kind, const Slot& slot,
                             const Recipient& to, std::string_view lang, DateTime now, const Facts& extra) {
  if (!c.InTransaction()) throw store::DatabaseError("a mail is queued only inside the transaction of its change");
  if (!MayMail(ini, to)) return 0;
  std::optional<Facts> facts = ReservationFacts(c, slot, to, now);
  if (!facts) return 0;
  for (const auto& [name, value] : extra) (*facts)[name] = value;
  return Queue(c, kind, to, lang, *facts, KeyOf(slot, to), now);
}

int64_t QueueResetMail(store::Connection& c, const SiteIni& ini, const Recipient& to, std::string_view lang,
                       std::string_view token, int validMinutes, DateTime now) {
  if (!c.InTransaction()) throw store::DatabaseError("a mail is queued only inside the transaction of its change");
  if (!MayMail(ini, to)) return 0;
  Facts f;
  AddUser(f, to);
  f[fact::kToken] = std::string(token);
  f[fact::kValidMinutes] = std::to_string(validMinutes);
  return Queue(c, store::MailKind::Reset, to, lang, f, {}, now);
}

int QueueReminders(store::Connection& c, const SiteIni& ini, DateTime now) {
  if (!ini.Mail || ini.ReminderHours <= 0) return 0;
  const DateTime last = now + ini.ReminderHours / 24.0;

  // The reservations of the window, read without a transaction: each is
  // checked again where it is queued.
  struct Candidate {
    Slot slot;
    std::string asNo;
    DateTime start;
  };
  std::vector<Candidate> candidates;
  {
    std::vector<std::string> resources;
    Table res = Handle(c, "VARESNIMI", "ResNo");
    res.Open();
    for (res.First(); !res.Eof(); res.Next()) resources.push_back(res.Text("ResNo"));
    Table vuoro = Handle(c, "VaVuoro", "ResNo;VuoroAika");
    vuoro.Open();
    Table va = Handle(c, "VAVARAUS", "Kausi;VuoroNo;VuoroNoSeq;Jno");
    va.Open();
    for (const std::string& resNo : resources) {
      vuoro.SetRange({Txt(resNo), store::Dt(now)}, {Txt(resNo), store::Dt(last)});
      for (; !vuoro.Eof(); vuoro.Next()) {
        const DateTime start = vuoro.Date("VuoroAika");
        if (start <= now) continue;  // the range compares whole seconds
        const Slot slot{vuoro.Text("Kausi"), vuoro.Text("VuoroNo"), vuoro.Text("VuoroNoSeq")};
        const std::vector<store::Value> k = {Txt(slot.kausi), Txt(slot.vuoroNo), Txt(slot.vuoroNoSeq)};
        va.SetRange(k, k);
        for (; !va.Eof(); va.Next())
          if (!va.IsNull("Status") && va.Int("Status") == 0 && !Trim(va.Text("AsNo")).empty())
            candidates.push_back({slot, va.Text("AsNo"), start});
      }
    }
  }
  if (candidates.empty()) return 0;

  // The web users with an address, by customer number (WEBREG has no index
  // on it: one walk).
  std::map<std::string, Recipient> users;
  {
    Table reg = Handle(c, "WEBREG", "Tunnus");
    reg.Open();
    for (reg.First(); !reg.Eof(); reg.Next()) {
      Recipient r = RecipientOf(reg);
      if (!r.customerNo.empty() && MayMail(ini, r)) users.emplace(r.customerNo, std::move(r));
    }
  }

  int queued = 0;
  for (const Candidate& cand : candidates) {
    auto user = users.find(cand.asNo);
    if (user == users.end()) continue;
    const store::ReservationKey key = KeyOf(cand.slot, user->second);
    queued += store::InWriteTransaction(c, [&] {
      if (store::LatestMessageFor(c, key, store::MailKind::Reminder, EncodeDate(1, 1, 1))) return 0;
      const std::optional<store::OutboxMessage> confirmation =
          store::LatestMessageFor(c, key, store::MailKind::Confirmation, EncodeDate(1, 1, 1));
      if (confirmation && confirmation->created >= cand.start - ini.ReminderHours / 24.0) return 0;
      // Still held, now that the writers are shut out?
      Table va = Handle(c, "VAVARAUS", "Kausi;VuoroNo;VuoroNoSeq;Jno");
      va.Open();
      bool held = false;
      const std::vector<store::Value> k = {Txt(cand.slot.kausi), Txt(cand.slot.vuoroNo), Txt(cand.slot.vuoroNoSeq)};
      va.SetRange(k, k);
      for (; !held && !va.Eof(); va.Next())
        held = va.Text("AsNo") == cand.asNo && !va.IsNull("Status") && va.Int("Status") == 0;
      if (!held) return 0;
      std::optional<Facts> facts = ReservationFacts(c, cand.slot, user->second, now);
      if (!facts) return 0;
      const std::string lang = confirmation ? confirmation->language : std::string("Fin");
      return Queue(c, store::MailKind::Reminder, user->second, lang, *facts, key, now) > 0 ? 1 : 0;
    });
  }
  return queued;
}

}  // namespace wo::mail
