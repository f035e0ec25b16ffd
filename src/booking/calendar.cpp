// Resource selection and the calendar page: the actions /ResVal and /Viikko,
// and the small lookups that the week grid, the day lists, the reservation
// pages and the own-reservations list share (names of resources, centres,
// activity kinds and instructors, the reservation count of a slot and its
// booking link). The grid itself is in week_grid.cpp, the day list in
// day_list.cpp.
#include "booking/calendar.h"

#include <algorithm>
#include <vector>

#include "frame/html.h"
#include "base/text.h"
#include "module/module.h"

namespace wo {

namespace calendar {

double EndOfDay() { return EncodeTime(23, 59, 0); }

DateTime NoLaterThanLastStorable(DateTime t) {
  const DateTime last = EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59);
  return t < last ? t : last;
}

long long TimeOfDayMs(DateTime t) {
  DateParts p = Decode(t);
  return ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.msec;
}

DateTime WithTimeOfDay(DateTime dateOf, DateTime timeOf) {
  DateParts p = Decode(timeOf);
  return DateOf(dateOf) + EncodeTime(p.hour, p.minute, p.second, p.msec);
}

}  // namespace calendar

using calendar::CloseOnExit;

// WEBPAGE: /ResVal — the resource (or centre) and date selection.
// Query: LANG, ID. No fields at all: the error page (ErrorCode 0).
// Otherwise "resval.html", whose form sends ID, Lang, Resurssi, PP, KK and
// VV to /Viikko.
void WebModule::WebModOrvaneWebActResValAction(const Request& rq, Response&, bool&) {
  page.SessionId = std::string("0");  // (a literal assignment trips a GCC 12 -Wrestrict false alarm)
  page.Lang = Cut(rq.Field("LANG"), 15);
  if (rq.FieldCount() == 0) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  RenderPage(PageProdResVal, "resval.html");
}

// WEBPAGE: /Viikko — the calendar of one resource (or centre) from a day on.
// Query: LANG, ID, Resurssi, PP, KK, VV (day, month, four-digit year).
// Fewer than five fields: the error page. A day that is not a date shows
// today. Answers "viikko.html"; its VUOROLISTA tag draws the week grid or the
// day list.
void WebModule::WebModOrvaneWebActViikkoAction(const Request& rq, Response&, bool&) {
  page.Resurssi.clear();
  page.Lang = Cut(rq.Field("LANG"), 15);
  if (rq.FieldCount() < 5) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  page.Resurssi = Cut(rq.Field("Resurssi"), 5);
  page.ResourceName =
      Cut(settings.ListanMuoto == 2 ? CentreNameOf(page.Resurssi) : ResourceNameOf(page.Resurssi), 35);

  auto number = [&](std::string_view name) {
    long long v = ToIntDef(rq.Field(name), 0);
    return (v < -100000 || v > 100000) ? 0 : static_cast<int>(v);
  };
  const int day = number("PP"), month = number("KK"), year = number("VV");
  page.ChosenDate = IsValidDate(year, month, day) ? EncodeDate(year, month, day) : DateOf(Now());
  RenderPage(PageProdViikko, "viikko.html");
}

// The code itself when VARESNIMI lacks it; "" for "".
std::string WebModule::ResourceNameOf(std::string_view code) {
  std::string result(code);
  if (code.empty()) return result;
  store::Table& t = tbl->TblResNimi;
  CloseOnExit closer(t);
  if (!t.IsOpen()) {
    t.SetIndex("ResNo");
    t.Open();
  }
  if (t.FindKey({store::Txt(std::string(code))})) result = t.Text("ResNimi");
  return Cut(result, 35);
}

// The code itself when WEBKESKUS lacks it; "" for "".
std::string WebModule::CentreNameOf(std::string_view code) {
  std::string result(code);
  if (code.empty()) return result;
  store::Table& t = tbl->TblWebKeskus;
  CloseOnExit closer(t);
  if (!t.IsOpen()) {
    t.SetIndex("WebKeskus");
    t.Open();
  }
  if (t.FindKey({store::Txt(std::string(code))})) result = t.Text("WebKeskusNimi");
  return Cut(result, 35);
}

// By NaytaOhjaaja: 1 the instructor's Lyhenne, 2 the Nimi, 0 "&nbsp;", any
// other value the code. A code VAOHJAAJA lacks shows as itself; an empty
// result as "&nbsp;". VAOHJAAJA stays open until the module ends.
std::string WebModule::InstructorText(std::string_view code) {
  std::string result(code);
  if (!code.empty()) {
    store::Table& t = tbl->TblVaOhjaaja;
    if (!t.IsOpen()) {
      t.SetIndex("Koodi");
      t.Open();
    }
    if (t.FindKey({store::Txt(std::string(code))})) {
      switch (settings.NaytaOhjaaja) {
        case 0: result = "&nbsp;"; break;
        case 1: result = t.Text("Lyhenne"); break;
        case 2: result = t.Text("Nimi"); break;
        default: break;
      }
    }
  }
  result = Cut(result, 35);
  return result.empty() ? std::string("&nbsp;") : result;
}

// The Lyhenne of the first loaded kind whose Koodi is exactly `code`; the
// code itself when none is; "&nbsp;" for an empty result.
std::string WebModule::ActivityKindText(std::string_view code) {
  std::string result(code);
  if (!code.empty()) {
    const int n = std::min<int>(KindCount, static_cast<int>(ActivityKinds.size()));
    for (int i = 0; i < n; ++i) {
      if (ActivityKinds[i].Koodi == code) {
        result = ActivityKinds[i].Lyhenne;
        break;
      }
    }
  }
  return result.empty() ? std::string("&nbsp;") : result;
}

// VALAJI in Koodi order into ActivityKinds, at most kMaxKinds of them.
void WebModule::LoadActivityKinds() {
  ActivityKinds.clear();
  KindCount = 0;
  store::Table& t = tbl->TblVaLaji;
  CloseOnExit closer(t);
  if (!t.IsOpen()) {
    t.SetIndex("Koodi");
    t.Open();
  }
  t.First();
  while (!t.Eof() && KindCount < kMaxKinds) {
    ActivityKinds.push_back({Cut(t.Text("Koodi"), 5), Cut(t.Text("Lyhenne"), 35)});
    ++KindCount;
    t.Next();
  }
}

// The VAVARAUS rows of one slot, whatever their Status; 0 without a session
// (SessionId of 5 characters or fewer), when no count is needed. Uses TblVa
// as its caller left it open, or opens and closes it itself.
int WebModule::CountReservations(std::string_view kausi, std::string_view vuoroNo, std::string_view seq) {
  if (page.SessionId.size() <= 5) return 0;
  store::Table& t = tbl->TblVa;
  CloseOnExit closer(t, /*onlyIfOpenedHere=*/true);
  if (!t.IsOpen()) {
    t.SetIndex(calendar::kReservationsBySlot);
    t.Open();
  }
  const std::vector<store::Value> key = {store::Txt(std::string(kausi)), store::Txt(std::string(vuoroNo)),
                                         store::Txt(std::string(seq))};
  t.SetRange(key, key);
  const int n = t.RecordCount();
  t.CancelRange();
  return n;
}

// "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=..&Lang=..&Kau=..&Vuo=..&Seq=..\">".
// The session ID and language come from the request and are percent-encoded;
// the slot key comes from VaVuoro and goes in trimmed.
std::string WebModule::BookingLinkOpen(std::string_view kausi, std::string_view vuoroNo, std::string_view seq) {
  std::string s = "<A HREF=\"";
  s += kProgramUrl;
  s += "Varaa?ID=";
  s += UrlEncode(page.SessionId);
  s += "&Lang=";
  s += UrlEncode(page.Lang);
  s += "&Kau=";
  s += Trim(kausi);
  s += "&Vuo=";
  s += Trim(vuoroNo);
  s += "&Seq=";
  s += Trim(seq);
  s += "\">";
  return s;
}

}  // namespace wo
