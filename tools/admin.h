// The administration command's pieces, each a thin layer over the library.
#pragma once

#include <string>

#include <vector>

#include "module/ini.h"
#include "module/site_check.h"
#include "store/database.h"

namespace wo::admin {

// Loads the demonstration centre into an initialised database (admin/demo.cpp).
// Returns the exit status; prints what it did or why it failed.
int DemoCommand(store::Connection& conn, const SiteIni& ini);

// Checks the web server set-up of the site at `url` (its base, such as
// https://booking.example.org/): the start page of the program answers,
// with the four security headers, and the style sheet is served
// (check_url.cpp).
std::vector<site::CheckLine> CheckUrl(const std::string& url);

// `mail send`: one round of the mail sender; `mail list`: the outbox
// (mail.cpp). Each returns the exit status.
int MailSend(const std::string& iniPath, const SiteIni& ini);
int MailList(const SiteIni& ini);

// Settles every waiting list that has something to settle, with
// [Features] WaitingList on (nothing otherwise); returns the places offered.
// `mail send` runs it first, so that the offers go out in the same round;
// `waitlist settle` runs it alone, for a site without mail (waiting_list.cpp).
int SettleWaitingLists(store::Connection& c, const SiteIni& ini);
int WaitlistSettle(const SiteIni& ini);

}  // namespace wo::admin
