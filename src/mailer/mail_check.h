// The mail part of `weborvane-admin check`: whether the mails that the
// pages queue can be rendered and sent.
#pragma once

#include <string>
#include <vector>

#include "module/ini.h"
#include "module/site_check.h"

namespace wo::mailer {

// With [Features] Mail off, one OK line saying so. With it on: the SMTP
// server ([Mail] SmtpUrl: none is a WARN, the mails wait; another scheme
// than smtp:// or smtps:// a FAIL), its user without a password (WARN),
// the sender's address ([Mail] From), the site's address for the links
// ([Mail] SiteUrl: http:// is a WARN, since it carries the reset links),
// the time zone ([Site] TimeZone) and the templates of booking,
// cancellation, reminder and password-reset mails in both folders under
// `templateRoot`: each is rendered from sample facts, and tags the mails do
// not know are a WARN.
std::vector<site::CheckLine> CheckMailSetup(const SiteIni& ini, const std::string& templateRoot);

}  // namespace wo::mailer
