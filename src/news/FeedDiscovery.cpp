#include "news/FeedDiscovery.h"

#include <cctype>
#include <map>
#include <set>

#include "news/FeedLayout.h"
#include "news/JsonFeed.h"
#include "news/NewsTypeCls.h"
#include "platform/Charset.h"
#include "url/Url.h"
#include "xml/XMLEntities.h"
#include "xml/XMLNode.h"

namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text at pos begins with word, ASCII letter case ignored.
bool StartsWithText(std::string_view text, size_t pos, std::string_view word) {
    if (text.size() - pos < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if (LowerAscii(text[pos + i]) != word[i])
            return false;
    return true;
}

void AppendUTF8(std::string& out, unsigned long code) {
    // Nothing that is no character: surrogates, values past U+10FFFF and NUL become U+FFFD.
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The named references page titles carry; names are case-sensitive in HTML.
const std::map<std::string_view, unsigned long>& NamedReferences() {
    static const std::map<std::string_view, unsigned long> names = {
        {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},      {"apos", '\''},
        {"nbsp", 0xA0},    {"copy", 0xA9},    {"reg", 0xAE},     {"laquo", 0xAB},    {"raquo", 0xBB},
        {"middot", 0xB7},  {"ndash", 0x2013}, {"mdash", 0x2014}, {"lsquo", 0x2018},  {"rsquo", 0x2019},
        {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bull", 0x2022},  {"hellip", 0x2026}, {"trade", 0x2122},
        {"euro", 0x20AC},  {"rarr", 0x2192}};
    return names;
}

// One start tag's attributes: names lower-cased, values decoded, the first of a repeated name
// kept.
using TAttributes = std::map<std::string, std::string>;

// Reads the attributes of the tag whose name ends at pos, up to and including its ">"; returns
// the position after it (text's end when the tag is not closed).
size_t ReadAttributes(std::string_view text, size_t pos, TAttributes& attributes) {
    const size_t n = text.size();
    while (pos < n) {
        while (pos < n && (IsHtmlSpace(text[pos]) || text[pos] == '/'))
            ++pos;
        if (pos >= n)
            break;
        if (text[pos] == '>')
            return pos + 1;
        std::string name;
        while (pos < n && !IsHtmlSpace(text[pos]) && text[pos] != '=' && text[pos] != '>' &&
               !(text[pos] == '/' && !name.empty()))
            name += LowerAscii(text[pos++]);
        while (pos < n && IsHtmlSpace(text[pos]))
            ++pos;
        std::string_view value;
        if (pos < n && text[pos] == '=') {
            ++pos;
            while (pos < n && IsHtmlSpace(text[pos]))
                ++pos;
            if (pos < n && (text[pos] == '"' || text[pos] == '\'')) {
                const char quote = text[pos++];
                const size_t end = std::min(text.find(quote, pos), n);
                value = text.substr(pos, end - pos);
                pos = end < n ? end + 1 : n;
            } else {
                const size_t start = pos;
                while (pos < n && !IsHtmlSpace(text[pos]) && text[pos] != '>')
                    ++pos;
                value = text.substr(start, pos - start);
            }
        }
        if (!name.empty() && attributes.find(name) == attributes.end())
            attributes.emplace(std::move(name), DecodeHtmlReferences(value));
    }
    return n;
}

// Whether the space-separated list holds word, ASCII letter case ignored.
bool ListHasWord(std::string_view list, std::string_view word) {
    size_t pos = 0;
    while (pos < list.size()) {
        while (pos < list.size() && IsHtmlSpace(list[pos]))
            ++pos;
        const size_t start = pos;
        while (pos < list.size() && !IsHtmlSpace(list[pos]))
            ++pos;
        if (pos > start && SameTextAscii(list.substr(start, pos - start), word))
            return true;
    }
    return false;
}

// The feed type a link's type attribute names, lower-cased; "" for any other type.
std::string FeedType(std::string_view type) {
    type = TrimView(type.substr(0, type.find(';')));
    const std::string lower = LowerCaseAscii(std::string(type));
    for (const char* known :
         {"application/rss+xml", "application/atom+xml", "application/rdf+xml", "application/feed+json"})
        if (lower == known)
            return lower;
    return std::string();
}

// Whether a link typed plain application/json is a feed: JSON Feed 1.0 told sites to announce
// themselves so, but so do the pages of many blogs for their content API ("/wp-json/wp/v2/..."),
// so such a link counts only when its address or title speaks of a feed.
bool IsJsonFeedLink(std::string_view type, std::string_view href, std::string_view title) {
    if (!SameTextAscii(TrimView(type.substr(0, type.find(';'))), "application/json"))
        return false;
    const auto speaksOfFeed = [](std::string_view text) {
        return LowerCaseAscii(std::string(text)).find("feed") != std::string::npos;
    };
    return speaksOfFeed(href) || speaksOfFeed(title);
}

struct TFoundLink {
    std::string Href;
    std::string Title;
    std::string Type;
};

} // namespace

std::string DecodeHtmlReferences(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t amp = text.find('&', pos);
        if (amp == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, amp - pos));
        pos = amp + 1;
        if (pos < text.size() && text[pos] == '#') {
            size_t p = pos + 1;
            const bool hex = p < text.size() && (text[p] == 'x' || text[p] == 'X');
            if (hex)
                ++p;
            unsigned long code = 0;
            const size_t digits = p;
            while (p < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[p]))
                                           : std::isdigit(static_cast<unsigned char>(text[p])))) {
                if (code <= 0x10FFFF) {
                    const char c = LowerAscii(text[p]);
                    code = code * (hex ? 16 : 10) +
                           static_cast<unsigned long>(c <= '9' ? c - '0' : c - 'a' + 10);
                }
                ++p;
            }
            if (p > digits) {
                AppendUTF8(out, code);
                pos = p < text.size() && text[p] == ';' ? p + 1 : p;
                continue;
            }
        } else {
            size_t p = pos;
            while (p < text.size() && std::isalnum(static_cast<unsigned char>(text[p])))
                ++p;
            if (p < text.size() && text[p] == ';') {
                const auto& names = NamedReferences();
                const auto found = names.find(text.substr(pos, p - pos));
                if (found != names.end()) {
                    AppendUTF8(out, found->second);
                    pos = p + 1;
                    continue;
                }
            }
        }
        out += '&';
    }
    return out;
}

std::vector<TDiscoveredFeed> FindFeedLinks(std::string_view html, const std::string& pageURL,
                                           const std::string& charset) {
    std::vector<TFoundLink> links;
    std::string baseHref;
    bool hasBase = false;
    std::string pageCharset;
    const size_t n = html.size();
    size_t pos = 0;
    while (pos < n) {
        const size_t lt = html.find('<', pos);
        if (lt == std::string_view::npos)
            break;
        pos = lt + 1;
        if (StartsWithText(html, pos, "!--")) {
            const size_t end = html.find("-->", pos + 3);
            pos = end == std::string_view::npos ? n : end + 3;
            continue;
        }
        const bool endTag = pos < n && html[pos] == '/';
        if (endTag)
            ++pos;
        std::string name;
        while (pos < n &&
               (std::isalnum(static_cast<unsigned char>(html[pos])) || html[pos] == '-' || html[pos] == ':'))
            name += LowerAscii(html[pos++]);
        if (name.empty())
            continue;
        if ((endTag && name == "head") || (!endTag && name == "body"))
            break;
        TAttributes attributes;
        pos = ReadAttributes(html, pos, attributes);
        if (endTag)
            continue;
        if (name == "script" || name == "style") {
            // Raw text: nothing inside is a tag.
            const std::string close = "</" + name;
            while (pos < n && !StartsWithText(html, pos, close)) {
                const size_t next = html.find("</", pos + 1);
                pos = next == std::string_view::npos ? n : next;
            }
            continue;
        }
        if (name == "base" && !hasBase && attributes.count("href")) {
            baseHref = attributes["href"];
            hasBase = true;
        } else if (name == "meta" && pageCharset.empty()) {
            if (attributes.count("charset"))
                pageCharset = LowerCaseAscii(std::string(TrimView(attributes["charset"])));
            else if (SameTextAscii(TrimView(attributes["http-equiv"]), "content-type"))
                pageCharset = CharsetParameter(attributes["content"]);
        } else if (name == "link") {
            std::string type = FeedType(attributes["type"]);
            const std::string_view href = TrimView(attributes["href"]);
            if (type.empty() && IsJsonFeedLink(attributes["type"], href, attributes["title"]))
                type = "application/json";
            if (!type.empty() && !href.empty() && ListHasWord(attributes["rel"], "alternate"))
                links.push_back({std::string(href), attributes["title"], type});
        }
    }

    const std::string base = hasBase ? ResolveURL(pageURL, baseHref) : pageURL;
    const std::string titleCharset = LowerCaseAscii(charset.empty() ? pageCharset : charset);
    std::vector<TDiscoveredFeed> feeds;
    std::set<std::string> seen;
    for (TFoundLink& link : links) {
        // Only what the reader can fetch is offered: a javascript:, data: or file: link is no
        // feed, whatever its type says.
        const std::string resolved = ResolveURL(base, link.Href);
        const std::string scheme = URLScheme(resolved);
        const std::optional<TUrl> address = ParseURL(resolved);
        if (!address || (scheme != "http" && scheme != "https" && scheme != "feed"))
            continue;
        std::string url = address->Text();
        if (!seen.insert(url).second)
            continue;
        feeds.push_back({Trim(ConvertCharset(std::move(link.Title), titleCharset)), std::move(url),
                         std::move(link.Type)});
    }
    return feeds;
}

bool IsFeedDocument(const std::string& body, std::string* title) {
    if (IsJsonText(body)) {
        try {
            const TJsonFeed feed = ParseJsonFeed(body);
            if (title)
                *title = Trim(feed.Title);
            return true;
        } catch (const Exception&) {
            return false;
        }
    }
    TXMLNode document;
    document.LoadFromString(body);
    const TFeedLayout layout = FeedLayout(document);
    if (layout.Format == TFeedFormat::None)
        return false;
    if (title) {
        title->clear();
        // RSS and RDF keep the title in their channel, Atom on the feed itself.
        const TXMLNode* holder = layout.Format == TFeedFormat::Atom ? layout.Root
                                 : layout.Format == TFeedFormat::Rss
                                     ? layout.Parent
                                     : FindChild(*layout.Root, layout.Name("channel"), layout.Scope);
        TNamespaceScope room;
        const TXMLNode* element =
            holder ? FindChild(*holder, layout.Name("title"), ScopeInside(*holder, layout.Scope, room))
                   : nullptr;
        if (element) {
            std::string encoding;
            if (document.HasChild("?xml"))
                encoding = LowerCaseAscii(
                    std::string(document.ChildByName("?xml").Attributes.ValueOf("encoding").RawText()));
            *title = Trim(ConvertCharset(element->Value.DecodedText(), encoding));
        }
    }
    return true;
}
