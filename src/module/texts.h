// The program's own visible texts: each has a fixed key and a Finnish
// default. Pages in Finnish show the default; other languages look the key up
// in KAANNOS (RequestContext::TranslatedText), which is seeded with the
// default the first time a key is asked for in a language. Every caller and
// the site's translation files use these keys; C08 and C09 do not exist.
// The codes of the error page stand at the end, each beside its texts.
#pragma once

#include <string_view>

namespace wo {

struct TextDef {
  std::string_view key;  // LGAvain
  std::string_view fin;  // the built-in Finnish default, Windows-1252
};

namespace texts {

// PGMENU, visitor: login link
inline constexpr TextDef C01{"C01", "Kirjaudu sis\xe4\xe4n"};
// PGMENU, visitor: registration link
inline constexpr TextDef C02{"C02", "Rekister\xf6idy k\xe4ytt\xe4j\xe4ksi"};
// PGMENU, logged in: own reservations
inline constexpr TextDef C03{"C03", "Omat varaukset"};
// PGMENU, logged in: new reservation
inline constexpr TextDef C04{"C04", "Uusi varaus"};
// PGMENU, logged in: own details
inline constexpr TextDef C05{"C05", "Omat tiedot"};
// PGMENU, logged in: change password
inline constexpr TextDef C05a{"C05a", "Vaihda salasana"};
// PGMENU, logged in: log out
inline constexpr TextDef C06{"C06", "Kirjaudu ulos"};
// KOTISIVU: home page link
inline constexpr TextDef C07{"C07", "Kotisivut"};
// YRSAANTO: first part of the rules link
inline constexpr TextDef C10{"C10", "Ennen rekister\xf6itymist\xe4: "};
// YRSAANTO: second part of the rules link
inline constexpr TextDef C11{"C11", "Lue t\xe4st\xe4 Internet-varausj\xe4rjestelm\xe4n k\xe4ytt\xf6\xe4 koskevat s\xe4\xe4nn\xf6t."};
// POISENNENPV: before the number of hours
inline constexpr TextDef C12{"C12", "Varauksen poistaminen on teht\xe4v\xe4 viimeist\xe4\xe4n "};
// POISENNENPV: after the number of hours
inline constexpr TextDef C13{"C13", " tuntia ennen varattua tuntia."};
// ENNAKKOVARAUS: before the fee
inline constexpr TextDef C14{"C14", "Ennakkovaraus maksaa "};
// ENNAKKOVARAUSPOIS: before the number of hours
inline constexpr TextDef C15{"C15", "Ennakkovarausmaksu palautetaan saldoon, jos poistaminen tapahtuu viimeist\xe4\xe4n "};
// ENNAKKOVARAUSPOIS: after the number of hours
inline constexpr TextDef C16{"C16", " tuntia ennen varattua tuntia."};
// ENNAKKOILMOITUS: before the fee
inline constexpr TextDef C17{"C17", "Jokainen varauksen tekeminen maksaa "};
// ENNAKKOILMOITUS: after the fee
inline constexpr TextDef C18{"C18", " euroa, joka v\xe4hennet\xe4\xe4n saldostasi heti kun teet varauksen."};
// ERROR, code 0
inline constexpr TextDef C19{"C19", "Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!"};
// ERROR, code 1
inline constexpr TextDef C20{"C20", "Varaus on jo olemassa t\xe4lle vuorolle!"};
// ERROR, code 2, before the number
inline constexpr TextDef C21{"C21", "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain "};
// ERROR, code 2, after the number
inline constexpr TextDef C21a{"C21a", " kpl!"};
// ERROR, code 3
inline constexpr TextDef C22{"C22", "Pakollisia tietoja puuttuu (sukunimi, etunimi, puh.numero...)!"};
// ERROR, code 4, before the digit 4
inline constexpr TextDef C23{"C23", "Tunnus tai salasana on virheellinen ("};
// ERROR, code 4, after the digit 4
inline constexpr TextDef C24{"C24", "-14 merkki\xe4)!"};
// ERROR, code 5
inline constexpr TextDef C25{"C25", "Varausta ei l\xf6ydy!"};
// ERROR, code 6, before the number
inline constexpr TextDef C26{"C26", "Varauksia voi tehd\xe4 vain "};
// ERROR, code 6, after the number
inline constexpr TextDef C27{"C27", " p\xe4iv\xe4\xe4 eteenp\xe4in!"};
// ERROR, code 7, before the number
inline constexpr TextDef C28{"C28", "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 vanhoja varauksia voi olla vain "};
// ERROR, code 7, after the number
inline constexpr TextDef C28a{"C28a", " kpl!"};
// ERROR, code 8
inline constexpr TextDef C29{"C29", "Saldon luottoraja ylitetty!"};
// RGPASSWORD: label of the password input
inline constexpr TextDef C30{"C30", "Salasana"};
// RGMODETXT when updating
inline constexpr TextDef C31{"C31", "P\xe4ivitys"};
// RGMODETXT otherwise
inline constexpr TextDef C32{"C32", "Rekister\xf6ityminen"};
// RGNAPPI01, logged in: save button
inline constexpr TextDef C33{"C33", "Talleta muutokset"};
// RGNAPPI01, visitor: accept button
inline constexpr TextDef C34{"C34", "Hyv\xe4ksyn s\xe4\xe4nn\xf6t ja haluan rekister\xf6ity\xe4"};
// RGNAPPI01, visitor: refuse button
inline constexpr TextDef C35{"C35", "En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4"};
// SELECTKOODI: the preselected empty choice
inline constexpr TextDef C36{"C36", "Ei valintaa"};
// SELECTKOODI: row label
inline constexpr TextDef C37{"C37", "Valitse"};
// slot rows of one resource: text of the reservation link
inline constexpr TextDef C38{"C38", "Varaa"};
// list-form header: slot column
inline constexpr TextDef C39{"C39", "Vuoro"};
// list-form header: resource column
inline constexpr TextDef C40{"C40", "Resurssi"};
// list-form header: activity column
inline constexpr TextDef C41{"C41", "Laji"};
// list-form header: instructor column, when NaytaOhjaaja is set
inline constexpr TextDef C41a{"C41a", "Ohjaaja"};
// list-form header: action column
inline constexpr TextDef C42{"C42", "Toiminto"};
// own-reservations list: date row label
inline constexpr TextDef C43{"C43", "P\xe4iv\xe4ys"};
// own-reservations list: user row label
inline constexpr TextDef C44{"C44", "K\xe4ytt\xe4j\xe4"};
// own-reservations list: balance row label
inline constexpr TextDef C45{"C45", "Saldo"};
// own-reservations list header: slot column
inline constexpr TextDef C46{"C46", "Vuoro"};
// own-reservations list header: resource column
inline constexpr TextDef C47{"C47", "Resurssi"};
// own-reservations list header: activity column
inline constexpr TextDef C48{"C48", "Laji"};
// own-reservations list header: instructor column
inline constexpr TextDef C48a{"C48a", "Ohjaaja"};
// own-reservations list header: action column
inline constexpr TextDef C49{"C49", "Toiminto"};
// own-reservations list: text of the cancel link
inline constexpr TextDef C50{"C50", "Poista varaus"};
// own-reservations list: text of the action cell in one of the two cases in which a row has no cancel link
inline constexpr TextDef C51{"C51", "Perumaton"};
// ERROR, code 9
inline constexpr TextDef C52{"C52", "Vuoroa ei voi en\xe4\xe4 varata!"};
// ERROR, code 10
inline constexpr TextDef C53{"C53", "Varausta ei voi en\xe4\xe4 poistaa!"};
// The waiting lists of full slots ([Features] WaitingList).
// ERROR: joining the line of a slot that has places left
inline constexpr TextDef C90{"C90", "Vuorossa on viel\xe4 vapaita paikkoja: varaa paikka suoraan."};
// ERROR: joining the line of a slot the user has booked
inline constexpr TextDef C91{"C91", "Sinulla on jo varaus t\xe4h\xe4n vuoroon."};
// ERROR: joining a line the user is in already
inline constexpr TextDef C92{"C92", "Olet jo t\xe4m\xe4n vuoron jonossa."};
// ERROR: reservations and places in line over MaxAsVaraus; the number follows
inline constexpr TextDef C93{"C93", "Varauksia ja jonopaikkoja voi olla yhteens\xe4 enint\xe4\xe4n"};
// ERROR: leaving a line the user is not in
inline constexpr TextDef C94{"C94", "Et ole t\xe4m\xe4n vuoron jonossa."};
// The link that joins a full slot's line
inline constexpr TextDef C95{"C95", "Liity jonoon"};
// A place in line; its number follows
inline constexpr TextDef C96{"C96", "Jonossa, sija"};
// The link that leaves the line
inline constexpr TextDef C97{"C97", "Poistu jonosta"};
// A place offered to the user; the time it is held until follows
inline constexpr TextDef C98{"C98", "Vapautunut paikka on tarjolla sinulle asti"};
// The link that books the offered place
inline constexpr TextDef C99{"C99", "Varaa paikka"};

// Calendar feeds: the alarm at the cancellation deadline
inline constexpr TextDef C100{"C100", "Viimeinen peruutushetki"};
// Calendar feeds: after the number of free places ("Spinning - 3 vapaana")
inline constexpr TextDef C101{"C101", "vapaana"};
// Booked page and own reservations: the one-event calendar file
inline constexpr TextDef C102{"C102", "Lis\xe4\xe4 kalenteriin"};
// KALENTERI: heading of the feed's section on the own details page
inline constexpr TextDef C103{"C103", "Varaukset omaan kalenteriin"};
// KALENTERI: turns the feed on
inline constexpr TextDef C104{"C104", "Ota kalenterisy\xf6te k\xe4ytt\xf6\xf6n"};
// KALENTERI: makes a new address, ending the old one
inline constexpr TextDef C105{"C105", "Uusi osoite"};
// KALENTERI: turns the feed off
inline constexpr TextDef C106{"C106", "Poista k\xe4yt\xf6st\xe4"};
// KALENTERI: before the new address, shown once
inline constexpr TextDef C107{"C107", "Tilaa t\xe4m\xe4 osoite kalenteriisi. Osoite n\xe4ytet\xe4\xe4n vain nyt:"};
// KALENTERI: the feed is on
inline constexpr TextDef C108{"C108", "Kalenterisy\xf6te on k\xe4yt\xf6ss\xe4. Uusi osoite lopettaa vanhan heti."};
// KALENTERI: the feed is off
inline constexpr TextDef C109{"C109", "Varauksesi voivat n\xe4ky\xe4 puhelimesi kalenterissa omalla, salaisella osoitteella."};

// The password reset by e-mail ([Features] Mail).
// UNOHTUILINKKI: the login page's link to the reset form
inline constexpr TextDef C80{"C80", "Unohtuiko salasana?"};
// PALAUTUSVIESTI after a reset request, whatever became of it
inline constexpr TextDef C81{"C81", "Jos tunnuksella on s\xe4hk\xf6postiosoite, l\xe4hetimme siihen linkin uuden salasanan valintaan. Linkki on voimassa tunnin."};
// PALAUTUSVIESTI: a reset link that is unknown, used or expired
inline constexpr TextDef C82{"C82", "Linkki on vanhentunut, jo k\xe4ytetty tai virheellinen. Pyyd\xe4 alta uusi linkki."};
// PALAUTUSVIESTI: a new password against the rules
inline constexpr TextDef C83{"C83", "Salasanassa on oltava 4-14 merkki\xe4, eik\xe4 se saa olla sama kuin k\xe4ytt\xe4j\xe4tunnus."};
// PALAUTUSVIESTI: the new password and its repetition differ
inline constexpr TextDef C84{"C84", "Salasanat eiv\xe4t ole samat."};

// The keys below are the texts of the features of INI [Features]. Those
// shown before or after a number or a date do not end or begin with a
// space: the program joins them with one.

// SlotStates: after the number of free places of a slot
inline constexpr TextDef C54{"C54", "vapaana"};
// SlotStates: a slot without free places
inline constexpr TextDef C55{"C55", "T\xe4ynn\xe4"};
// SlotStates: a slot in which the user holds a place
inline constexpr TextDef C56{"C56", "Oma varaus"};
// SlotStates: before the date from which a slot beyond the horizon can be booked
inline constexpr TextDef C57{"C57", "Varattavissa alkaen"};
// PageLanguage: the names of the days of the week, Sunday first
inline constexpr TextDef C58{"C58", "Sunnuntai"};
inline constexpr TextDef C59{"C59", "Maanantai"};
inline constexpr TextDef C60{"C60", "Tiistai"};
inline constexpr TextDef C61{"C61", "Keskiviikko"};
inline constexpr TextDef C62{"C62", "Torstai"};
inline constexpr TextDef C63{"C63", "Perjantai"};
inline constexpr TextDef C64{"C64", "Lauantai"};
// PageLanguage: the day list's mark of a reduced-price slot
inline constexpr TextDef C65{"C65", "Ale"};
// OwnListDetails: before the time until which a reservation can be cancelled
inline constexpr TextDef C66{"C66", "Peruttavissa viimeist\xe4\xe4n"};
// OwnListDetails: a reservation past its cancellation deadline that has not begun
inline constexpr TextDef C67{"C67", "Ei en\xe4\xe4 peruttavissa"};
// OwnListDetails, limits: open reservations, of MaxAsVaraus
inline constexpr TextDef C68{"C68", "Avoimet varaukset"};
// OwnListDetails, limits: unused past reservations, of MaxVanhatVaraukset
inline constexpr TextDef C69{"C69", "K\xe4ytt\xe4m\xe4tt\xf6m\xe4t menneet varaukset"};
// OwnListDetails, limits: the end of the booking horizon
inline constexpr TextDef C70{"C70", "Varattavissa asti"};
// OwnListDetails, limits: the lowest balance allowed
inline constexpr TextDef C71{"C71", "Luottoraja"};
// OwnListDetails, confirmation: the balance once the fee is taken
inline constexpr TextDef C72{"C72", "Saldo varauksen j\xe4lkeen"};
// ClearMessages: a login with an unknown user name or a wrong password
inline constexpr TextDef C73{"C73", "K\xe4ytt\xe4j\xe4tunnus tai salasana on v\xe4\xe4r\xe4. Tarkista ne ja yrit\xe4 uudelleen."};
// ClearMessages: a login refused for too many failures or a closed account
inline constexpr TextDef C74{"C74", "Kirjautuminen ei nyt onnistu t\xe4ll\xe4 tunnuksella. Yrit\xe4 my\xf6hemmin uudelleen tai ota yhteytt\xe4 asiakaspalveluun."};
// ClearMessages: a registration whose user name another user has
inline constexpr TextDef C75{"C75", "K\xe4ytt\xe4j\xe4tunnus on jo k\xe4yt\xf6ss\xe4. Valitse toinen tunnus, tai kirjaudu sis\xe4\xe4n, jos tunnus on sinun."};
// ClearMessages: before the list of the required details left empty
inline constexpr TextDef C76{"C76", "T\xe4yt\xe4 pakolliset tiedot:"};
// ClearMessages: the required details, as the list names them
inline constexpr TextDef C77{"C77", "sukunimi"};
inline constexpr TextDef C78{"C78", "etunimi"};
inline constexpr TextDef C79{"C79", "puhelinnumero"};

// Every key, in key order.
inline constexpr TextDef kAll[] = {
    C01, C02, C03, C04, C05, C05a,
    C06, C07, C10, C11, C12, C13,
    C14, C15, C16, C17, C18, C19,
    C20, C21, C21a, C22, C23, C24,
    C25, C26, C27, C28, C28a, C29,
    C30, C31, C32, C33, C34, C35,
    C36, C37, C38, C39, C40, C41,
    C41a, C42, C43, C44, C45, C46,
    C47, C48, C48a, C49, C50, C51,
    C52, C53, C54, C55, C56, C57,
    C58, C59, C60, C61, C62, C63,
    C64, C65, C66, C67, C68, C69,
    C70, C71, C72, C73, C74, C75,
    C76, C77, C78, C79,
    C80, C81, C82, C83, C84,
    C90, C91, C92, C93, C94, C95,
    C96, C97, C98, C99,
    C100, C101, C102, C103, C104, C105,
    C106, C107, C108, C109,
};

}  // namespace texts

// The error page's codes (PageState::ErrorCode), as the ERROR tag shows them.
// A code outside these shows nothing.
enum class PageError : int {
  Search = 0,           // C19
  Duplicate = 1,        // C20
  TooManyOpen = 2,      // C21, WEBPARAM.MaxAsVaraus, C21a
  DetailsMissing = 3,   // C22
  BadLogin = 4,         // C23, "4", C24
  NotFound = 5,         // C25
  BeyondHorizon = 6,    // C26, WEBPARAM.MaxVarausPv, C27
  TooManyPast = 7,      // C28, WEBPARAM.MaxVanhatVaraukset, C28a
  CreditLimit = 8,      // C29
  SlotClosed = 9,        // C52: full or already started
  TooLateToCancel = 10,  // C53: past the cancellation deadline
  // Under INI [Features] ClearMessages:
  WrongLogin = 11,     // C73: unknown user name or wrong password
  LoginRefused = 12,   // C74: login throttled, or a blocked user
  NameTaken = 13,      // C75: a new user's name that another user has
  FieldsMissing = 14,  // C76 and the list of PageState::ErrorDetail
  // Under INI [Features] WaitingList:
  QueueNotFull = 15,   // C90: the slot has places left
  QueueBooked = 16,    // C91: the user holds a reservation of the slot
  QueueJoined = 17,    // C92: the user is in the slot's line already
  QueueTooMany = 18,   // C93, WEBPARAM.MaxAsVaraus, "."
  QueueNotIn = 19,     // C94: leaving a line the user is not in
};
}  // namespace wo
