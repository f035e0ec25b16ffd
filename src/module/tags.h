// The template tags: the one tag handler that every page shares, and the
// small renderers it calls that read no booking table of their own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wo {

struct RequestContext;
struct PageState;

// The replacement text of the tag `tag` (names compare without case) on
// the page of `ctx`; "" for a tag that is not in KnownTemplateTags(). The
// header tags expand their templates through this handler; inside them the
// header tags yield nothing. VUOROLISTA and OMATLISTA are drawn by the
// booking floor (ctx.renderers). Throws TemplateError for a header template
// that cannot be read.
std::string PageProdRootHTMLTag(RequestContext& ctx, std::string_view tag);

// The tags of the templates, in upper case: the names PageProdRootHTMLTag
// answers; any other tag vanishes.
const std::vector<std::string_view>& KnownTemplateTags();

// The files of each template folder: the page of every action, the error
// page and the page header that <#PGOTSIKKO> inserts by default.
inline constexpr const char* kTemplatePages[] = {
    "index.html", "login.html",   "regin.html",  "vaihda.html",   "omat.html", "resval.html",
    "viikko.html", "varok.html",  "varaa.html",  "regok.html",    "vaihdaok.html", "poista.html",
    "poisok.html", "error.html",  "otsikko.html"};
// The pages of the password reset by e-mail, which a site needs with
// [Features] Mail on.
inline constexpr const char* kResetPages[] = {"unohtui.html", "palauta.html", "palautaok.html"};

// SELECTKOODI: the web codes of resource `resNo` (cut to its width) as a
// table row with a selection, or "" when the resource has none. Under INI
// [Features] PageLanguage a code shows its site text (WebCodeTextKey) in
// the page's language where KAANNOS has one; under OwnListDetails the
// selection has the id "Koodi" and its label names it.
std::string BuildCodeSelect(RequestContext& ctx, std::string_view resNo);
// The KAANNOS key of the name of web code `code` of resource `resNo`:
// "WEBKOODI/" + resNo + "/" + code, both trimmed ("WEBKOODI/201/MAIL").
std::string WebCodeTextKey(std::string_view resNo, std::string_view code);

// RESURSSI: page.ResourceName, HTML-escaped when it is the request's own
// code (the lookup found no name).
std::string ResourceNameHtml(const PageState& page);

// ERROR: the message of page.ErrorCode.
std::string ErrorText(RequestContext& ctx);

}  // namespace wo
