// The facts of a queued mail: the values its message is rendered from when
// it is sent, taken when it was queued, so that the mail tells what was true
// then (the fee charged, the balance left) however the tables change later.
// They are stored in WEBPOSTI.Tiedot as "NAME=value" lines.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace wo::mail {

// Fact name -> value, Windows-1252.
using Facts = std::map<std::string, std::string>;

// The names the queue writes and the renderer reads.
namespace fact {
// The user: user name, first name, "first last".
inline constexpr const char* kUserName = "TUNNUS";
inline constexpr const char* kFirstName = "ETUNIMI";
inline constexpr const char* kName = "NIMI";
// The slot: what (the activity, or the resource without one), where (the
// resource and its centre), the instructor as the site shows instructors
// (absent when it shows none), start and end as stored date-times.
inline constexpr const char* kWhat = "MITA";
inline constexpr const char* kWhere = "MISSA";
inline constexpr const char* kInstructor = "OHJAAJA";
inline constexpr const char* kStart = "ALKAA";
inline constexpr const char* kEnd = "PAATTYY";
// Until when the reservation can be cancelled (a stored date-time; absent
// when that time had passed when it was booked).
inline constexpr const char* kCancelUntil = "PERUUTUSASTI";
// With the reservation fee in use: the fee and the balance after the
// change, as "-12.50" (two decimals, a point).
inline constexpr const char* kFee = "MAKSU";
inline constexpr const char* kBalance = "SALDO";
// A waiting-list offer: until when the place is held (a stored date-time).
inline constexpr const char* kOfferUntil = "TARJOUSASTI";
// The password reset: its secret token and how many minutes it is valid.
inline constexpr const char* kToken = "KOODI";
inline constexpr const char* kValidMinutes = "VOIMASSA";
}  // namespace fact

// "NAME=value" lines in name order. A line break or tab inside a value
// becomes a blank; names are the constants above (no "=" in them).
std::string EncodeFacts(const Facts& facts);
// The facts of EncodeFacts' text; a line without "=" is skipped.
Facts DecodeFacts(std::string_view text);

// The value of `name`; "" when absent.
std::string FactOf(const Facts& facts, const char* name);

}  // namespace wo::mail
