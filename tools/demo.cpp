// `weborvane-admin demo`: loads a demonstration centre into an initialised,
// empty database, so that a new site can be tried out at once. Two centres
// with seven resources (one hidden from the web), activity kinds,
// instructors, web codes for one tennis court, slots over the coming five
// weeks counted from today (ordinary, fixed-time "S" and reduced-price "A"
// slots, some of them full or nearly full), the site settings row "01", the
// customer number counter and one web user.
//
// Everything is written in one transaction: either the whole centre is
// there afterwards or nothing is.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "admin.h"
#include "module/password_cipher.h"
#include "base/datetime.h"
#include "base/format.h"
#include "base/text.h"
#include "store/schema.h"
#include "store/table.h"

namespace wo::admin {

namespace {

using store::Table;
using store::Txt;

// The web user of the demonstration, named in the README.
constexpr const char* kDemoUser = "demo";
constexpr const char* kDemoPassword = "demo1234";
constexpr int kDemoCustomerNumber = 500100;  // also the last number handed out
constexpr int kDays = 35;                    // five weeks from today

// Opens a handle for the life of the object and closes it on every path.
class OpenTable {
 public:
  OpenTable(store::Connection& c, std::string_view table, std::string_view index)
      : t_(c, store::TableNamed(table), "", index) {
    t_.Open();
  }
  ~OpenTable() { t_.Close(); }
  Table& operator*() { return t_; }
  Table* operator->() { return &t_; }

 private:
  Table t_;
};

// Appends one row field by field; Post() writes it.
class NewRow {
 public:
  explicit NewRow(Table& t) : t_(t) { t_.Append(); }
  NewRow& Text(std::string_view f, std::string_view v) { t_[f].SetText(v); return *this; }
  NewRow& Int(std::string_view f, int64_t v) { t_[f].SetInt(v); return *this; }
  NewRow& Float(std::string_view f, double v) { t_[f].SetFloat(v); return *this; }
  NewRow& Date(std::string_view f, DateTime v) { t_[f].SetDateTime(v); return *this; }
  NewRow& Bool(std::string_view f, bool v) { t_[f].SetBool(v); return *this; }
  void Post() { t_.Post(); }

 private:
  Table& t_;
};

std::string Key5(int n) {
  std::string s = std::to_string(n);
  return std::string(s.size() < 5 ? 5 - s.size() : 0, ' ') + s;
}

// Texts are Windows-1252 bytes; "\xe4" is a-umlaut, "\xf6" o-umlaut.
struct Centre { const char* code; const char* name; };
const Centre kCentres[] = {
    {"RP", "Rantapuiston liikuntakeskus"},
    {"MH", "M\xe4kel\xe4n palloiluhalli"},
};

struct Resource { const char* resNo; const char* name; const char* place; const char* centre; int web; };
const Resource kResources[] = {
    {"101", "Kuntosali", "A1", "RP", 1},
    {"102", "Spinningsali", "A2", "RP", 1},
    {"103", "Ryhm\xe4liikuntasali", "A3", "RP", 1},
    {"104", "Kokoushuone", "A4", "RP", 0},
    {"201", "Tenniskentt\xe4 1", "T1", "MH", 1},
    {"202", "Tenniskentt\xe4 2", "T2", "MH", 1},
    {"203", "Sulkapallokentt\xe4", "S1", "MH", 1},
};

struct Kind { const char* code; const char* abbrev; const char* text; };
const Kind kKinds[] = {
    {"KS", "Kuntosali", "Kuntosaliharjoittelu"},
    {"SPIN", "Spinning", "Spinning-tunti"},
    {"JOOGA", "Jooga", "Joogatunti"},
    {"PILA", "Pilates", "Pilates-tunti"},
    {"KAHVA", "Kahvakuula", "Kahvakuulatreeni"},
    {"TEN", "Tennis", "Tennisvuoro"},
    {"SULKA", "Sulkapallo", "Sulkapallovuoro"},
    {"KOK", "Kokous", "Kokous tai koulutus"},
};

struct Instructor { const char* code; const char* abbrev; const char* name; };
const Instructor kInstructors[] = {
    {"AN", "Anna N.", "Anna Niemi"},
    {"MK", "Mikko K.", "Mikko Korhonen"},
    {"LV", "Laura V.", "Laura Virtanen"},
    {"JL", "Jari L.", "Jari Laine"},
};

struct WebCode { const char* code; const char* text; };
const WebCode kTennisCodes[] = {
    {"MAIL", "Mailojen vuokraus"},
    {"PALL", "Pallojen vuokraus"},
    {"VALM", "Valmentaja paikalle"},
};

// Customers of the centre whose reservations fill the demo slots.
const char* const kCustomerNames[] = {
    "Korhonen Matti", "Nieminen Liisa", "M\xe4kinen Juha", "Virtanen Aino", "H\xe4m\xe4l\xe4inen Pekka",
    "Laine Sari", "Heikkinen Timo", "Koskinen Maria", "J\xe4rvinen Antti", "Lehtonen Kaisa",
    "Lehtinen Mikko", "Saarinen Emilia", "Salminen Ville", "Heinonen Noora", "Niemi Olli",
    "Heikkil\xe4 Johanna", "Kinnunen Sami", "Salonen Elina", "Turunen Jari", "Salo Hanna",
    "Laitinen Petri", "Tuominen Anu", "Rantanen Kari", "Karjalainen Minna",
};
constexpr int kCustomers = sizeof kCustomerNames / sizeof kCustomerNames[0];

std::string CustomerNumber(int i) { return PadLeft15(std::to_string(100001 + i)); }
std::string CustomerPhone(int i) {
  std::string phone = "040 55";
  phone += std::to_string(10000 + i * 379);
  return phone;
}

// One slot to be written.
struct Slot {
  std::string resNo, laji, ohjaaja, tyyppi;
  DateTime start = 0;
  int minutes = 60;
  int places = 1;
  int reserved = 0;  // reservations of other customers
  std::string vuoroNo, seq;
};

// A slot of the weekly timetable: on the given weekdays (1 = Sunday ...
// 7 = Saturday), at hh:mm, for `minutes`.
struct Lesson {
  const char* resNo;
  const char* days;  // digits of the weekdays
  int hour, minute, minutes;
  const char* laji;
  const char* ohjaaja;
  const char* tyyppi;
  int places;
};

const Lesson kTimetable[] = {
    // Spinning: mornings, a reduced-price lunch class, two evening classes.
    {"102", "23456", 6, 30, 45, "SPIN", "AN", "", 16},
    {"102", "246", 12, 0, 45, "SPIN", "MK", "A", 16},
    {"102", "23456", 17, 0, 60, "SPIN", "LV", "", 16},
    {"102", "2345", 18, 15, 60, "SPIN", "AN", "", 16},
    {"102", "7", 10, 0, 60, "SPIN", "MK", "", 16},
    {"102", "1", 11, 0, 60, "SPIN", "LV", "", 16},
    // Group exercise hall.
    {"103", "246", 9, 0, 75, "JOOGA", "LV", "", 20},
    {"103", "35", 10, 0, 60, "PILA", "AN", "A", 20},
    {"103", "246", 17, 30, 45, "KAHVA", "JL", "", 18},
    {"103", "246", 18, 30, 60, "PILA", "AN", "", 20},
    {"103", "35", 19, 0, 75, "JOOGA", "LV", "", 20},
    {"103", "7", 12, 0, 75, "JOOGA", "LV", "", 20},
    // Meeting room, not shown on the web.
    {"104", "3", 14, 0, 120, "KOK", "", "", 12},
};

// A small deterministic generator, so that the same day gives the same centre.
class Dice {
 public:
  explicit Dice(uint32_t seed) : s_(seed ? seed : 1) {}
  int Below(int n) {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return static_cast<int>(s_ % static_cast<uint32_t>(n));
  }

 private:
  uint32_t s_;
};

// How many of `places` other customers have booked: near days are fuller,
// evening classes fuller still, and a few classes are full or nearly so.
int Occupancy(Dice& dice, const Slot& s, int day) {
  int hour = Decode(s.start).hour;
  if (s.places == 1) return dice.Below(100) < (day < 7 ? 45 : 25) ? 1 : 0;  // courts
  int percent = 15 + dice.Below(35);
  if (hour >= 16) percent += 25;
  if (day < 10) percent += 20;
  if (s.resNo == "101") percent /= 3;  // the gym is seldom crowded
  int n = s.places * percent / 100;
  int roll = dice.Below(100);
  if (s.resNo != "101" && day < 14 && roll < 12) n = s.places;          // full
  else if (s.resNo != "101" && day < 21 && roll < 24) n = s.places - 1;  // one place left
  return n < s.places ? n : s.places;
}

// The coming five weeks of slots, in start order per resource.
std::vector<Slot> BuildSlots(DateTime today) {
  std::vector<Slot> slots;
  for (int d = 0; d < kDays; ++d) {
    DateTime day = today + d;
    int wd = DayOfWeek(day);
    bool weekend = wd == 1 || wd == 7;
    auto add = [&](std::string res, int h, int m, int minutes, std::string laji, std::string ohj,
                   std::string tyyppi, int places) {
      Slot& s = slots.emplace_back();
      s.resNo = std::move(res);
      s.start = day + EncodeTime(h, m, 0);
      s.minutes = minutes;
      s.laji = std::move(laji);
      s.ohjaaja = std::move(ohj);
      s.tyyppi = std::move(tyyppi);
      s.places = places;
    };
    // Gym: two-hour blocks, the late-morning ones at a reduced price.
    for (int h = weekend ? 8 : 6; h < (weekend ? 18 : 22); h += 2)
      add("101", h, 0, 120, "KS", "", (!weekend && (h == 10 || h == 12)) ? "A" : "", 20);
    for (const Lesson& l : kTimetable)
      if (std::string_view(l.days).find(static_cast<char>('0' + wd)) != std::string_view::npos)
        add(l.resNo, l.hour, l.minute, l.minutes, l.laji, l.ohjaaja, l.tyyppi, l.places);
    // Tennis courts: fixed hours, one row per hour in the week grid.
    for (const char* court : {"201", "202"})
      for (int h = weekend ? 9 : 7; h < (weekend ? 19 : 22); ++h) add(court, h, 0, 60, "TEN", "", "S", 1);
    // Badminton: ordinary one-hour slots in the afternoon and evening.
    for (int h = weekend ? 10 : 15; h < (weekend ? 17 : 22); ++h) add("203", h, 0, 60, "SULKA", "", "", 1);
  }
  // Slot numbers: one VuoroNo per weekly series (resource, weekday, time),
  // VuoroNoSeq counting its occurrences, as the desktop system keeps them.
  std::map<std::tuple<std::string, int, int>, std::pair<int, int>> series;
  for (Slot& s : slots) {
    DateParts p = Decode(s.start);
    auto key = std::make_tuple(s.resNo, DayOfWeek(s.start), p.hour * 60 + p.minute);
    auto it = series.find(key);
    if (it == series.end()) it = series.emplace(key, std::make_pair(static_cast<int>(series.size()) + 1, 0)).first;
    it->second.second += 1;
    s.vuoroNo = Key5(it->second.first);
    s.seq = Key5(it->second.second);
  }
  return slots;
}

bool AlreadyLoaded(store::Connection& conn) {
  OpenTable param(conn, "WEBPARAM", "Numero");
  if (param->FindKey({Txt("01")})) return true;
  OpenTable res(conn, "VARESNIMI", "ResNo");
  if (!res->IsEmpty()) return true;
  OpenTable reg(conn, "WEBREG", "Tunnus");
  return reg->FindKey({Txt(kDemoUser)});
}

struct Counts { int slots = 0, reservations = 0; };

Counts Load(store::Connection& conn, const PasswordCipher& cipher) {
  const DateTime now = Now();
  const DateTime today = DateOf(now);
  const std::string kausi = std::to_string(Decode(now).year);
  Counts counts;

  {
    OpenTable t(conn, "WEBPARAM", "Numero");
    NewRow(*t)
        .Text("Numero", "01")
        .Text("OsoiteRivi1", "Rantapuistontie 4")
        .Text("OsoiteRivi2", "33100 Tampere")
        .Text("Puhelin", "03 123 4567")
        .Text("EMail", "varaukset@rantapuisto.example")
        .Text("LnkKoti", "/index.html")
        .Text("LnkSaanto", "/saannot.html")
        .Int("MaxAsVaraus", 4)
        .Int("ListanMuoto", 0)
        .Int("PoistaEnnenPv", 2)
        .Int("MaxVarausPv", 30)
        .Int("MaxVanhatPv", 7)
        .Int("MaxVanhatVaraukset", 3)
        .Float("Varausmaksu", 2.0)
        .Float("Luottoraja", -50.0)
        .Int("VarMaksuKaytossa", 1)
        .Text("Logo", "logo.svg")
        .Text("OtsikkoYla", "otsikko.html")
        .Text("OtsikkoAla", "alaosa.html")
        .Int("NaytaOhjaaja", 1)
        .Post();
  }
  {
    OpenTable t(conn, "WEBKESKUS", "WebKeskus");
    for (const Centre& c : kCentres)
      NewRow(*t).Text("WebKeskus", c.code).Text("WebKeskusNimi", c.name).Int("WebNayta", 1).Post();
  }
  {
    OpenTable t(conn, "VARESNIMI", "ResNo");
    int sarja = 1;
    for (const Resource& r : kResources)
      NewRow(*t)
          .Text("ResNo", r.resNo)
          .Text("ResNimi", r.name)
          .Text("ResPaikka", r.place)
          .Int("ResSarja", sarja++)
          .Int("ResWebNayta", r.web)
          .Int("ResNeeded", 0)
          .Text("ResKeskus", r.centre)
          .Post();
  }
  {
    OpenTable t(conn, "VALAJI", "Koodi");
    for (const Kind& k : kKinds) NewRow(*t).Text("Koodi", k.code).Text("Lyhenne", k.abbrev).Text("Selite", k.text).Post();
  }
  {
    OpenTable t(conn, "VAOHJAAJA", "Koodi");
    for (const Instructor& i : kInstructors)
      NewRow(*t).Text("Koodi", i.code).Text("Lyhenne", i.abbrev).Text("Nimi", i.name).Text("Kaytettavissa", "K").Post();
  }
  {
    OpenTable t(conn, "WEBKOODI", "ResNo;WebKoodi");
    int n = 1;
    for (const WebCode& w : kTennisCodes)
      NewRow(*t).Text("ResNo", "201").Text("WebKoodi", w.code).Text("WebSelite", w.text).Int("WebNumero", n++).Post();
  }
  {
    OpenTable t(conn, "Asiakas", "AsNo");
    for (int i = 0; i < kCustomers; ++i)
      NewRow(*t)
          .Text("AsNo", CustomerNumber(i))
          .Text("AsNimi", kCustomerNames[i])
          .Text("PuhNo", CustomerPhone(i))
          .Float("Laskutettu", 0.0)
          .Post();
  }
  {
    OpenTable t(conn, "PARAM", "Avain");
    NewRow(*t).Text("Avain", "WebAsNo").Int("ArvoInt32", kDemoCustomerNumber).Post();
  }
  const std::string demoAsNo = PadLeft15(std::to_string(kDemoCustomerNumber));
  {
    OpenTable t(conn, "WEBREG", "Tunnus");
    NewRow(*t)
        .Text("Tunnus", kDemoUser)
        .Text("PinKoodi", cipher.Encode(kDemoPassword))
        .Text("AsNo", demoAsNo)
        .Text("KorttiLyh", "")
        .Text("Sukunimi", "Esimerkki")
        .Text("EtuNimi", "Eeva")
        .Text("PuhNo", "040 123 4567")
        .Text("KatuOsoite1", "Puistokatu 3 B 12")
        .Text("PostiNo", "33100")
        .Text("PostiToimiPaikka", "Tampere")
        .Text("EMail1", "eeva.esimerkki@example.com")
        .Text("ID", "0")
        .Date("Aika", now)
        .Int("Status", 1)
        .Text("RemoteHost", "127.0.0.1")
        .Text("MatkaPuh", "")
        .Float("TmpSaldo", 20.0)
        .Post();
  }

  std::vector<Slot> slots = BuildSlots(today);
  Dice dice(static_cast<uint32_t>(today));
  for (Slot& s : slots) s.reserved = Occupancy(dice, s, static_cast<int>(s.start - today));
  // The demo user already holds two coming reservations: an evening
  // spinning class in two days and a gym block later in the week.
  std::vector<const Slot*> own;
  for (const char* res : {"102", "101"}) {
    int fromDay = own.empty() ? 2 : 4;
    for (Slot& s : slots)
      if (s.resNo == res && s.start >= today + fromDay && Decode(s.start).hour >= 17) {
        if (s.reserved >= s.places) s.reserved = s.places - 1;
        own.push_back(&s);
        break;
      }
  }

  OpenTable vuoro(conn, "VaVuoro", "Kausi;VuoroNo;VuoroNoSeq");
  OpenTable va(conn, "VAVARAUS", "Kausi;VuoroNo;VuoroNoSeq;Jno");
  auto reserve = [&](const Slot& s, int jno, const std::string& asNo, std::string_view name,
                     std::string_view phone) {
    DateTime when = now - (1 + (jno % 6)) / 2.0;  // booked during the last few days
    NewRow(*va)
        .Text("Kausi", kausi)
        .Text("VuoroNo", s.vuoroNo)
        .Text("VuoroNoSeq", s.seq)
        .Int("Jno", jno)
        .Text("AsNo", asNo)
        .Text("AsNimi", name)
        .Text("KorttiLyh", "")
        .Text("PuhNo", phone)
        .Int("Status", 0)
        .Date("Varausaika", when)
        .Date("AikaLeima", when)
        .Text("Huom", "Web")
        .Post();
    ++counts.reservations;
  };
  for (const Slot& s : slots) {
    NewRow(*vuoro)
        .Text("Kausi", kausi)
        .Text("VuoroNo", s.vuoroNo)
        .Text("VuoroNoSeq", s.seq)
        .Text("ResNo", s.resNo)
        .Date("VuoroAika", s.start)
        .Date("Kesto", EncodeTime(s.minutes / 60, s.minutes % 60, 0))
        .Int("Maara", s.places)
        .Text("Ohjaaja", s.ohjaaja)
        .Text("Laji", s.laji)
        .Text("Tyyppi", s.tyyppi)
        .Post();
    ++counts.slots;
    int first = dice.Below(kCustomers);
    for (int j = 0; j < s.reserved; ++j) {
      int c = (first + j) % kCustomers;
      reserve(s, j + 1, CustomerNumber(c), kCustomerNames[c], CustomerPhone(c));
    }
  }
  for (const Slot* s : own) reserve(*s, s->reserved + 1, demoAsNo, "Esimerkki Eeva", "040 123 4567");
  return counts;
}

}  // namespace

int DemoCommand(store::Connection& conn, const SiteIni& ini) {
  const PasswordCipher cipher(ini.PasswordKey);
  if (AlreadyLoaded(conn)) {
    std::fprintf(stderr,
                 "weborvane-admin: the database already holds a centre (site settings, resources or the "
                 "user \"%s\"); the demonstration centre is loaded only into an empty database\n",
                 kDemoUser);
    return 1;
  }
  Counts c = store::InWriteTransaction(conn, [&] { return Load(conn, cipher); });
  std::printf(
      "Loaded the demonstration centre: 2 centres, %zu resources, %d slots over %d days, %d reservations.\n"
      "Web user: %s, password %s.\n",
      sizeof kResources / sizeof kResources[0], c.slots, kDays, c.reservations, kDemoUser, kDemoPassword);
  return 0;
}

}  // namespace wo::admin
