// Delivery of one message to the site's SMTP server, with libcurl.
#pragma once

#include <string>

namespace wo::mailer {

struct SmtpServer {
  // "smtp://host:port" (STARTTLS when the server offers it; demanded when
  // a user is set, so that a password never crosses the network in the
  // clear) or "smtps://host:port" (TLS from the start).
  std::string url;
  std::string user, password;  // AUTH, when user is set
  long connectSeconds = 20;    // to connect
  long totalSeconds = 120;     // for the whole exchange
};

struct SmtpResult {
  bool ok = false;
  std::string error;         // why not: libcurl's reason, with the server's last reply code
  bool unreachable = false;  // no server answered (not resolved, not connected, timed out)
};

// Sends `message` (a whole RFC 5322 message with CRLF line ends) from the
// envelope sender `from` to `to`.
SmtpResult SendSmtp(const SmtpServer& server, const std::string& from, const std::string& to,
                    const std::string& message);

}  // namespace wo::mailer
