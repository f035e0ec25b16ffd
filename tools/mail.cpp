// `weborvane-admin mail send` and `mail list`: the outbox's sender and its
// listing, over mailer/sender.h and store/outbox.h.
#include <cstdio>
#include <map>

#include "admin.h"
#include "base/format.h"
#include "base/text.h"
#include "mailer/sender.h"
#include "module/site_admin.h"
#include "store/outbox.h"
#include "store/win1252.h"

namespace wo::admin {

namespace {

void Say(const std::string& line) { std::printf("weborvane-admin: %s\n", line.c_str()); }

int Waiting(store::Connection& c) {
  int n = 0;
  for (const store::OutboxMessage& m : store::ListMessages(c))
    if (m.state == store::MailState::Queued || m.state == store::MailState::Sending) ++n;
  return n;
}

}  // namespace

int MailSend(const std::string& iniPath, const SiteIni& ini) {
  std::unique_ptr<store::Connection> c = store::Connection::Open(site::AdminConnection(ini));
  const int offered = SettleWaitingLists(*c, ini);
  if (offered > 0) Say(std::to_string(offered) + " place(s) of the waiting lists offered");
  if (Trim(ini.SmtpUrl).empty() || Trim(ini.MailFrom).empty()) {
    const int waiting = Waiting(*c);
    if (!ini.Mail && waiting == 0) {
      Say("mail is switched off ([Features] Mail) and nothing is queued");
      return 0;
    }
    std::fprintf(stderr,
                 "weborvane-admin: %d message(s) wait, but %s sets no [Mail] SmtpUrl and From to send them with\n",
                 waiting, iniPath.c_str());
    return 1;
  }
  const mailer::MailSite site = mailer::LoadMailSite(*c, ini, site::TreePaths::Of(iniPath).templates);
  mailer::SmtpServer server;
  server.url = Trim(ini.SmtpUrl);
  server.user = ini.SmtpUser;
  server.password = ini.SmtpPassword;
  const mailer::RoundResult r = mailer::RunSendRound(*c, site, server, mailer::SenderOptions{}, Say);
  std::printf("weborvane-admin: mail send: %d sent, %d to try again, %d given up, %d reminder(s) queued", r.sent,
              r.retrying, r.failed, r.reminders);
  if (r.pruned > 0) std::printf(", %d old message(s) deleted", r.pruned);
  std::printf("\n");
  return r.failed > 0 || r.lost > 0 ? 1 : 0;
}

int MailList(const SiteIni& ini) {
  std::unique_ptr<store::Connection> c = store::Connection::Open(site::AdminConnection(ini));
  const std::vector<store::OutboxMessage> all = store::ListMessages(*c);
  std::map<store::MailState, int> counts;
  if (!all.empty())
    std::printf("%6s  %-7s  %-12s  %5s  %-16s  %-16s  %s\n", "ID", "STATE", "KIND", "TRIES", "QUEUED",
                "NEXT / SENT", "TO");
  for (const store::OutboxMessage& m : all) {
    ++counts[m.state];
    std::string when;
    if (m.state == store::MailState::Queued || m.state == store::MailState::Sending)
      when = FormatDateTimeShort(m.nextAttempt);
    else if (m.state == store::MailState::Sent)
      when = FormatDateTimeShort(m.sentAt);
    std::printf("%6lld  %-7s  %-12s  %5d  %-16s  %-16s  %s\n", static_cast<long long>(m.id),
                store::MailStateName(m.state), store::MailKindName(m.kind), m.attempts,
                FormatDateTimeShort(m.created).c_str(), when.c_str(), store::Win1252ToUtf8(m.recipient).c_str());
    if (!m.lastError.empty() && m.state != store::MailState::Sent)
      std::printf("%6s  %s\n", "", store::Win1252ToUtf8(m.lastError).c_str());
  }
  std::printf("%zu message(s): %d queued, %d sending, %d sent, %d failed\n", all.size(),
              counts[store::MailState::Queued], counts[store::MailState::Sending], counts[store::MailState::Sent],
              counts[store::MailState::Failed]);
  return 0;
}

}  // namespace wo::admin
