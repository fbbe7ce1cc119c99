#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Feed HTML made safe for the news page. A feed's markup is read by an HTML5 parser (gumbo) as the
// browser itself will read it, and only an allowlist of elements and attributes is written back,
// so nothing a text scan would miss ("<A\nHREF", "SRC =", an unquoted attribute) reaches the view.

// A description as the page shows it: paragraphs, lists, tables, quotes, links and inline markup
// stay; script, style, iframe, object, embed, form, svg, math and their kind go with their content;
// video and audio become links to their media; any other element gives way to its text. Only
// href, src, alt, title, width, height, colspan, rowspan, datetime and cite stay; a link must be
// http, https or mailto and a picture or cite http or https, relative ones made absolute against
// baseURL (dropped when it is empty). Every link opens outside the view (target="_blank",
// rel="noopener noreferrer"). Without pictures no img is left. Cleaning the result again changes
// nothing. A description is cut at 4 MiB, and where its elements nest deeper than 1000.
std::string CleanDescriptionHtml(std::string_view html, const std::string& baseURL, bool picturesShown);
// As above; holdsPicture tells whether the result shows a picture (an img kept with its address).
std::string CleanDescriptionHtml(std::string_view html, const std::string& baseURL, bool picturesShown,
                                 bool& holdsPicture);

// A picture of the address as a description's own would be written (<img src="..." alt="">); ""
// without pictures or when the address is not one a picture may load.
std::string PictureHtml(std::string_view address, const std::string& baseURL, bool picturesShown);

// A link to the address with the text as its words, opening outside the view as a description's
// links do; "" when the address is not http or https.
std::string LinkHtml(std::string_view address, const std::string& baseURL, std::string_view text);

// A title as the page shows it: b, i, em, strong, code, sub, sup and span without attributes; any
// other element gives way to its text, script and style go with theirs. An encoded
// "&lt;b&gt;x&lt;/b&gt;", which the XML reader gives as "<b>x</b>", so stays bold.
std::string CleanTitleHtml(std::string_view html);

// The text with &, <, >, " and ' written as entities, for element text or a quoted attribute value.
std::string EscapeHtml(std::string_view text);
void AppendEscapedHtml(std::string& out, std::string_view text);

// The address as a page may use it: tabs and line breaks removed and the ends trimmed, as the
// browser does; a relative one resolved against baseURL (http or https only); then kept only when
// its scheme is http or https, or mailto when allowMailto, and it holds no control character.
// "" otherwise (javascript:, data:, file:, a relative address without a base).
std::string SafePageURL(std::string_view address, const std::string& baseURL, bool allowMailto);

namespace detail {

// The most a description may hold before it is cut, and how deep its elements may nest.
constexpr size_t kMaxCleanedInput = 4u << 20;
constexpr size_t kMaxNesting = 1000;

// The length of the part of html that the parser is given: the whole text, or the text up to the
// start tag that would open more than maxNesting elements at once by a cheap count. The count
// errs on the deep side (tags inside comments, raw text and attribute values count as opening,
// and end tags there close nothing), so no markup nests deeper in the parser than it says; it
// guards time and stack only, what stays is the parser's decision.
size_t NestingCut(std::string_view html, size_t maxNesting);

} // namespace detail
