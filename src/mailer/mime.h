// Internet mail messages (RFC 5322 with MIME): a plain UTF-8 text, and an
// optional attachment beside it in a multipart/mixed message. Header texts
// that are not plain ASCII are encoded words (RFC 2047); the text is
// quoted-printable and the attachment base64, so a message is ASCII, with
// CRLF line ends and no line longer than 78 characters.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/datetime.h"

namespace wo::mailer {

struct Attachment {
  std::string contentType;  // "text/calendar; method=REQUEST; charset=utf-8"
  std::string fileName;     // ASCII
  std::string content;      // bytes
};

struct MimeMessage {
  std::string fromName, fromAddress;  // UTF-8 name (may be empty), address
  std::string toName, toAddress;
  std::string subject;                // UTF-8, one line
  std::string body;                   // UTF-8; "\n" or "\r\n" line ends
  DateTime date = 0;                  // wall-clock time of the Date header ...
  int utcOffsetMinutes = 0;           // ... and its offset from UTC
  std::string messageId;              // without the angle brackets
  std::optional<Attachment> attachment;
};

// The whole message, headers and body.
std::string FormatMessage(const MimeMessage& m);

// A header's phrase or unstructured text: ASCII as it is (a phrase quoted
// where it must be), anything else as "=?UTF-8?B?...?=" words of at most 75
// characters, joined by folding. `phrase`: a display name before an
// address, which may not hold specials unquoted.
std::string EncodeHeaderText(std::string_view utf8, bool phrase);

// Quoted-printable (RFC 2045) of `text` with CRLF line ends: line breaks
// ("\n" or "\r\n") stay hard breaks, lines are cut with soft breaks at 76
// characters, "=", bytes outside ASCII and blanks at a line's end are
// encoded, and so is a "." that begins a line.
std::string QuotedPrintable(std::string_view text);

// Base64 in lines of 76 characters, each ended by CRLF.
std::string Base64Lines(std::string_view bytes);

}  // namespace wo::mailer
