#include "news/JsonFeed.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "dates/NewsDates.h"
#include "news/HtmlCleaner.h"
#include "news/ItemIdentity.h"
#include "platform/Charset.h"
#include "platform/SysUtils.h"

namespace {

using Json = nlohmann::json;

// A document that is no JSON Feed, told apart from other failures.
class EJsonFeedFormat : public Exception {
public:
    EJsonFeedFormat() : Exception("The server returns data that has an unknown format.") {}
};

// A feed nests four levels (feed, items, item, attachment) and its extensions a few more. A
// document nested deeper is no feed, and refusing it while it is read keeps hostile input from
// building a tree on which any recursive walk of the library (a copy, a comparison, a dump)
// would run out of stack.
constexpr std::size_t kMaxDepth = 512;

// The library's tree builder behind a count of the open objects and arrays: the parse stops,
// failed, at the first one past kMaxDepth.
class TDepthLimitedBuilder {
public:
    explicit TDepthLimitedBuilder(Json& root) : FBuilder(root, false) {}

    bool null() { return FBuilder.null(); }
    bool boolean(bool value) { return FBuilder.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return FBuilder.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return FBuilder.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text) {
        return FBuilder.number_float(value, text);
    }
    bool string(Json::string_t& value) { return FBuilder.string(value); }
    bool binary(Json::binary_t& value) { return FBuilder.binary(value); }
    bool key(Json::string_t& value) { return FBuilder.key(value); }
    bool start_object(std::size_t size) { return Open() && FBuilder.start_object(size); }
    bool end_object() { return Close() && FBuilder.end_object(); }
    bool start_array(std::size_t size) { return Open() && FBuilder.start_array(size); }
    bool end_array() { return Close() && FBuilder.end_array(); }
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) {
        return FBuilder.parse_error(position, token, error);
    }

private:
    bool Open() { return ++FDepth <= kMaxDepth; }
    bool Close() {
        --FDepth;
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<Json> FBuilder;
    std::size_t FDepth = 0;
};

// The document as a JSON value; raises the unknown-format error for a text that is no JSON.
Json ParseJson(std::string text) {
    // JSON is UTF-8; a stray byte of another charset should not cost the whole feed.
    text = SanitizeUTF8(std::move(text));
    Json root;
    TDepthLimitedBuilder builder(root);
    const char* begin = text.data();
    if (!Json::sax_parse(begin, begin + text.size(), &builder))
        throw EJsonFeedFormat();
    return root;
}

// Whether version names JSON Feed 1 or one of its minor versions.
bool IsJsonFeedVersion(std::string_view version) {
    for (std::string_view scheme : {"https://", "http://"}) {
        if (version.substr(0, scheme.size()) != scheme)
            continue;
        const std::string_view rest = version.substr(scheme.size());
        const std::string_view name = "jsonfeed.org/version/1";
        if (rest.substr(0, name.size()) != name)
            return false;
        return rest.size() == name.size() || rest[name.size()] == '.';
    }
    return false;
}

// The member key of object when it is a string; null otherwise.
const std::string* StringMember(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

std::string Text(const Json& object, const char* key) {
    const std::string* text = StringMember(object, key);
    return text ? *text : std::string();
}

// The first of the keys whose member is a non-blank string, as written; "" when none is.
std::string FirstText(const Json& object, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (const std::string* text = StringMember(object, key); text && !TrimView(*text).empty())
            return *text;
    return std::string();
}

// Plain text as an HTML fragment that shows it as written, line breaks included.
std::string PlainTextHtml(std::string_view text) {
    std::string html;
    html.reserve(text.size() + text.size() / 8);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        AppendEscapedHtml(html, text.substr(0, end));
        if (end == text.size())
            break;
        html += "<br>";
        // "\r\n" is one break.
        text.remove_prefix(text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1);
    }
    return html;
}

// The first of content_html, content_text and summary that holds more than blanks.
std::string Description(const Json& item) {
    if (std::string html = FirstText(item, {"content_html"}); !html.empty())
        return html;
    return PlainTextHtml(FirstText(item, {"content_text", "summary"}));
}

// date_published, else date_modified: an item updated in place but never said to be published
// dates from its update. RFC 3339, or the RFC 822 form some feeds copy from their RSS sibling.
TDateTime ItemDate(const Json& item) {
    for (const char* key : {"date_published", "date_modified"})
        if (const std::string* text = StringMember(item, key))
            if (const TDateTime date = DecodeIsoOrRfc822Date(*text); date != 0)
                return date;
    return 0;
}

// The names of the "authors" array (1.1) joined with ", ", else the name of the "author" object
// (1.0); "" when neither names anyone.
std::string AuthorNames(const Json& object) {
    std::string names;
    const auto authors = object.find("authors");
    if (authors != object.end() && authors->is_array()) {
        for (const Json& author : *authors) {
            if (!author.is_object())
                continue;
            const std::string name(TrimView(Text(author, "name")));
            if (name.empty())
                continue;
            if (!names.empty())
                names += ", ";
            names += name;
        }
    }
    if (names.empty()) {
        const auto author = object.find("author");
        if (author != object.end() && author->is_object())
            names = TrimView(Text(*author, "name"));
    }
    return names;
}

// A size in bytes as a JSON number gives it; 0 for a negative, fractional-only or missing one.
long long ByteCount(const Json& attachment) {
    const auto size = attachment.find("size_in_bytes");
    if (size == attachment.end())
        return 0;
    constexpr long long kMost = std::numeric_limits<long long>::max();
    if (size->is_number_unsigned()) {
        const auto value = size->get<Json::number_unsigned_t>();
        return value > static_cast<Json::number_unsigned_t>(kMost) ? kMost : static_cast<long long>(value);
    }
    if (size->is_number_float()) {
        const double value = size->get<double>();
        if (!(value >= 1))
            return 0;
        return value >= static_cast<double>(kMost) ? kMost : static_cast<long long>(value);
    }
    return 0;
}

std::vector<TEnclosure> Enclosures(const Json& item) {
    std::vector<TEnclosure> enclosures;
    const auto attachments = item.find("attachments");
    if (attachments == item.end() || !attachments->is_array())
        return enclosures;
    std::set<std::string> seen;
    for (const Json& attachment : *attachments) {
        if (!attachment.is_object())
            continue;
        std::string url(TrimView(Text(attachment, "url")));
        if (url.empty() || !seen.insert(url).second)
            continue;
        enclosures.push_back(
            {std::move(url), std::string(TrimView(Text(attachment, "mime_type"))), ByteCount(attachment)});
    }
    return enclosures;
}

// The item's own "id", a string or a number; "" when it has none of those.
std::string ItemId(const Json& item) {
    const auto id = item.find("id");
    if (id == item.end())
        return std::string();
    if (id->is_string())
        return id->get<std::string>();
    // Version 1.0 feeds often number their items.
    if (id->is_number())
        return id->dump();
    return std::string();
}

TNewsItem ReadItem(const Json& item, const std::string& feedAuthor) {
    TNewsItem news;
    news.Title = Text(item, "title");
    news.Description = Description(item);
    news.Link = FirstText(item, {"url", "external_url"});
    news.Date = ItemDate(item);
    news.Author = AuthorNames(item);
    // The feed's authors write every item that names none of its own.
    if (news.Author.empty())
        news.Author = feedAuthor;
    news.Enclosures = Enclosures(item);
    news.Thumbnail = TrimView(Text(item, "image"));
    news.Id = TextItemIdentity(ItemId(item), news.Link, news.Title, news.Description);
    return news;
}

} // namespace

bool IsJsonText(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return c == '{';
    }
    return false;
}

TJsonFeed ParseJsonFeed(std::string text) {
    const Json root = ParseJson(std::move(text));
    if (!root.is_object())
        throw EJsonFeedFormat();
    const std::string* version = StringMember(root, "version");
    if (!version || !IsJsonFeedVersion(TrimView(*version)))
        throw EJsonFeedFormat();
    TJsonFeed feed;
    feed.Title = Text(root, "title");
    const auto items = root.find("items");
    if (items == root.end() || !items->is_array())
        return feed;
    const std::string feedAuthor = AuthorNames(root);
    feed.Items.reserve(items->size());
    for (const Json& item : *items)
        if (item.is_object())
            feed.Items.push_back(ReadItem(item, feedAuthor));
    return feed;
}

void ReadJsonFeed(TNewsType& news, TFeedListItem& feed, std::string text) {
    // The reader keeps no tree of a JSON document: the XML one of the last feed goes.
    news.Document.Clear();
    news.EncodingName.clear();
    TJsonFeed document = ParseJsonFeed(std::move(text));
    for (TNewsItem& parsed : document.Items) {
        TNewsItem& item = *news.AddItem();
        item = std::move(parsed);
        item.Feed = &feed;
        item.Link = ResolveItemLink(std::move(item.Link), feed);
        for (TEnclosure& enclosure : item.Enclosures)
            enclosure.URL = ResolveItemLink(std::move(enclosure.URL), feed);
        if (!item.Thumbnail.empty())
            item.Thumbnail = ResolveItemLink(std::move(item.Thumbnail), feed);
    }
}

std::vector<std::string> JsonFeedItemIds(std::string text) {
    std::vector<std::string> ids;
    TJsonFeed document;
    // As for XML documents, one that is no feed has no items to count.
    try {
        document = ParseJsonFeed(std::move(text));
    } catch (const EJsonFeedFormat&) {
        return ids;
    }
    ids.reserve(document.Items.size());
    for (TNewsItem& item : document.Items)
        ids.push_back(std::move(item.Id));
    return ids;
}
