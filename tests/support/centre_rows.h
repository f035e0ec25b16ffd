// The rows a test centre is made of -- web users, slots and reservations --
// written through the store in their stored forms, one way for every test.
// A New... names what a test cares about; the fields it leaves out keep
// the defaults below, and `more` adds or overrides any other field of the
// row (kNull writes null). Texts are Windows-1252 bytes.
#pragma once

#include <optional>
#include <string>

#include "store/database.h"
#include "support/site.h"

namespace wo::test {

struct NewUser {
  std::string tunnus{};
  std::string pinKoodi = "x";  // the stored form, as it is
  std::string asNo{};
  std::string korttiLyh{};
  std::string sukunimi = "Virtanen";
  std::string id = "0";     // the session's ID as WEBREG keeps it
  std::string aika{};       // stored form; "" leaves it null
  std::string status = "1";
  Row more{};
};

struct NewSlot {
  std::string kausi{};
  std::string vuoroNo{}, seq{};  // as stored: right-aligned in 5
  std::string res{};
  std::string at{};  // VuoroAika, stored form
  std::string kesto = "01:00:00";
  int maara = 5;
  std::string laji{};
  std::optional<std::string> tyyppi{}, ohjaaja{};  // nullopt leaves the field null
};

struct NewReservation {
  std::string kausi{}, vuoroNo{}, seq{};  // the slot, as stored
  int jno = 1;
  std::string asNo{};
  int status = 0;
  Row more{};
};

void AddUser(store::Connection& c, const NewUser& u);
void AddSlot(store::Connection& c, const NewSlot& s);
void AddReservation(store::Connection& c, const NewReservation& r);

}  // namespace wo::test
