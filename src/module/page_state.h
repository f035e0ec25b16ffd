// The state of one page: the site's settings (WEBPARAM row "01"), what the
// action hands to the tags of its page, and the work buffers of the week
// grid. Each text keeps at most the characters of its width below; store
// with Cut(value, width).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "module/texts.h"

namespace wo {

// ---- widths ----

inline constexpr size_t kSessionIdWidth = 50;  // PageState::SessionId
inline constexpr size_t kLangWidth = 15;       // PageState::Lang
inline constexpr size_t kCodeWidth = 5;        // a resource, centre, kind or instructor code; a slot key field
inline constexpr size_t kNameWidth = 35;       // a resource, centre, kind or instructor name
inline constexpr size_t kReservationTextWidth = 80;
inline constexpr size_t kRegModeWidth = 10;
inline constexpr size_t kCompanyNameWidth = 50;
inline constexpr size_t kServerNameWidth = 80;  // INI ServerName and ServerAddress
// Settings.
inline constexpr size_t kAddressLineWidth = 50;
inline constexpr size_t kPhoneWidth = 15;
inline constexpr size_t kSiteMailWidth = 50;
inline constexpr size_t kLinkWidth = 80;
inline constexpr size_t kLogoWidth = 50;
inline constexpr size_t kHeaderFileWidth = 80;

// Site settings: the WEBPARAM row "01" over these start values.
struct Settings {
  std::string OsoiteRivi1, OsoiteRivi2;  // kAddressLineWidth
  std::string Puhelin;                   // kPhoneWidth
  std::string EMail;                     // kSiteMailWidth
  std::string LnkKoti, LnkSaanto;        // kLinkWidth
  int MaxAsVaraus = 4;
  int ListanMuoto = 0;
  int NaytaOhjaaja = 0;
  int PoistaEnnenPv = 0;
  int MaxVarausPv = 30;
  int MaxVanhatPv = 180;
  int MaxVanhatVaraukset = 3;
  int VarMaksuKaytossa = 0;
  double Varausmaksu = 0.0;
  double Luottoraja = 0.0;
  std::string Logo = "logo.jpg";            // kLogoWidth
  std::string OtsikkoYla = "otsikko.html";  // kHeaderFileWidth
  std::string OtsikkoAla;                   // kHeaderFileWidth
};

// A web user's details as the forms show them.
struct RegDetailsT {
  std::string Tunnus;  // kTunnusWidth
  std::string Sukunimi, EtuNimi, KatuOsoite1, PostiNo, PostiToimiPaikka, EMail1, PuhNo, MatkaPuh;
};
inline constexpr size_t kTunnusWidth = 20;

// One detail of a web user: the registration form's field that it is typed
// into, the WEBREG column that keeps it, the tag that shows it and how many
// characters of it count.
struct RegField {
  std::string_view tag;     // "RGSNIMI"
  std::string_view query;   // "SNIMI"
  std::string_view column;  // "Sukunimi"
  std::string RegDetailsT::*member;
  size_t width;
};
// The eight details that a registration and an edit of own details write,
// in the form's order.
inline constexpr RegField kRegFields[] = {
    {"RGSNIMI", "SNIMI", "Sukunimi", &RegDetailsT::Sukunimi, 35},
    {"RGENIMI", "ENIMI", "EtuNimi", &RegDetailsT::EtuNimi, 25},
    {"RGOS01", "OS01", "KatuOsoite1", &RegDetailsT::KatuOsoite1, 30},
    {"RGOS02", "OS02", "PostiNo", &RegDetailsT::PostiNo, 5},
    {"RGOS03", "OS03", "PostiToimiPaikka", &RegDetailsT::PostiToimiPaikka, 25},
    {"RGEMAIL", "EMAIL", "EMail1", &RegDetailsT::EMail1, 80},
    {"RGPUH", "PUH", "PuhNo", &RegDetailsT::PuhNo, 15},
    {"RGMPUH", "MPUH", "MatkaPuh", &RegDetailsT::MatkaPuh, 15},
};

// What an action hands to the tags of its page.
struct PageState {
  std::string SessionId = "0";  // kSessionIdWidth; "0" is no session (module/session.h)
  std::string Lang = "FIN";     // kLangWidth
  std::string Resurssi;         // kCodeWidth
  // kNameWidth. A table's name for Resurssi, or Resurssi itself when the
  // table lacks it (ResourceNameOf, CentreNameOf). Store it as that lookup
  // gives it: the tags HTML-escape it whenever it equals Resurssi, since it
  // is then the request's own text.
  std::string ResourceName = "Ei m\xe4\xe4ritelty";
  DateTime ChosenDate = 0;
  PageError ErrorCode = PageError::Search;
  std::string ReservationText;  // kReservationTextWidth
  std::string HiddenFields;     // unbounded; built by HiddenInput, so escaped
  // Under INI [Features] OwnListDetails: the rows of the slot's details that
  // the confirmation and booked pages show (tag VARAUSTIEDOT), built
  // escaped by the booking; empty otherwise.
  std::string ReservationDetails;
  // What the message of ErrorCode names besides its text: the required
  // details left empty (FieldsMissing), translated and joined.
  std::string ErrorDetail;
  // The calendar feed's address made by this request, shown once
  // (booking/calendar_feed.h); empty otherwise.
  std::string FeedAddress;
  std::string RegMode;          // kRegModeWidth
  RegDetailsT RegDetails;
  std::string CompanyName;  // kCompanyNameWidth
  const TextDef* ResetNotice = nullptr;  // PALAUTUSVIESTI: the reset pages' notice, or none
};

// ---- the week grid's work buffers ----

struct GridCell {
  std::string Kausi, VuoroNo, VuoroNoSeq, ResNo, Laji, Ohjaaja;  // kCodeWidth, untrimmed
  std::string Tyyppi;                                            // 3
  DateTime Start = 0, End = 0;
  double Kesto = 0;
  int Maara = 0, Reserved = 0, Used = 0;
  // Under SlotStates: the places of the session's customer among Reserved,
  // and the Jno of the first one still open (-1 for none).
  int Own = 0;
  int64_t OwnJno = -1;
  // Under WaitingList: the places the slot's line holds for others, and
  // the session customer's place in it (store::SlotTaken).
  int Held = 0;
  bool OwnQueued = false;
  DateTime OwnOfferUntil = 0;
};
struct TimeRow {
  DateTime Start = 0, End = 0;
  double Kesto = 0;
  int Used = 0;
};
struct ActivityKind {
  std::string Koodi;    // kCodeWidth
  std::string Lyhenne;  // kNameWidth
};
inline constexpr int kGridRows = 96;
inline constexpr int kGridColumns = 7;
inline constexpr int kMaxKinds = 900;

}  // namespace wo
