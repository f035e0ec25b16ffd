#include "mailer/sender.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "base/text.h"
#include "mail/mail_queue.h"
#include "store/outbox.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/win1252.h"

namespace wo::mailer {

namespace {

constexpr double kMinute = 1.0 / 1440;

// Who holds a claim: this host and process, and the moment the round
// began (a pid may come back).
std::string HolderName() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return Cut(std::string(host), 30) + "/" + std::to_string(getpid()) + "/" + std::to_string(tv.tv_sec) + "." +
         std::to_string(tv.tv_usec);
}

std::string Describe(const store::OutboxMessage& m) {
  return "mail " + std::to_string(m.id) + " (" + store::MailKindName(m.kind) + ") to " +
         store::Win1252ToUtf8(m.recipient);
}

}  // namespace

int RetryDelayMinutes(int attempts, int maxMinutes) {
  int delay = 1;
  for (int i = 1; i < attempts && delay < maxMinutes; ++i) delay *= 2;
  return std::min(delay, maxMinutes);
}

MailSite LoadMailSite(store::Connection& c, const SiteIni& ini, const std::string& templateRoot) {
  MailSite s;
  s.ini = ini;
  s.templateRoot = templateRoot;
  store::Table t(c, store::TableNamed("WEBPARAM"), "", "Numero");
  t.Open();
  if (t.FindKey({store::Txt("01")})) {
    s.phone = Trim(t.Text("Puhelin"));
    s.email = Trim(t.Text("EMail"));
  }
  return s;
}

RoundResult RunSendRound(store::Connection& c, const MailSite& site, const SmtpServer& server,
                         const SenderOptions& o, const std::function<void(const std::string&)>& say) {
  RoundResult r;
  const DateTime began = Now();
  r.reminders = mail::QueueReminders(c, site.ini, began);
  if (r.reminders > 0) say("queued " + std::to_string(r.reminders) + " reminder(s)");

  const std::string holder = HolderName();
  while (std::optional<store::OutboxMessage> m =
             store::ClaimNextMessage(c, holder, began, Now() + o.leaseMinutes * kMinute)) {
    store::Delivery d;
    bool unreachable = false;
    try {
      const RenderedMail mail = RenderMail(*m, site);
      const SmtpResult sent = SendSmtp(server, mail.from, mail.to, mail.message);
      if (sent.ok) {
        d.outcome = store::Delivery::Sent;
      } else {
        d.outcome = store::Delivery::Retry;
        d.error = sent.error;
        unreachable = sent.unreachable;
      }
    } catch (const std::exception& e) {
      d.outcome = store::Delivery::Retry;
      d.error = std::string("cannot render it: ") + e.what();
    }
    const DateTime now = Now();
    std::string line;
    if (d.outcome == store::Delivery::Sent) {
      d.at = now;
      line = Describe(*m) + ": sent";
    } else if (now >= m->created + o.giveUpDays) {
      d.outcome = store::Delivery::Failed;
      line = Describe(*m) + ": given up after " + std::to_string(m->attempts) + " attempts: " + d.error;
    } else {
      const int delay = RetryDelayMinutes(m->attempts, o.maxDelayMinutes);
      d.at = now + delay * kMinute;
      line = Describe(*m) + ": not sent (attempt " + std::to_string(m->attempts) + "), trying again in " +
             std::to_string(delay) + " min: " + d.error;
    }
    // A reset link must not outlive its mail in the outbox.
    d.forgetFacts = m->kind == store::MailKind::Reset && d.outcome != store::Delivery::Retry;
    if (!store::FinishMessage(c, m->id, holder, d)) {
      ++r.lost;
      say(Describe(*m) + ": its claim lapsed before the outcome was recorded; another sender holds it now");
      continue;
    }
    say(line);
    if (d.outcome == store::Delivery::Sent) ++r.sent;
    if (d.outcome == store::Delivery::Retry) ++r.retrying;
    if (d.outcome == store::Delivery::Failed) ++r.failed;
    if (unreachable) {
      r.stopped = true;
      say("no mail server answered at " + server.url + "; the other messages wait for the next round");
      break;
    }
  }
  r.pruned = store::PruneMessages(c, began - o.keepDays);
  return r;
}

}  // namespace wo::mailer
