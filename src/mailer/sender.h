// One round of the mail sender (`weborvane-admin mail send`, run on a
// schedule): reminders are queued, every message due when the round began
// is claimed, rendered, delivered and its outcome recorded, and old sent
// and failed messages are forgotten.
//
// A failed attempt is tried again after 1, 2, 4, 8 ... minutes (at most an
// hour between two attempts); a message still undelivered a day after it
// was queued is given up, its last reason kept. When no server answers at
// all, the round stops after that message: the others wait for the next
// round without an attempt counted against them. Claims (store/outbox.h)
// keep two senders running at once from delivering a message twice.
#pragma once

#include <functional>
#include <string>

#include "mailer/render.h"
#include "mailer/smtp.h"
#include "store/database.h"

namespace wo::mailer {

struct SenderOptions {
  int leaseMinutes = 10;     // a claim's life: longer than any one delivery may take
  int maxDelayMinutes = 60;  // the longest wait between two attempts
  double giveUpDays = 1;     // after this long in the queue a message is given up
  int keepDays = 30;         // sent and failed messages are deleted after this long
};

struct RoundResult {
  int reminders = 0;  // reminders queued
  int sent = 0;       // delivered
  int retrying = 0;   // failed, to be tried again
  int failed = 0;     // given up
  int lost = 0;       // delivered or failed, but the claim had lapsed meanwhile
  int pruned = 0;     // old messages deleted
  bool stopped = false;  // the round stopped: no server answered
};

// The minutes to wait after the `attempts`-th failed attempt: 1, 2, 4, ...
// up to `maxMinutes`.
int RetryDelayMinutes(int attempts, int maxMinutes);

// The site as rendering needs it: `ini`, the template folders under
// `templateRoot`, the phone and e-mail of WEBPARAM "01".
MailSite LoadMailSite(store::Connection& c, const SiteIni& ini, const std::string& templateRoot);

// Runs one round with `server`; `say` receives a line for each message
// handled and each reminder batch. REQUIRES: !c.InTransaction().
RoundResult RunSendRound(store::Connection& c, const MailSite& site, const SmtpServer& server,
                         const SenderOptions& options, const std::function<void(const std::string&)>& say);

}  // namespace wo::mailer
