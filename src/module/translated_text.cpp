// Translated texts: the program's labels and messages by key, with their
// Finnish defaults (module/texts.h).
//
// Finnish pages use the defaults and never touch the database. Any other
// language reads KAANNOS (handle FTblLang, opened by the first text that
// needs it and left open until the request ends) by language key,
// application "WebOrvane" and text key. A key the language lacks is added,
// in use and holding the Finnish default, so that translators find every
// key the pages ask for -- for the site's languages only (SeedsLanguage).
#include "base/text.h"
#include "module/context.h"
#include "module/texts.h"

namespace wo {

namespace {

constexpr std::string_view kApplication = "WebOrvane";

}  // namespace

bool RequestContext::FindText(std::string_view key, std::string& language) {
  if (Upper(page.Lang) == "FIN") return false;
  // The language key: upper case, at most 10 characters. An empty one (no
  // Lang in the query) finds no row and seeds none, so the table is not
  // needed; neither is it for an empty text key.
  language = Upper(Cut(page.Lang, kLanguageKeyWidth));
  if (language.empty() || key.empty()) return false;
  store::Table& t = tbl->FTblLang;
  if (!t.IsOpen()) t.Open();
  return t.FindKey({store::Txt(language), store::Txt(std::string(kApplication)), store::Txt(std::string(key))});
}

std::optional<std::string> RequestContext::SiteText(std::string_view key) {
  std::string language;
  if (!FindText(key, language) || !tbl->FTblLang.Bool("LGKaytossa")) return std::nullopt;
  return tbl->FTblLang.Text("LGTeksti");
}

std::string RequestContext::TranslatedText(std::string_view key, std::string_view def) {
  std::string result(def);
  std::string language;
  store::Table& t = tbl->FTblLang;
  if (FindText(key, language)) {
    // A row not in use (false or null) shows the default and stays as it is.
    if (t.Bool("LGKaytossa")) result = t.Text("LGTeksti");
    return result;
  }
  if (language.empty() || key.empty()) return result;  // Finnish, or nothing to seed

  if (!SeedsLanguage(language)) return result;

  // Seed the missing key. Two requests may race to add it; the loser's
  // append fails on the unique index. Any failure here only costs the row,
  // never the page, and leaves the handle without a pending append.
  try {
    t.Append();
    t["LGKieli"].SetText(language);
    t["LGSovellus"].SetText(kApplication);
    t["LGAvain"].SetText(key);
    t["LGTeksti"].SetText(def);
    t["LGKaytossa"].SetBool(true);
    t.Post();
  } catch (...) {
    try {
      t.Cancel();
    } catch (...) {
    }
  }
  return result;
}

// Missing texts are added only for a language the site has: one named in
// the INI's [Site] Languages, or one that KAANNOS holds texts of already.
// Any other Lang a request sends shows the defaults and writes nothing.
// REQUIRES: FTblLang open. Asked once per language and request.
bool RequestContext::SeedsLanguage(const std::string& language) {
  if (seedCheckedLanguage_ && *seedCheckedLanguage_ == language) return seedAllowed_;
  bool allowed = false;
  for (const std::string& listed : ini.LanguageKeys()) allowed = allowed || listed == language;
  if (!allowed)
    allowed = tbl->FTblLang.FindKey({store::Txt(language), store::Txt(std::string(kApplication))});
  seedCheckedLanguage_ = language;
  seedAllowed_ = allowed;
  return allowed;
}

}  // namespace wo
