#include "mailer/smtp.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace wo::mailer {

namespace {

struct Upload {
  const std::string* data;
  size_t sent = 0;
};

size_t ReadMessage(char* buf, size_t size, size_t count, void* user) {
  Upload& u = *static_cast<Upload*>(user);
  const size_t n = std::min(size * count, u.data->size() - u.sent);
  std::memcpy(buf, u.data->data() + u.sent, n);
  u.sent += n;
  return n;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

SmtpResult SendSmtp(const SmtpServer& server, const std::string& from, const std::string& to,
                    const std::string& message) {
  SmtpResult r;
  if (!StartsWith(server.url, "smtp://") && !StartsWith(server.url, "smtps://")) {
    r.error = "[Mail] SmtpUrl \"" + server.url + "\" is no smtp:// or smtps:// URL";
    return r;
  }
  static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
  std::unique_ptr<CURL, void (*)(CURL*)> curl(init == CURLE_OK ? curl_easy_init() : nullptr, curl_easy_cleanup);
  if (!curl) {
    r.error = "libcurl cannot start a transfer";
    return r;
  }
  CURL* h = curl.get();
  char error[CURL_ERROR_SIZE] = "";
  const std::string mailFrom = "<" + from + ">", rcpt = "<" + to + ">";
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> recipients(curl_slist_append(nullptr, rcpt.c_str()),
                                                                curl_slist_free_all);
  Upload upload{&message};

  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_URL, server.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, server.connectSeconds);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, server.totalSeconds);
  if (StartsWith(server.url, "smtp://"))
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(server.user.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL));
  if (!server.user.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, server.password.c_str());
  }
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, mailFrom.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadMessage);
  curl_easy_setopt(h, CURLOPT_READDATA, &upload);
  curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);

  const CURLcode rc = curl_easy_perform(h);
  if (rc == CURLE_OK) {
    r.ok = true;
    return r;
  }
  long reply = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply);
  r.error = error[0] ? error : curl_easy_strerror(rc);
  while (!r.error.empty() && (r.error.back() == '\n' || r.error.back() == '\r')) r.error.pop_back();
  if (reply > 0) r.error += " (server reply " + std::to_string(reply) + ")";
  r.unreachable = reply == 0 && (rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT ||
                                 rc == CURLE_OPERATION_TIMEDOUT);
  return r;
}

}  // namespace wo::mailer
