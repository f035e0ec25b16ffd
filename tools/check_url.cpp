// `weborvane-admin check URL`: the site as a browser reaches it, through
// libcurl (only the administration command links it).
#include <curl/curl.h>

#include <cctype>
#include <map>

#include "admin.h"
#include "base/text.h"

namespace wo::admin {

namespace {

using L = site::CheckLine;

struct Answer {
  long status = 0;
  std::string url;  // after redirects
  std::map<std::string, std::string> headers;  // lower-case names, of the last response
  std::string error;
};

size_t Discard(char*, size_t size, size_t n, void*) { return size * n; }

size_t Header(char* data, size_t size, size_t n, void* user) {
  auto& h = *static_cast<std::map<std::string, std::string>*>(user);
  std::string line(data, size * n);
  if (line.rfind("HTTP/", 0) == 0) h.clear();  // a new response after a redirect
  size_t colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    h[name] = Trim(line.substr(colon + 1));
  }
  return size * n;
}

Answer Get(const std::string& url, bool follow) {
  Answer a;
  CURL* c = curl_easy_init();
  if (!c) {
    a.error = "libcurl cannot start";
    return a;
  }
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Header);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &a.headers);
  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    a.error = curl_easy_strerror(rc);
  } else {
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    char* last = nullptr;
    curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &last);
    a.url = last ? last : url;
  }
  curl_easy_cleanup(c);
  return a;
}

}  // namespace

std::vector<site::CheckLine> CheckUrl(const std::string& url) {
  std::vector<L> out;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::string base = url;
  while (!base.empty() && base.back() == '/') base.pop_back();
  const std::string page = base + "/cgi-bin/WebOrvane.exe/Index";

  if (base.rfind("http://", 0) == 0) {
    Answer first = Get(page, false);
    auto loc = first.headers.find("location");
    if (first.error.empty() && first.status >= 301 && first.status <= 308 && loc != first.headers.end() &&
        loc->second.rfind("https://", 0) == 0)
      out.push_back({L::Ok, "web server: " + base + " sends plain HTTP on to " + loc->second});
    else if (first.error.empty())
      out.push_back({L::Warn, "web server: " + base + " answers plain HTTP without sending it on to HTTPS "
                              "(the log-in form sends the password in its address)"});
  }

  Answer a = Get(page, true);
  if (!a.error.empty()) {
    out.push_back({L::Fail, "web server: " + page + ": " + a.error});
    curl_global_cleanup();
    return out;
  }
  if (a.status != 200) {
    out.push_back({L::Fail, "web server: " + a.url + " answers " + std::to_string(a.status) +
                                " (the program does not run; see log/WebOrvane.log and the server's error log)"});
  } else {
    out.push_back({L::Ok, "web server: " + a.url + " answers the start page"});
    struct Want {
      const char* header;
      const char* value;
    };
    std::vector<std::string> missing;
    for (Want w : {Want{"x-content-type-options", "nosniff"}, Want{"referrer-policy", "no-referrer"},
                   Want{"cache-control", "no-store"}}) {
      auto h = a.headers.find(w.header);
      if (h == a.headers.end() || Upper(h->second).find(Upper(w.value)) == std::string::npos)
        missing.push_back(std::string(w.header) + ": " + w.value);
    }
    auto xfo = a.headers.find("x-frame-options");
    auto csp = a.headers.find("content-security-policy");
    if ((xfo == a.headers.end() || !SameText(xfo->second, "DENY")) &&
        (csp == a.headers.end() || csp->second.find("frame-ancestors 'none'") == std::string::npos))
      missing.push_back("x-frame-options: DENY");
    if (missing.empty())
      out.push_back({L::Ok, "web server: the pages carry the four security headers"});
    else {
      std::string list;
      for (const std::string& m : missing) list += (list.empty() ? "" : ", ") + m;
      out.push_back({L::Warn, "web server: the pages lack the headers " + list +
                                  " (see the web server configurations in share/weborvane/)"});
    }
  }
  Answer css = Get(base + "/weborvane.css", true);
  if (css.error.empty() && css.status == 200)
    out.push_back({L::Ok, "web server: " + css.url + " serves the style sheet"});
  else
    out.push_back({L::Fail, "web server: " + base + "/weborvane.css: " +
                                (css.error.empty() ? "answers " + std::to_string(css.status) : css.error) +
                                " (the document root is not www/htdocs)"});
  curl_global_cleanup();
  return out;
}

}  // namespace wo::admin
