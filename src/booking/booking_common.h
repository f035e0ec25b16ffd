// Small pieces shared by the reservation and cancellation actions: the slot
// key of the query, hidden form inputs, instant comparisons at millisecond
// resolution and a guard that closes table handles on every way out.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "frame/html.h"
#include "frame/request.h"
#include "base/text.h"
#include "module/module.h"
#include "base/datetime.h"
#include "store/table.h"

namespace wo::booking {

// The slot key as the actions rebuild it from "Kau", "Vuo" and "Seq": Kau
// cut to 5, Vuo and Seq right-aligned by PadKey5 and cut to 5 (the form in
// which VaVuoro stores them).
struct SlotKey {
  std::string kau, vuo, seq;

  static SlotKey FromQuery(const Request& req) {
    return SlotKey{Cut(req.Field("Kau"), 5), Cut(PadKey5(req.Field("Vuo")), 5),
                   Cut(PadKey5(req.Field("Seq")), 5)};
  }
  std::vector<store::Value> Values() const {
    return {store::Txt(kau), store::Txt(vuo), store::Txt(seq)};
  }
};

// One hidden input of a confirmation form, ended by a carriage return. The
// value is HTML-escaped; ordinary values come out unchanged.
inline std::string HiddenInput(std::string_view name, std::string_view value) {
  std::string s = "<input name=\"";
  s += name;
  s += "\" type=\"hidden\" value=\"";
  s += HtmlEscape(value);
  s += "\">\r";
  return s;
}

// Date-times as whole milliseconds, so that a slot stored to the second
// compares exactly with a clock value and with "now + n hours".
inline int64_t Millis(DateTime t) { return std::llround(t * 86400000.0); }
inline constexpr int64_t kMillisPerHour = 3600000;
inline constexpr int64_t kMillisPerDay = 86400000;

// Closes the given handles when it goes out of scope (never throws).
class CloseOnExit {
 public:
  CloseOnExit(std::initializer_list<store::Table*> tables) : tables_(tables) {}
  ~CloseOnExit() {
    for (store::Table* t : tables_) {
      try {
        if (t->IsOpen()) t->Close();
      } catch (...) {
      }
    }
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;
  void Add(store::Table* t) { tables_.push_back(t); }

 private:
  std::vector<store::Table*> tables_;
};

// Opens `t` with index `index` unless it is open already (an open handle is
// re-ordered only when its index differs).
inline void OpenWithIndex(store::Table& t, std::string_view index) {
  if (!SameText(t.Index(), index)) t.SetIndex(index);
  if (!t.IsOpen()) t.Open();
}

// The answer an action has decided on inside its transaction, given once
// the transaction has been committed.
struct Answer {
  enum Kind { kRedirect, kErrorPage } kind = kRedirect;
  std::string url;    // kRedirect
  int errorCode = 0;  // kErrorPage

  static Answer Redirect(std::string u) { return Answer{kRedirect, std::move(u), 0}; }
  static Answer Error(int code) { return Answer{kErrorPage, {}, code}; }
};

// "/cgi-bin/WebOrvane.exe/Login?Lang=" + Lang, percent-encoded.
inline std::string LoginUrl(std::string_view lang) {
  return std::string(kProgramUrl) + "Login?Lang=" + UrlEncode(lang);
}

// kProgramUrl + page + "?ID=" + id + "&Lang=" + lang, percent-encoded.
inline std::string PageUrl(std::string_view page, std::string_view id, std::string_view lang) {
  return std::string(kProgramUrl) + std::string(page) + "?ID=" + UrlEncode(id) + "&Lang=" + UrlEncode(lang);
}

// The session ID of nobody logged in. (Copied from a string rather than
// assigned from a literal, which GCC 12 warns about falsely at -O2.)
inline const std::string kNoSession = "0";

// Error codes beyond the ones of the error-text table's first nine.
inline constexpr int kErrSlotClosed = 9;        // full or already started
inline constexpr int kErrTooLateToCancel = 10;  // past the cancellation deadline
inline constexpr int kErrNotFound = 5;

// Gives the decided answer: the redirect, or the error page with its code.
inline void Deliver(WebModule& m, Response& resp, const Answer& a) {
  if (a.kind == Answer::kRedirect) {
    resp.SendRedirect(a.url);
  } else {
    m.page.ErrorCode = a.errorCode;
    m.ErrorPage();
  }
}

}  // namespace wo::booking
