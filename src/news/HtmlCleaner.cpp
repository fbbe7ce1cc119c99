// Feed HTML through an HTML5 parser and an allowlist, written back so that the browser reads the
// same tree again.
#include "news/HtmlCleaner.h"

#include <gumbo.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "platform/SysUtils.h"
#include "url/Url.h"

namespace {

using detail::kMaxCleanedInput;
using detail::kMaxNesting;

// What the cleaner writes at most: the room left below the input cap is for the end tags of the
// elements still open, so a cleaned text is never cut when it is cleaned again.
constexpr size_t kMaxOutput = kMaxCleanedInput - (64u << 10);

bool IsIn(GumboTag tag, std::initializer_list<GumboTag> tags) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// ---- Which elements stay ------------------------------------------------------------------

enum class TProfile { Description, Title };
enum class TAction { Keep, Unwrap, Drop, Media };

TAction ActionOf(GumboTag tag, TProfile profile) {
    if (IsIn(tag,
             {GUMBO_TAG_SCRIPT,   GUMBO_TAG_STYLE, GUMBO_TAG_IFRAME, GUMBO_TAG_OBJECT,   GUMBO_TAG_EMBED,
              GUMBO_TAG_FORM,     GUMBO_TAG_META,  GUMBO_TAG_LINK,   GUMBO_TAG_BASE,     GUMBO_TAG_NOSCRIPT,
              GUMBO_TAG_TEMPLATE, GUMBO_TAG_SVG,   GUMBO_TAG_MATH,   GUMBO_TAG_NOEMBED,  GUMBO_TAG_NOFRAMES,
              GUMBO_TAG_FRAMESET, GUMBO_TAG_FRAME, GUMBO_TAG_TITLE,  GUMBO_TAG_TEXTAREA, GUMBO_TAG_SELECT}))
        return TAction::Drop;
    if (profile == TProfile::Title) {
        if (IsIn(tag, {GUMBO_TAG_VIDEO, GUMBO_TAG_AUDIO}))
            return TAction::Drop;
        return IsIn(tag, {GUMBO_TAG_B, GUMBO_TAG_I, GUMBO_TAG_EM, GUMBO_TAG_STRONG, GUMBO_TAG_CODE,
                          GUMBO_TAG_SUB, GUMBO_TAG_SUP, GUMBO_TAG_SPAN})
                   ? TAction::Keep
                   : TAction::Unwrap;
    }
    if (IsIn(tag, {GUMBO_TAG_VIDEO, GUMBO_TAG_AUDIO}))
        return TAction::Media;
    return IsIn(tag,
                {GUMBO_TAG_P,     GUMBO_TAG_BR,    GUMBO_TAG_HR,    GUMBO_TAG_H1,     GUMBO_TAG_H2,
                 GUMBO_TAG_H3,    GUMBO_TAG_H4,    GUMBO_TAG_H5,    GUMBO_TAG_H6,     GUMBO_TAG_BLOCKQUOTE,
                 GUMBO_TAG_PRE,   GUMBO_TAG_CODE,  GUMBO_TAG_UL,    GUMBO_TAG_OL,     GUMBO_TAG_LI,
                 GUMBO_TAG_DL,    GUMBO_TAG_DT,    GUMBO_TAG_DD,    GUMBO_TAG_TABLE,  GUMBO_TAG_CAPTION,
                 GUMBO_TAG_THEAD, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_TR,     GUMBO_TAG_TH,
                 GUMBO_TAG_TD,    GUMBO_TAG_A,     GUMBO_TAG_IMG,   GUMBO_TAG_FIGURE, GUMBO_TAG_FIGCAPTION,
                 GUMBO_TAG_B,     GUMBO_TAG_I,     GUMBO_TAG_EM,    GUMBO_TAG_STRONG, GUMBO_TAG_S,
                 GUMBO_TAG_U,     GUMBO_TAG_SMALL, GUMBO_TAG_SUB,   GUMBO_TAG_SUP,    GUMBO_TAG_SPAN,
                 GUMBO_TAG_DIV,   GUMBO_TAG_ABBR,  GUMBO_TAG_Q,     GUMBO_TAG_CITE,   GUMBO_TAG_TIME,
                 GUMBO_TAG_DEL,   GUMBO_TAG_INS,   GUMBO_TAG_MARK})
               ? TAction::Keep
               : TAction::Unwrap;
}

bool IsVoid(GumboTag tag) {
    return IsIn(tag, {GUMBO_TAG_BR, GUMBO_TAG_HR, GUMBO_TAG_IMG});
}

bool IsHeading(GumboTag tag) {
    return IsIn(tag, {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
}

// The kept elements whose start closes an open p (in "button scope").
bool ClosesParagraph(GumboTag tag) {
    return IsHeading(tag) ||
           IsIn(tag, {GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_DIV, GUMBO_TAG_DL, GUMBO_TAG_FIGCAPTION,
                      GUMBO_TAG_FIGURE, GUMBO_TAG_OL, GUMBO_TAG_UL, GUMBO_TAG_P, GUMBO_TAG_PRE,
                      GUMBO_TAG_TABLE, GUMBO_TAG_HR, GUMBO_TAG_LI, GUMBO_TAG_DD, GUMBO_TAG_DT});
}

// The kept elements of the parser's "special" category that stop the search for an li, dd or dt
// to close (div and p do not).
bool StopsListSearch(GumboTag tag) {
    return IsHeading(tag) ||
           IsIn(tag, {GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_CAPTION, GUMBO_TAG_DD, GUMBO_TAG_DL, GUMBO_TAG_DT,
                      GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_LI, GUMBO_TAG_OL, GUMBO_TAG_PRE,
                      GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TFOOT, GUMBO_TAG_TH,
                      GUMBO_TAG_THEAD, GUMBO_TAG_TR, GUMBO_TAG_UL});
}

// Inside these only rows, cells and their groups stand; text there would be moved out of the table.
bool IsTableFrame(GumboTag tag) {
    return IsIn(tag, {GUMBO_TAG_TABLE, GUMBO_TAG_THEAD, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_TR});
}

// Attributes kept as text wherever they stand.
bool IsTextAttribute(const char* name) {
    for (const char* allowed : {"alt", "title", "width", "height", "colspan", "rowspan", "datetime"})
        if (std::strcmp(name, allowed) == 0)
            return true;
    return false;
}

// The length of the well-formed UTF-8 character at text[i], with its code point; 0 when the
// bytes there are not one.
size_t Utf8Character(std::string_view text, size_t i, uint32_t& code) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    const size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    code = c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Text from the parser, escaped, and written so that the parser reads it back the same: what
// its input stage replaces by U+FFFD (most control characters, noncharacters, bytes that are no
// UTF-8, which its own references can give) is written as U+FFFD, and a carriage return, which
// it would read as a line break, as a reference.
void AppendParsedText(std::string& out, std::string_view text) {
    size_t from = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        size_t length = Utf8Character(text, i, code);
        const bool replaced = length == 0 || (code >= 0x01 && code <= 0x08) || code == 0x0B ||
                              (code >= 0x0E && code <= 0x1F) || (code >= 0x7F && code <= 0x9F) ||
                              (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE || code == 0;
        length = std::max<size_t>(length, 1);
        if (replaced || code == '\r') {
            AppendEscapedHtml(out, text.substr(from, i - from));
            out += replaced ? "\xEF\xBF\xBD" : "&#13;";
            from = i + length;
        }
        i += length;
    }
    AppendEscapedHtml(out, text.substr(from));
}

// ---- The parser's memory ------------------------------------------------------------------

// Gumbo's memory for one parse, released at once with the arena: the parser's own release walks
// the tree recursively, which a deep document would overflow the stack with.
class TParseArena {
public:
    TParseArena() = default;
    ~TParseArena() {
        for (void* block : FBlocks)
            std::free(block);
    }
    TParseArena(const TParseArena&) = delete;
    TParseArena& operator=(const TParseArena&) = delete;

    static void* Allocate(void* arena, size_t size) { return static_cast<TParseArena*>(arena)->Take(size); }
    static void Release(void*, void*) {}

private:
    void* Take(size_t size) {
        size = (size + 15) & ~size_t(15);
        if (size > FLeft) {
            FBlockSize = std::max(std::min<size_t>(FBlockSize * 2, 8u << 20), size);
            FNext = static_cast<char*>(std::malloc(FBlockSize));
            if (!FNext)
                std::abort(); // the parser has no way to fail
            FBlocks.push_back(FNext);
            FLeft = FBlockSize;
        }
        void* block = FNext;
        FNext += size;
        FLeft -= size;
        return block;
    }

    std::vector<void*> FBlocks;
    char* FNext = nullptr;
    size_t FLeft = 0;
    size_t FBlockSize = 8u << 10;
};

// ---- Writing the allowed tree -------------------------------------------------------------

// Writes the allowed part of a parsed fragment so that parsing the result gives that same tree:
// an element the parser would move or close where it stands (a p inside a p, a link inside a
// link, a cell outside a row) gives way to its content, as one that is not allowed does.
class TWriter {
public:
    TWriter(TProfile profile, const std::string& baseURL, bool picturesShown)
        : FProfile(profile), FBase(baseURL), FPictures(picturesShown) {}

    // Text that holds no markup, as the parser would give it back.
    std::string WriteText(std::string_view text) {
        AppendText(text);
        return std::move(FOut);
    }

    // Whether an img was written.
    bool WrotePicture() const { return FPicture; }

    std::string Write(const GumboNode& root) {
        FFrames.push_back({&root.v.element.children, 0, GUMBO_TAG_LAST});
        while (!FFrames.empty()) {
            TFrame& frame = FFrames.back();
            if (frame.Next == frame.Children->length) {
                if (frame.Closes != GUMBO_TAG_LAST) {
                    FOut.append("</").append(gumbo_normalized_tagname(frame.Closes)).append(">");
                    FOpen.pop_back();
                }
                FFrames.pop_back();
                continue;
            }
            Visit(*static_cast<const GumboNode*>(frame.Children->data[frame.Next++]));
        }
        return std::move(FOut);
    }

private:
    // The children of an element still to write, and the element to close after them
    // (GUMBO_TAG_LAST when its tags are left out).
    struct TFrame {
        const GumboVector* Children;
        unsigned Next;
        GumboTag Closes;
    };

    void Visit(const GumboNode& node) {
        if (FFull)
            return;
        if (node.type == GUMBO_NODE_TEXT || node.type == GUMBO_NODE_WHITESPACE ||
            node.type == GUMBO_NODE_CDATA) {
            AppendText(node.v.text.text);
            return;
        }
        if (node.type != GUMBO_NODE_ELEMENT || node.v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
            return; // comments, template contents, svg and math
        const GumboElement& element = node.v.element;
        switch (ActionOf(element.tag, FProfile)) {
        case TAction::Drop:
            return;
        case TAction::Media:
            AppendMediaLink(element);
            return;
        case TAction::Keep:
            if (Open(element))
                return;
            break;
        case TAction::Unwrap:
            break;
        }
        if (element.children.length > 0)
            FFrames.push_back({&element.children, 0, GUMBO_TAG_LAST});
    }

    // Writes the start tag of a kept element; false when it must give way to its content.
    bool Open(const GumboElement& element) {
        const GumboTag tag = element.tag;
        std::string src;
        if (tag == GUMBO_TAG_IMG) {
            const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, "src");
            if (!FPictures || !attribute)
                return true;
            src = SafePageURL(attribute->value, FBase, false);
            if (src.empty())
                return true;
        }
        if (!CanOpen(tag))
            return false;
        std::string start = "<";
        start += gumbo_normalized_tagname(tag);
        if (tag == GUMBO_TAG_IMG)
            AppendAttribute(start, "src", src);
        if (FProfile == TProfile::Description)
            AppendAttributes(start, element);
        if (tag == GUMBO_TAG_A)
            start += " target=\"_blank\" rel=\"noopener noreferrer\"";
        start += '>';
        // The parser drops a line break right after <pre>; one of ours goes first.
        if (tag == GUMBO_TAG_PRE)
            start += '\n';
        if (!Fits(start.size()))
            return true;
        FOut += start;
        FPicture = FPicture || tag == GUMBO_TAG_IMG;
        if (!IsVoid(tag)) {
            FOpen.push_back(tag);
            FFrames.push_back({&element.children, 0, tag});
        }
        return true;
    }

    // Whether an element opened here is read back in the same place.
    bool CanOpen(GumboTag tag) const {
        if (FOpen.size() >= kMaxNesting)
            return false;
        const GumboTag parent = FOpen.empty() ? GUMBO_TAG_LAST : FOpen.back();
        switch (tag) {
        case GUMBO_TAG_CAPTION:
        case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_TFOOT:
            return parent == GUMBO_TAG_TABLE;
        case GUMBO_TAG_TR:
            return IsIn(parent, {GUMBO_TAG_THEAD, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT});
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            return parent == GUMBO_TAG_TR;
        default:
            if (IsTableFrame(parent))
                return false;
        }
        if (ClosesParagraph(tag) &&
            IsOpen({GUMBO_TAG_P}, {GUMBO_TAG_TABLE, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION}))
            return false;
        if (IsHeading(tag) && IsHeading(parent))
            return false;
        if (tag == GUMBO_TAG_LI && IsOpenBeforeSpecial({GUMBO_TAG_LI}))
            return false;
        if ((tag == GUMBO_TAG_DD || tag == GUMBO_TAG_DT) && IsOpenBeforeSpecial({GUMBO_TAG_DD, GUMBO_TAG_DT}))
            return false;
        if (tag == GUMBO_TAG_A && IsOpen({GUMBO_TAG_A}, {GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION}))
            return false;
        return true;
    }

    // Whether one of tags is open above the innermost of bounds.
    bool IsOpen(std::initializer_list<GumboTag> tags, std::initializer_list<GumboTag> bounds) const {
        for (auto it = FOpen.rbegin(); it != FOpen.rend(); ++it) {
            if (IsIn(*it, tags))
                return true;
            if (IsIn(*it, bounds))
                return false;
        }
        return false;
    }
    bool IsOpenBeforeSpecial(std::initializer_list<GumboTag> tags) const {
        for (auto it = FOpen.rbegin(); it != FOpen.rend(); ++it) {
            if (IsIn(*it, tags))
                return true;
            if (StopsListSearch(*it))
                return false;
        }
        return false;
    }

    void AppendAttributes(std::string& start, const GumboElement& element) const {
        for (unsigned i = 0; i < element.attributes.length; ++i) {
            const auto& attribute = *static_cast<const GumboAttribute*>(element.attributes.data[i]);
            const char* name = attribute.name;
            if (std::strcmp(name, "href") == 0) {
                if (element.tag == GUMBO_TAG_A)
                    AppendAttribute(start, name, SafePageURL(attribute.value, FBase, true));
            } else if (std::strcmp(name, "cite") == 0) {
                AppendAttribute(start, name, SafePageURL(attribute.value, FBase, false));
            } else if (IsTextAttribute(name)) {
                start.append(" ").append(name).append("=\"");
                AppendParsedText(start, attribute.value);
                start += '"';
            }
        }
    }
    // An address attribute; left out when the address is.
    static void AppendAttribute(std::string& start, const char* name, const std::string& url) {
        if (url.empty())
            return;
        start.append(" ").append(name).append("=\"");
        AppendParsedText(start, url);
        start += '"';
    }

    // A video or audio as a link to its media: its src, else the first source child's.
    void AppendMediaLink(const GumboElement& element) {
        std::string url;
        if (const GumboAttribute* src = gumbo_get_attribute(&element.attributes, "src"))
            url = SafePageURL(src->value, FBase, false);
        for (unsigned i = 0; url.empty() && i < element.children.length; ++i) {
            const auto& child = *static_cast<const GumboNode*>(element.children.data[i]);
            if (child.type != GUMBO_NODE_ELEMENT || child.v.element.tag != GUMBO_TAG_SOURCE)
                continue;
            if (const GumboAttribute* src = gumbo_get_attribute(&child.v.element.attributes, "src"))
                url = SafePageURL(src->value, FBase, false);
        }
        if (url.empty())
            return;
        const char* label = element.tag == GUMBO_TAG_VIDEO ? "Video" : "Audio";
        if (!CanOpen(GUMBO_TAG_A)) {
            AppendText(label);
            return;
        }
        std::string link = "<a href=\"";
        AppendParsedText(link, url);
        link.append("\" target=\"_blank\" rel=\"noopener noreferrer\">").append(label).append("</a>");
        if (Fits(link.size()))
            FOut += link;
    }

    void AppendText(std::string_view text) {
        if (FFull || (!FOpen.empty() && IsTableFrame(FOpen.back())))
            return;
        const size_t start = FOut.size();
        AppendParsedText(FOut, text);
        if (FOut.size() <= kMaxOutput)
            return;
        // The text that fits, cut between characters and never inside an entity.
        FFull = true;
        size_t end = kMaxOutput;
        const size_t amp = FOut.rfind('&', end - 1);
        if (amp != std::string::npos && amp >= start && FOut.find(';', amp) >= end)
            end = amp;
        while (end > start && (static_cast<unsigned char>(FOut[end]) & 0xC0) == 0x80)
            --end;
        FOut.resize(end);
    }

    // Whether more bytes fit; once something does not, nothing more is written but end tags.
    bool Fits(size_t more) {
        if (!FFull && FOut.size() + more <= kMaxOutput)
            return true;
        FFull = true;
        return false;
    }

    const TProfile FProfile;
    const std::string& FBase;
    const bool FPictures;
    std::string FOut;
    std::vector<GumboTag> FOpen;
    std::vector<TFrame> FFrames;
    bool FFull = false;
    bool FPicture = false;
};

std::string Clean(std::string_view html, TProfile profile, const std::string& baseURL, bool picturesShown,
                  bool* holdsPicture = nullptr) {
    if (holdsPicture)
        *holdsPicture = false;
    html = html.substr(0, std::min(html.size(), kMaxCleanedInput));
    // Most titles and some descriptions are plain text: without "<", "&", a carriage return or a
    // zero byte the parser would give it back as one text, so it is not asked.
    if (html.find_first_of(std::string_view("<&\r\0", 4)) == std::string_view::npos)
        return TWriter(profile, baseURL, picturesShown).WriteText(html);
    html = html.substr(0, detail::NestingCut(html, kMaxNesting));
    if (html.empty())
        return std::string();
    TParseArena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &TParseArena::Allocate;
    options.deallocator = &TParseArena::Release;
    options.userdata = &arena;
    options.max_errors = 0;
    // Read as the content of a div, as the page's description holds it.
    options.fragment_context = GUMBO_TAG_DIV;
    const GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    TWriter writer(profile, baseURL, picturesShown);
    std::string out = writer.Write(*output->root);
    if (holdsPicture)
        *holdsPicture = writer.WrotePicture();
    return out;
}

} // namespace

std::string CleanDescriptionHtml(std::string_view html, const std::string& baseURL, bool picturesShown) {
    return Clean(html, TProfile::Description, baseURL, picturesShown);
}

std::string CleanDescriptionHtml(std::string_view html, const std::string& baseURL, bool picturesShown,
                                 bool& holdsPicture) {
    return Clean(html, TProfile::Description, baseURL, picturesShown, &holdsPicture);
}

std::string PictureHtml(std::string_view address, const std::string& baseURL, bool picturesShown) {
    if (!picturesShown)
        return std::string();
    const std::string url = SafePageURL(address, baseURL, false);
    if (url.empty())
        return std::string();
    std::string html = "<img src=\"";
    AppendParsedText(html, url);
    html += "\" alt=\"\">";
    return html;
}

std::string LinkHtml(std::string_view address, const std::string& baseURL, std::string_view text) {
    const std::string url = SafePageURL(address, baseURL, false);
    if (url.empty())
        return std::string();
    std::string html = "<a href=\"";
    AppendParsedText(html, url);
    html += "\" target=\"_blank\" rel=\"noopener noreferrer\">";
    AppendParsedText(html, text);
    html += "</a>";
    return html;
}

std::string CleanTitleHtml(std::string_view html) {
    return Clean(html, TProfile::Title, std::string(), false);
}

void AppendEscapedHtml(std::string& out, std::string_view text) {
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\'':
            entity = "&#39;";
            break;
        default:
            continue;
        }
        out.append(text, from, i - from).append(entity);
        from = i + 1;
    }
    out.append(text, from, std::string_view::npos);
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscapedHtml(out, text);
    return out;
}

std::string SafePageURL(std::string_view address, const std::string& baseURL, bool allowMailto) {
    // The browser drops tabs and line breaks anywhere in an address ("java\tscript:") and blanks
    // around it; the scheme is judged on what it will read.
    std::string url;
    url.reserve(address.size());
    for (const char c : address)
        if (c != '\t' && c != '\n' && c != '\r')
            url += c;
    url = std::string(TrimView(url));
    if (url.empty())
        return std::string();
    std::string scheme = URLScheme(url);
    if (scheme.empty()) {
        const std::string baseScheme = URLScheme(baseURL);
        if (baseScheme != "http" && baseScheme != "https")
            return std::string();
        url = ResolveURL(baseURL, url);
        scheme = URLScheme(url);
    }
    if (scheme != "http" && scheme != "https" && !(allowMailto && scheme == "mailto"))
        return std::string();
    // Bytes beyond ASCII as the browser sends them, percent-encoded, so that no character of
    // the address can mean another thing to the parser.
    std::string sent;
    sent.reserve(url.size());
    for (const char c : url) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return std::string();
        if (byte < 0x80) {
            sent += c;
        } else {
            sent += '%';
            sent += "0123456789ABCDEF"[byte >> 4];
            sent += "0123456789ABCDEF"[byte & 15];
        }
    }
    return sent;
}
