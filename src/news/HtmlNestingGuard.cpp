// The nesting guard in front of the HTML parser.
#include "news/HtmlCleaner.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SysUtils.h"

// The parser takes time in the square of the nesting, so the text it gets is cut before the
// start tag that a count puts deeper than the limit. The count never under-reads the nesting:
// every "<" and a letter pushes its name (inside comments, raw text and attribute values too),
// while an end tag pops only when it is surely one (not inside any of these) and names the
// innermost element counted, or the one just below the elements that end by themselves (the li of
// "<ul><li>" at "</ul>"). Of the closings the parser makes by itself only those that happen
// whatever lies between are followed: a p by a block, an li by an li, a dd or dt by either, a
// cell by a cell or row. Inside svg and math everything nests but what closes itself ("<path/>").

namespace {

bool IsTagSpace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool NameIs(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Where a tag's name ends: at a space, "/" or ">".
size_t TagNameEnd(std::string_view html, size_t at) {
    while (at < html.size() && !IsTagSpace(html[at]) && html[at] != '/' && html[at] != '>')
        ++at;
    return at;
}

// Past the ">" that ends a tag whose name ends at at, by the tokenizer's states for attributes
// (a quote opens a value only after "="); html.size() when the tag does not end.
size_t TagEnd(std::string_view html, size_t at, bool& selfClosing) {
    enum {
        kName,
        kBeforeAttribute,
        kAttribute,
        kAfterAttribute,
        kBeforeValue,
        kQuoted,
        kUnquoted,
        kAfterQuoted,
        kSelfClosing
    } state = kName;
    char quote = 0;
    selfClosing = false;
    for (; at < html.size(); ++at) {
        const char c = html[at];
        const bool space = IsTagSpace(c);
        switch (state) {
        case kQuoted:
            if (c == quote)
                state = kAfterQuoted;
            continue;
        case kBeforeValue:
            if (space)
                continue;
            if (c == '"' || c == '\'') {
                quote = c;
                state = kQuoted;
                continue;
            }
            if (c == '>')
                return at + 1;
            state = kUnquoted;
            continue;
        case kUnquoted:
            if (space)
                state = kBeforeAttribute;
            else if (c == '>')
                return at + 1;
            continue;
        default:
            break;
        }
        if (c == '>') {
            selfClosing = state == kSelfClosing;
            return at + 1;
        }
        if (space) {
            state = state == kAttribute || state == kAfterAttribute ? kAfterAttribute : kBeforeAttribute;
        } else if (c == '/') {
            state = kSelfClosing;
        } else if (c == '=' && (state == kAttribute || state == kAfterAttribute)) {
            state = kBeforeValue;
        } else if (state != kName) {
            state = kAttribute;
        }
    }
    return html.size();
}

// Whether html holds, at at, "<" or "</" (end) and name in any case, then a space, "/" or ">".
bool IsTagAt(std::string_view html, size_t at, std::string_view name, bool end) {
    const size_t open = end ? 2 : 1;
    if (html.size() < at + open + name.size() + 1 || html.compare(at, open, end ? "</" : "<") != 0)
        return false;
    const char after = html[at + open + name.size()];
    return SameTextAscii(html.substr(at + open, name.size()), name) &&
           (IsTagSpace(after) || after == '/' || after == '>');
}

// Where the raw text of an element that ends at from ends: at its end tag, html.size() without.
// A script's text can hide its end tag inside "<!--" and "<script": the count takes the longest
// reading.
size_t RawTextEnd(std::string_view html, size_t from, std::string_view name) {
    const bool script = name == "script";
    int escaped = 0; // 1 after "<!--", 2 after a "<script" there
    // The first "-->" from where it was last looked for; searched again only once passed, so a
    // script without one costs one search.
    size_t close = 0;
    const auto nextClose = [&](size_t at) {
        if (close != std::string_view::npos && close < at)
            close = html.find("-->", at);
    };
    for (size_t at = html.find('<', from); at != std::string_view::npos; at = html.find('<', at + 1)) {
        if (escaped == 1 && close < at)
            escaped = 0;
        if (IsTagAt(html, at, name, true)) {
            if (escaped < 2)
                return at;
            escaped = 1;
            nextClose(at);
        } else if (script && escaped == 0 && html.compare(at, 4, "<!--") == 0) {
            escaped = 1;
            nextClose(at + 4);
        } else if (script && escaped == 1 && IsTagAt(html, at, "script", false)) {
            escaped = 2;
        }
    }
    return html.size();
}

// Past the first what at or after from; html.size() without.
size_t Past(std::string_view html, size_t from, std::string_view what) {
    const size_t at = html.find(what, from);
    return at == std::string_view::npos ? html.size() : at + what.size();
}

// The rank of a table part: a cell, a row or a row group closes the open parts of its rank or
// below; 0 for anything else.
int TablePartRank(std::string_view name) {
    if (name == "td" || name == "th")
        return 1;
    if (name == "tr")
        return 2;
    return NameIs(name, {"tbody", "thead", "tfoot"}) ? 3 : 0;
}

// Elements that the parser closes without their end tag: a p, li, dd or dt, an option, a ruby
// part; in a table also cells, rows, row groups and captions.
bool EndsByItself(std::string_view name, bool inTable) {
    return NameIs(name, {"p", "li", "dd", "dt", "option", "optgroup", "rb", "rp", "rt", "rtc"}) ||
           (inTable && NameIs(name, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "colgroup"}));
}

// End tags that close those elements open above their own element ("</ul>" after "<li>"): the
// block-level ones, whose element the parser never leaves out when it meets the start tag.
bool ClosesWhatEndsByItself(std::string_view name) {
    return NameIs(name,
                  {"address", "article", "aside",    "blockquote", "center", "details", "dialog",  "dir",
                   "div",     "dl",      "fieldset", "figcaption", "figure", "footer",  "header",  "hgroup",
                   "listing", "main",    "menu",     "nav",        "ol",     "pre",     "section", "summary",
                   "ul",      "li",      "dd",       "dt",         "p",      "table"});
}

// Pops the innermost counted elements that the parser closes when a start tag named name comes.
void CloseImplied(std::vector<std::string>& open, const std::string& name) {
    if (!open.empty() && open.back() == "p" &&
        NameIs(name,
               {"address", "article", "aside",    "blockquote", "center", "details", "dialog",  "dir",
                "div",     "dl",      "fieldset", "figcaption", "figure", "footer",  "header",  "hgroup",
                "main",    "menu",    "nav",      "ol",         "p",      "section", "summary", "ul",
                "h1",      "h2",      "h3",       "h4",         "h5",     "h6",      "pre",     "listing",
                "form",    "table",   "hr",       "xmp",        "li",     "dd",      "dt"}))
        open.pop_back();
    if (open.empty())
        return;
    if (name == "li" && open.back() == "li")
        open.pop_back();
    else if ((name == "dd" || name == "dt") && (open.back() == "dd" || open.back() == "dt"))
        open.pop_back();
    const int rank = TablePartRank(name);
    while (rank > 0 && !open.empty() && TablePartRank(open.back()) > 0 && TablePartRank(open.back()) <= rank)
        open.pop_back();
}

} // namespace

size_t detail::NestingCut(std::string_view html, size_t maxNesting) {
    std::vector<std::string> open;
    size_t foreign = 0; // svg and math elements counted open
    size_t quiet = 0;   // before this, a "<" may be no tag at all
    for (size_t at = html.find('<'); at != std::string_view::npos && at + 1 < html.size();
         at = html.find('<', at + 1)) {
        const bool sure = at >= quiet;
        const char c = html[at + 1];
        if (IsAsciiLetter(c)) {
            const size_t nameEnd = TagNameEnd(html, at + 1);
            const std::string name = LowerCaseAscii(std::string(html.substr(at + 1, nameEnd - at - 1)));
            bool selfClosing = false;
            if (sure) {
                quiet = TagEnd(html, nameEnd, selfClosing);
                if (NameIs(name, {"script", "style", "xmp", "iframe", "noembed", "noframes", "noscript",
                                  "textarea", "title"}))
                    quiet = RawTextEnd(html, quiet, name);
                else if (name == "plaintext")
                    quiet = html.size();
                if (foreign == 0)
                    CloseImplied(open, name);
            }
            const bool nests = foreign > 0
                                   ? !(sure && selfClosing)
                                   : !NameIs(name, {"area", "base", "basefont", "bgsound", "br", "col",
                                                    "embed", "hr", "img", "image", "input", "keygen", "link",
                                                    "meta", "param", "source", "track", "wbr"});
            if (nests) {
                if (open.size() >= maxNesting)
                    return at;
                open.push_back(name);
                if (name == "svg" || name == "math")
                    ++foreign;
            }
        } else if (c == '/' && at + 2 < html.size() && IsAsciiLetter(html[at + 2])) {
            const size_t nameEnd = TagNameEnd(html, at + 2);
            if (!sure)
                continue;
            bool selfClosing = false;
            quiet = TagEnd(html, nameEnd, selfClosing);
            const std::string name = LowerCaseAscii(std::string(html.substr(at + 2, nameEnd - at - 2)));
            // The elements that end by themselves above the one named close with it.
            size_t below = open.size();
            if (foreign == 0 && ClosesWhatEndsByItself(name))
                while (below > 0 && open[below - 1] != name && EndsByItself(open[below - 1], name == "table"))
                    --below;
            if (below > 0 && open[below - 1] == name) {
                if (name == "svg" || name == "math")
                    --foreign;
                open.resize(below - 1);
            }
        } else if (sure && c == '!' && html.compare(at + 1, 3, "!--") == 0) {
            quiet = Past(html, at + 4, "-->");
        } else if (sure && c == '!' && html.compare(at + 1, 8, "![CDATA[") == 0) {
            quiet = Past(html, at + 9, "]]>");
        } else if (sure && (c == '!' || c == '?' || c == '/')) {
            quiet = Past(html, at + 1, ">"); // a bogus comment
        }
    }
    return html.size();
}
