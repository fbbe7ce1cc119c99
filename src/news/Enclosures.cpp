// An item's files and Media RSS pictures and text, and how the page names them.
#include "news/Enclosures.h"

#include <algorithm>
#include <cctype>

#include "news/FeedDiscovery.h"
#include "news/HtmlCleaner.h"
#include "news/ItemIdentity.h"
#include "platform/SysUtils.h"

namespace {

// Media RSS parts nest at most this deep below the item: media:group, media:content, then the
// content's own thumbnail or description.
constexpr int kMaxMediaDepth = 2;

// The part of a name after "media:", ASCII case ignored, or after a prefix the scope declares for
// Media RSS; "" for a name outside Media RSS.
std::string_view MediaName(std::string_view name, const TNamespaceScope& scope) {
    constexpr std::string_view kPrefix = "media:";
    if (name.size() > kPrefix.size() && SameTextAscii(name.substr(0, kPrefix.size()), kPrefix))
        return name.substr(kPrefix.size());
    std::string_view local;
    if (scope.Unusual(TFeedNamespace::Media) && scope.Resolve(name, local) == TFeedNamespace::Media)
        return local;
    return std::string_view();
}

// Whether the name is Atom's link, as written or under the prefix the scope declares for Atom.
bool IsAtomLink(std::string_view name, const TNamespaceScope& scope) {
    if (SameTextAscii(name, "link"))
        return true;
    std::string_view local;
    for (const TFeedNamespace ns : {TFeedNamespace::Atom10, TFeedNamespace::Atom03})
        if (scope.Unusual(ns) && scope.Resolve(name, local) == ns && SameTextAscii(local, "link"))
            return true;
    return false;
}

// A length in bytes as a plain decimal count with blanks around it; 0 for anything else ("",
// "-1", "12 MB", "1,024", a count too big to hold).
long long ParseLength(std::string_view text) {
    text = TrimView(text);
    if (text.empty() || text.size() > 18)
        return 0;
    long long bytes = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        bytes = bytes * 10 + (c - '0');
    }
    return bytes;
}

bool HasVisibleByte(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return !IsBlankChar(c); });
}

// Plain text as an HTML fragment: escaped, its line breaks kept as <br>.
std::string TextAsHtml(std::string_view text) {
    text = TrimView(text);
    std::string html;
    html.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            html += "<br>";
        } else {
            AppendEscapedHtml(html, text.substr(i, 1));
        }
    }
    return html;
}

// Walks one item element and what its Media RSS parts hold.
class TMediaReader {
public:
    TMediaReader(TNewsItem& item, const TNamespaceScope& scope, const std::string& encoding,
                 const TResolveAddress& resolve)
        : FItem(item), FScope(scope), FEncoding(encoding), FResolve(resolve) {}

    void ReadItem(const TXMLNode& element, std::string_view root) {
        const bool rss = root == "rss";
        const bool atom = root == "feed";
        for (int i = 0; i < element.ChildCount(); ++i) {
            const TXMLNode& child = element.Child(i);
            if (rss && SameTextAscii(child.Name, "enclosure")) {
                AddEnclosure(child.Attributes, "url", "length");
            } else if (atom && IsAtomLink(child.Name, FScope)) {
                if (SameTextAscii(TrimView(AttributeText(child.Attributes, "rel")), "enclosure"))
                    AddEnclosure(child.Attributes, "href", "length");
            } else if (!MediaName(child.Name, FScope).empty()) {
                ReadMedia(child, 0);
            }
        }
        if (FDescription && !HasVisibleByte(FItem.Description)) {
            std::string text = ConvertCharset(FDescription->Value.DecodedText(), FEncoding);
            const bool html =
                SameTextAscii(TrimView(AttributeText(FDescription->Attributes, "type")), "html");
            FItem.Description = html ? std::move(text) : TextAsHtml(text);
        }
    }

private:
    void ReadMedia(const TXMLNode& node, int depth) {
        const std::string_view name = MediaName(node.Name, FScope);
        if (SameTextAscii(name, "thumbnail")) {
            if (FItem.Thumbnail.empty())
                FItem.Thumbnail = Address(node.Attributes, "url");
        } else if (SameTextAscii(name, "description")) {
            if (!FDescription)
                FDescription = &node;
        } else if (SameTextAscii(name, "content") && depth < kMaxMediaDepth) {
            AddEnclosure(node.Attributes, "url", "fileSize");
            ReadMediaChildren(node, depth + 1);
        } else if (SameTextAscii(name, "group") && depth == 0) {
            ReadMediaChildren(node, depth + 1);
        }
    }

    void ReadMediaChildren(const TXMLNode& node, int depth) {
        for (int i = 0; i < node.ChildCount(); ++i)
            if (!MediaName(node.Child(i).Name, FScope).empty())
                ReadMedia(node.Child(i), depth);
    }

    // An attribute's value as a text of the item: its references decoded (numeric ones too, which
    // addresses use for "&"), in UTF-8, trimmed.
    std::string Text(const TXMLAttributes& attributes, std::string_view name) const {
        const std::string_view raw = AttributeText(attributes, name);
        if (raw.empty())
            return std::string();
        return std::string(TrimView(ConvertCharset(DecodeHtmlReferences(raw), FEncoding)));
    }

    std::string Address(const TXMLAttributes& attributes, std::string_view name) const {
        std::string address = Text(attributes, name);
        return address.empty() ? address : FResolve(std::move(address));
    }

    void AddEnclosure(const TXMLAttributes& attributes, std::string_view urlName,
                      std::string_view lengthName) {
        TEnclosure enclosure;
        enclosure.URL = Address(attributes, urlName);
        if (enclosure.URL.empty())
            return;
        enclosure.Type = Text(attributes, "type");
        enclosure.Length = ParseLength(AttributeText(attributes, lengthName));
        // A podcast often names its file twice, as an enclosure and as Media RSS content, each
        // with part of what is known about it.
        for (TEnclosure& known : FItem.Enclosures) {
            if (known.URL != enclosure.URL)
                continue;
            if (known.Type.empty())
                known.Type = std::move(enclosure.Type);
            if (known.Length == 0)
                known.Length = enclosure.Length;
            return;
        }
        FItem.Enclosures.push_back(std::move(enclosure));
    }

    TNewsItem& FItem;
    // The declarations in force inside the item; media parts rarely declare their own.
    const TNamespaceScope& FScope;
    const std::string& FEncoding;
    const TResolveAddress& FResolve;
    // The first media:description met, wherever it stands.
    const TXMLNode* FDescription = nullptr;
};

// ---- What the page calls a file -------------------------------------------------------------

// Types whose common name is not their subtype in capitals.
struct TTypeName {
    std::string_view Type;
    std::string_view Name;
};
constexpr TTypeName kTypeNames[] = {
    {"audio/mpeg", "MP3"},
    {"audio/mp3", "MP3"},
    {"audio/mpeg3", "MP3"},
    {"audio/x-mpeg", "MP3"},
    {"audio/x-mp3", "MP3"},
    {"audio/x-mpeg-3", "MP3"},
    {"audio/mp4", "M4A"},
    {"audio/wave", "WAV"},
    {"audio/vnd.wave", "WAV"},
    {"audio/x-ms-wma", "WMA"},
    {"video/quicktime", "MOV"},
    {"video/x-msvideo", "AVI"},
    {"video/x-ms-wmv", "WMV"},
    {"video/x-matroska", "MKV"},
    {"application/x-shockwave-flash", "SWF"},
    {"application/x-mpegurl", "M3U8"},
    {"application/vnd.apple.mpegurl", "M3U8"},
};

std::string UpperCase(std::string_view text) {
    return UpperCaseAscii(std::string(text));
}

// A short name of letters and digits, as a file's kind is known by ("MP3", "JPEG", "WEBM").
bool IsShortName(std::string_view name) {
    return !name.empty() && name.size() <= 6 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c));
    });
}

// The common name of a type (lower case, without parameters): the table's, else the subtype
// without "x-" and "+xml"-like suffixes in capitals when that is short; "" otherwise.
std::string TypeName(std::string_view type, std::string_view subtype) {
    for (const TTypeName& known : kTypeNames)
        if (known.Type == type)
            return std::string(known.Name);
    if (subtype.substr(0, 2) == "x-")
        subtype.remove_prefix(2);
    subtype = subtype.substr(0, subtype.find('+'));
    return IsShortName(subtype) ? UpperCase(subtype) : std::string();
}

// The file extension of an address's path in lower case ("mp3" of ".../show.MP3?x=1"), "" when
// its last path segment has none.
std::string Extension(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    const size_t scheme = url.find("://");
    const size_t path = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    if (path == std::string_view::npos)
        return std::string();
    const std::string_view segment = url.substr(url.rfind('/') + 1);
    const size_t dot = segment.rfind('.');
    if (dot == std::string_view::npos || !IsShortName(segment.substr(dot + 1)))
        return std::string();
    return LowerCaseAscii(std::string(segment.substr(dot + 1)));
}

std::string KindOfType(std::string_view major) {
    if (major == "audio")
        return "Audio";
    if (major == "video")
        return "Video";
    if (major == "image")
        return "Image";
    return "File";
}

std::string KindOfExtension(std::string_view extension) {
    const auto isIn = [extension](std::initializer_list<std::string_view> list) {
        return std::find(list.begin(), list.end(), extension) != list.end();
    };
    if (isIn({"mp3", "m4a", "aac", "ogg", "oga", "opus", "flac", "wav", "wma"}))
        return "Audio";
    if (isIn({"mp4", "m4v", "mov", "webm", "mkv", "avi", "ogv", "wmv"}))
        return "Video";
    if (isIn({"jpg", "jpeg", "png", "gif", "webp", "avif", "svg"}))
        return "Image";
    return "File";
}

} // namespace

void ReadItemMedia(TNewsItem& item, const TXMLNode& element, const TNamespaceScope& scope,
                   std::string_view root, const std::string& encoding, const TResolveAddress& resolve) {
    TMediaReader(item, scope, encoding, resolve).ReadItem(element, root);
}

std::string FileSizeText(long long bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static const char* const kUnits[] = {"KB", "MB", "GB"};
    double size = static_cast<double>(bytes) / 1024;
    int unit = 0;
    // The unit goes up where one decimal would show 1024.0 of the smaller one.
    while (unit < 2 && size >= 1023.95) {
        size /= 1024;
        ++unit;
    }
    // Written by hand: the program's locale may use a decimal comma, the page does not.
    const long long tenths = static_cast<long long>(size * 10 + 0.5);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit];
}

std::string EnclosureLabel(const TEnclosure& enclosure) {
    const std::string type = LowerCaseAscii(
        std::string(TrimView(std::string_view(enclosure.Type).substr(0, enclosure.Type.find(';')))));
    std::string kind, name;
    if (type.empty()) {
        name = Extension(enclosure.URL);
        kind = KindOfExtension(name);
        name = UpperCase(name);
    } else {
        const size_t slash = type.find('/');
        const std::string_view major = std::string_view(type).substr(0, slash);
        kind = KindOfType(major);
        if (slash != std::string::npos)
            name = TypeName(type, TrimView(std::string_view(type).substr(slash + 1)));
    }
    std::string details = name;
    if (enclosure.Length > 0)
        details += (details.empty() ? "" : ", ") + FileSizeText(enclosure.Length);
    return details.empty() ? kind : kind + " (" + details + ")";
}

std::string EnclosuresHtml(const std::vector<TEnclosure>& enclosures, const std::string& baseURL) {
    std::string html;
    for (const TEnclosure& enclosure : enclosures) {
        const std::string link = LinkHtml(enclosure.URL, baseURL, EnclosureLabel(enclosure));
        if (link.empty())
            continue;
        html += html.empty() ? "<ul class=\"enclosures\"><li>" : "<li>";
        html += link;
        html += "</li>";
    }
    if (!html.empty())
        html += "</ul>";
    return html;
}
