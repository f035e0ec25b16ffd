// The default site as shipped in site/: every template of both languages,
// its encoding and declarations, its forms, the tags it uses, and the
// English texts file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "module/tags.h"
#include "module/texts.h"

namespace wo {
namespace {

namespace fs = std::filesystem;

const char* const kLangs[] = {"Fin", "Eng"};
// The pages of the page producers, then the header and the footer.
const char* const kPages[] = {"index.html",  "login.html",    "regin.html",  "vaihda.html", "omat.html",
                              "resval.html", "viikko.html",   "varok.html",  "varaa.html",  "regok.html",
                              "vaihdaok.html", "poista.html", "poisok.html", "error.html",
                              "unohtui.html", "palauta.html", "palautaok.html"};
const char* const kFragments[] = {"otsikko.html", "alaosa.html"};

// The tag handler's vocabulary; any other name would silently vanish.
bool KnownTag(const std::string& tag) {
  const std::vector<std::string_view>& known = KnownTemplateTags();
  return std::find(known.begin(), known.end(), tag) != known.end();
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

fs::path SiteFile(const std::string& lang, const std::string& file) {
  return fs::path(WO_SOURCE_DIR) / "site" / lang / file;
}

// Tag names as the template parser sees them: "<", blanks, "#", blanks, name.
std::set<std::string> TagsOf(const std::string& text) {
  std::set<std::string> tags;
  static const std::regex re(R"(<[\x01-\x20]*#[\x01-\x20]*([A-Za-z_][A-Za-z0-9_]*))");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
    std::string name = (*it)[1];
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    tags.insert(name);
  }
  return tags;
}

std::vector<std::string> FormsOf(const std::string& text) {
  std::vector<std::string> forms;
  static const std::regex re(R"(<form\b[^>]*>)", std::regex::icase);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
    forms.push_back(it->str());
  return forms;
}

std::vector<std::string> AllTemplates() {
  std::vector<std::string> v(std::begin(kPages), std::end(kPages));
  v.insert(v.end(), std::begin(kFragments), std::end(kFragments));
  return v;
}

TEST(SiteTemplates, EveryTemplateExistsInBothLanguages) {
  for (const char* lang : kLangs)
    for (const std::string& file : AllTemplates())
      EXPECT_TRUE(fs::is_regular_file(SiteFile(lang, file))) << lang << "/" << file;
}

TEST(SiteTemplates, AreWindows1252AndFitTheParser) {
  for (const char* lang : kLangs)
    for (const std::string& file : AllTemplates()) {
      std::string text = ReadFile(SiteFile(lang, file));
      ASSERT_FALSE(text.empty()) << lang << "/" << file;
      size_t lineStart = 0;
      for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // Bytes that Windows-1252 leaves undefined, and control characters.
        EXPECT_FALSE(c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D)
            << lang << "/" << file << ": undefined byte at " << i;
        EXPECT_FALSE(c < 0x20 && c != '\n' && c != '\r' && c != '\t') << lang << "/" << file << " at " << i;
        // A UTF-8 lead byte followed by a continuation byte: text that was
        // saved as UTF-8 (the pages would show "Ã¤" for "ä").
        if ((c == 0xC2 || c == 0xC3 || c == 0xE2) && i + 1 < text.size()) {
          unsigned char d = static_cast<unsigned char>(text[i + 1]);
          EXPECT_FALSE(d >= 0x80 && d <= 0xBF) << lang << "/" << file << ": UTF-8 sequence at " << i;
        }
        if (c == '\n') {
          // The parser reads through a 4096-byte buffer, one line at a time.
          EXPECT_LT(i - lineStart, 4000u) << lang << "/" << file << ": line too long";
          lineStart = i + 1;
        }
      }
    }
}

TEST(SiteTemplates, PagesDeclareCharsetReferrerPolicyAndLanguage) {
  for (const char* lang : kLangs)
    for (const char* file : kPages) {
      std::string text = Lower(ReadFile(SiteFile(lang, file)));
      SCOPED_TRACE(std::string(lang) + "/" + file);
      EXPECT_EQ(text.rfind("<!doctype html>", 0), 0u);
      EXPECT_NE(text.find("<meta charset=\"windows-1252\">"), std::string::npos);
      EXPECT_NE(text.find("<meta name=\"referrer\" content=\"no-referrer\">"), std::string::npos);
      EXPECT_NE(text.find("<meta name=\"viewport\""), std::string::npos);
      EXPECT_NE(text.find(std::string("<html lang=\"") + (std::string(lang) == "Eng" ? "en" : "fi") + "\">"),
                std::string::npos);
      EXPECT_NE(text.find("<link rel=\"stylesheet\" href=\"/weborvane.css\">"), std::string::npos);
      // The header and footer come from their own templates.
      std::set<std::string> tags = TagsOf(ReadFile(SiteFile(lang, file)));
      EXPECT_TRUE(tags.count("PGOTSIKKO"));
      EXPECT_TRUE(tags.count("PGOTSIKKOALA"));
    }
}

TEST(SiteTemplates, FormsUseGetAndKnownActions) {
  static const std::regex action(R"re(action="/cgi-bin/WebOrvane\.exe/(ChkLogin|SavReg|VaihdaSana|Viikko|Var|PoisVar|Unohtui|Palauta)")re");
  int forms = 0;
  for (const char* lang : kLangs)
    for (const std::string& file : AllTemplates()) {
      std::string text = ReadFile(SiteFile(lang, file));
      SCOPED_TRACE(std::string(lang) + "/" + file);
      EXPECT_EQ(Lower(text).find("method=\"post\""), std::string::npos);
      EXPECT_EQ(Lower(text).find("method=post"), std::string::npos);
      for (const std::string& form : FormsOf(text)) {
        ++forms;
        EXPECT_NE(Lower(form).find("method=\"get\""), std::string::npos) << form;
        EXPECT_TRUE(std::regex_search(form, action)) << form;
      }
    }
  // login, registration, password, resource choice, booking, cancellation,
  // the reset request and the new password.
  EXPECT_EQ(forms, 2 * 8);
}

TEST(SiteTemplates, UseOnlyTagsOfTheVocabulary) {
  for (const char* lang : kLangs)
    for (const std::string& file : AllTemplates())
      for (const std::string& tag : TagsOf(ReadFile(SiteFile(lang, file))))
        EXPECT_TRUE(KnownTag(tag)) << lang << "/" << file << ": <#" << tag << ">";
}

TEST(SiteTemplates, PagesCarryTheTagsTheyNeed) {
  const std::map<std::string, std::vector<std::string>> needs = {
      {"otsikko.html", {"PGMENU", "LOGO", "YRITYS", "ID", "LANG"}},
      {"alaosa.html", {"YRITYS", "YROSOITE1", "YROSOITE2", "YRPUHELIN", "YREMAIL"}},
      {"index.html", {"YRSAANTO", "ID", "LANG", "POISENNENPV", "ENNAKKOVARAUS", "ENNAKKOVARAUSPOIS"}},
      {"login.html", {"LANG", "YRSAANTO", "UNOHTUILINKKI"}},
      {"unohtui.html", {"LANG", "PALAUTUSVIESTI"}},
      {"palauta.html", {"VARPARAM", "PALAUTUSVIESTI"}},
      {"palautaok.html", {"LANG"}},
      {"regin.html",
       {"ID", "LANG", "RGTUNNUS", "RGPASSWORD", "RGSNIMI", "RGENIMI", "RGOS01", "RGOS02", "RGOS03", "RGEMAIL",
        "RGPUH", "RGMPUH", "RGNAPPI01", "YRSAANTO"}},
      {"vaihda.html", {"ID", "LANG"}},
      {"omat.html", {"OMATLISTA", "POISENNENPV", "ENNAKKOVARAUSPOIS"}},
      {"resval.html", {"ID", "LANG", "SELECTRESURSSI", "SELECTPP", "SELECTKK", "SELECTVV"}},
      {"viikko.html", {"RESURSSI", "VUOROLISTA", "EVKOLNK", "SVKOLNK"}},
      {"varaa.html", {"VARAUS", "VARPARAM", "SELECTKOODI", "ENNAKKOILMOITUS", "POISENNENPV", "ENNAKKOVARAUSPOIS"}},
      {"poista.html", {"VARAUS", "VARPARAM", "ENNAKKOVARAUSPOIS"}},
      {"regok.html", {"RGMODETXT", "ID", "LANG"}},
      {"error.html", {"ERROR"}},
  };
  for (const char* lang : kLangs)
    for (const auto& [file, tags] : needs) {
      std::set<std::string> have = TagsOf(ReadFile(SiteFile(lang, file)));
      for (const std::string& t : tags) EXPECT_TRUE(have.count(t)) << lang << "/" << file << " lacks <#" << t << ">";
    }
  // Both languages fill the same tags, so a page works alike in either.
  for (const std::string& file : AllTemplates())
    EXPECT_EQ(TagsOf(ReadFile(SiteFile("Fin", file))), TagsOf(ReadFile(SiteFile("Eng", file)))) << file;
}

// A link into the program that lacks the session logs the user out on the
// way; only the login and a new registration go without one. The header
// switches to the other language's start page with the session.
TEST(SiteTemplates, LinksKeepTheSessionAndTheLanguage) {
  static const std::regex link(R"re(href="/cgi-bin/WebOrvane\.exe/(\w+)\?([^"]*)")re", std::regex::icase);
  for (const char* lang : kLangs) {
    const std::string other = std::string(lang) == "Fin" ? "Eng" : "Fin";
    for (const std::string& file : AllTemplates()) {
      const std::string text = ReadFile(SiteFile(lang, file));
      SCOPED_TRACE(std::string(lang) + "/" + file);
      for (auto it = std::sregex_iterator(text.begin(), text.end(), link); it != std::sregex_iterator(); ++it) {
        const std::string action = Lower((*it)[1]), query = (*it)[2];
        const bool anonymous = action == "login" || (action == "regin" && query.rfind("ID=0&", 0) == 0);
        if (!anonymous) {
          EXPECT_EQ(query.rfind("ID=<#ID>&amp;", 0), 0u) << it->str();
        }
        EXPECT_TRUE(query.find("Lang=<#LANG>") != std::string::npos ||
                    (file == "otsikko.html" && query == "ID=<#ID>&amp;Lang=" + other))
            << it->str();
      }
    }
    EXPECT_NE(ReadFile(SiteFile(lang, "otsikko.html")).find("/Index?ID=<#ID>&amp;Lang=" + other + "\""),
              std::string::npos)
        << lang << ": no switch to " << other;
  }
}

TEST(SiteTemplates, EnglishPagesHoldNoFinnishLetters) {
  for (const std::string& file : AllTemplates()) {
    std::string text = ReadFile(SiteFile("Eng", file));
    for (unsigned char c : {0xE4, 0xF6, 0xC4, 0xD6, 0xE5})  // ä ö Ä Ö å
      EXPECT_EQ(text.find(static_cast<char>(c)), std::string::npos) << file;
  }
}

TEST(SiteTemplates, StaticFilesTheTemplatesReferToExist) {
  fs::path htdocs = fs::path(WO_SOURCE_DIR) / "site" / "htdocs";
  for (const char* f : {"weborvane.css", "logo.svg", "index.html", "saannot.html"})
    EXPECT_TRUE(fs::is_regular_file(htdocs / f)) << f;
}

// The English texts: one line per key, "ENG", key and text separated by tabs.
// Every key of the program's table, with a space at the start or the end
// where the Finnish default has one (the texts are joined to numbers and
// other texts).
TEST(SiteTexts, EnglishFileHasEveryKeyOnce) {
  std::ifstream f(fs::path(WO_SOURCE_DIR) / "site" / "texts" / "eng.tsv", std::ios::binary);
  ASSERT_TRUE(f) << "site/texts/eng.tsv";
  std::map<std::string, std::string> english;
  std::string line;
  int n = 0;
  while (std::getline(f, line)) {
    ++n;
    ASSERT_TRUE(line.empty() || line.back() != '\r') << "line " << n << " ends with CR";
    size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
    ASSERT_NE(t2, std::string::npos) << "line " << n;
    EXPECT_EQ(line.find('\t', t2 + 1), std::string::npos) << "line " << n;
    EXPECT_EQ(line.substr(0, t1), "ENG") << "line " << n;
    std::string key = line.substr(t1 + 1, t2 - t1 - 1), text = line.substr(t2 + 1);
    EXPECT_TRUE(english.emplace(key, text).second) << "key " << key << " twice";
    EXPECT_FALSE(text.empty()) << key;
    EXPECT_LE(text.size(), 120u) << key;  // KAANNOS.LGTeksti
    for (unsigned char c : text) EXPECT_LT(c, 0x80) << key << ": the English texts are plain ASCII";
  }
  EXPECT_EQ(english.size(), std::size(texts::kAll));
  for (const TextDef& k : texts::kAll) {
    auto it = english.find(std::string(k.key));
    ASSERT_NE(it, english.end()) << k.key << " missing";
    const std::string& t = it->second;
    EXPECT_EQ(t.front() == ' ', k.fin.front() == ' ') << k.key << ": \"" << t << "\"";
    EXPECT_EQ(t.back() == ' ', k.fin.back() == ' ') << k.key << ": \"" << t << "\"";
  }
}

}  // namespace
}  // namespace wo
