#include "news/NewsTypeCls.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <iterator>
#include <string_view>

#include "cache/CacheFiles.h"
#include "dates/NewsDates.h"
#include "news/Enclosures.h"
#include "news/FeedLayout.h"
#include "news/ItemIdentity.h"
#include "news/JsonFeed.h"
#include "platform/Charset.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "url/Url.h"

namespace {

const char kUnknownFormat[] = "The server returns data that has an unknown format.";

std::string ItemLink(std::string link, const TFeedListItem& feed);

// Adds an item of feed for every item element of the document laid out so, with its identity
// within the feed, and calls read(item, entry, scope, found) with the declarations in force inside
// the entry and its children named in names (nullptr for each one missing).
template <std::size_t N, typename Read>
void ReadEntries(TNewsType& news, TFeedListItem& feed, const TFeedLayout& layout,
                 const std::string_view (&literals)[N], Read read) {
    if (!layout.Parent)
        return;
    TFeedName names[N];
    for (std::size_t n = 0; n < N; ++n)
        names[n] = layout.Name(literals[n]);
    const std::string root = layout.RootName();
    const TXMLNode& parent = *layout.Parent;
    for (int i = 0; i < parent.ChildCount(); ++i) {
        const TXMLNode& element = parent.Child(i);
        if (!layout.IsItem(element))
            continue;
        TNamespaceScope room;
        const TNamespaceScope& scope = ScopeInside(element, layout.Scope, room);
        const TXMLNode* found[N];
        FindChildren(element, scope, names, found, N);
        TNewsItem& item = *news.AddItem();
        item.Feed = &feed;
        item.Id = ItemIdentity(element, layout);
        read(item, element, scope, found);
        ReadItemMedia(item, element, scope, root, news.EncodingName,
                      [&feed](std::string address) { return ItemLink(std::move(address), feed); });
    }
}

// The layout of the document when it is a feed of the format; otherwise the reader's error for
// the element that is missing (root, or the RSS channel), as looking it up by name gives.
TFeedLayout LayoutOf(const TXMLNode& document, TFeedFormat format, const std::string& root) {
    TFeedLayout layout = FeedLayout(document);
    if (layout.Format != format) {
        document.ChildByName(root);
        layout.Parent = nullptr;
    } else if (!layout.Parent) {
        layout.Root->ChildByName("channel");
    }
    return layout;
}

// The date of an element that should hold the ISO 8601 form, else its RFC 822 date; 0 when there
// is no element or neither form decodes.
TDateTime IsoDate(const TXMLNode* element) {
    return element ? DecodeIsoOrRfc822Date(element->Value.RawText()) : 0;
}

// The same for an element that should hold the RFC 822 form.
TDateTime Rfc822Date(const TXMLNode* element) {
    return element ? DecodeRfc822OrIsoDate(element->Value.RawText()) : 0;
}

// The element's text with its entity references decoded, as UTF-8 from the document's encoding;
// "" when there is no such element.
std::string DecodedText(const TXMLNode* element, const std::string& encoding) {
    return element ? ConvertCharset(element->Value.DecodedText(), encoding) : std::string();
}

// The raw text of the element, or "" when there is none.
std::string RawText(const TXMLNode* element) {
    return element ? std::string(element->Value.RawText()) : std::string();
}

// The first element of the two that exists, or null: a dialect's element stands in only for a
// missing standard one.
const TXMLNode* Either(const TXMLNode* standard, const TXMLNode* fallback) {
    return standard ? standard : fallback;
}

// An item link as the document stores it, made absolute against the feed's address when it is
// relative ("/2024/post", "post.html", "//host/x"); an absolute or empty link stays byte for
// byte, and so does every link of a feed without an address.
std::string ItemLink(std::string link, const TFeedListItem& feed) {
    const std::string_view address = TrimView(link);
    if (address.empty() || !URLScheme(address).empty() || feed.FeedURL.empty())
        return link;
    const std::string base = FeedBaseURL(feed);
    return ResolveURL(base.empty() ? feed.FeedURL : base, std::string(address));
}

// An item's date beside its place in the list, so that sorting reads neither the items nor their
// pointers.
struct TSortKey {
    TDateTime Date;
    size_t Index;
};

// -1 when a is newer than b, 1 when older, 0 otherwise: newest first.
int CompareDates(const TSortKey& a, const TSortKey& b) {
    if (a.Date > b.Date)
        return -1;
    if (a.Date < b.Date)
        return 1;
    return 0;
}

// Hoare's partition around the middle key. The smaller part is sorted by a call and the larger
// one by the loop, so the calls never nest deeper than log2 of the count, whatever the dates.
// The two parts do not overlap, so the order in which they are sorted does not change the result.
void QuickSort(std::vector<TSortKey>& keys, int left, int right) {
    while (left < right) {
        int i = left;
        int j = right;
        const TSortKey pivot = keys[static_cast<size_t>(left + (right - left) / 2)];
        do {
            // The bounds only matter for dates that do not compare (NaN); the pivot stops the
            // scans otherwise.
            while (i < right && CompareDates(keys[static_cast<size_t>(i)], pivot) < 0)
                ++i;
            while (j > left && CompareDates(keys[static_cast<size_t>(j)], pivot) > 0)
                --j;
            if (i <= j) {
                std::swap(keys[static_cast<size_t>(i)], keys[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        // Left part left..j, right part i..right.
        if (j - left < right - i) {
            if (left < j)
                QuickSort(keys, left, j);
            left = i;
        } else {
            if (i < right)
                QuickSort(keys, i, right);
            right = j;
        }
    }
}

} // namespace

std::string ResolveItemLink(std::string link, const TFeedListItem& feed) {
    return ItemLink(std::move(link), feed);
}

std::string WideCharset(std::string_view text) {
    const auto startsWith = [text](std::string_view prefix) {
        return text.substr(0, prefix.size()) == prefix;
    };
    using namespace std::string_view_literals;
    if (startsWith("\xFF\xFE\0\0"sv) || startsWith("<\0\0\0"sv))
        return "UTF-32LE";
    if (startsWith("\0\0\xFE\xFF"sv) || startsWith("\0\0\0<"sv))
        return "UTF-32BE";
    if (startsWith("\xFF\xFE"sv) || startsWith("<\0"sv))
        return "UTF-16LE";
    if (startsWith("\xFE\xFF"sv) || startsWith("\0<"sv))
        return "UTF-16BE";
    return std::string();
}

std::string FeedBaseURL(const TFeedListItem& feed) {
    // The address as it is fetched, so that " https://h/" or "feed:https://h/" in the catalogue
    // gives links on the same secure host; the feed's credentials stay out of the page.
    std::optional<TUrl> base = ParseURL(feed.FeedURL);
    if (!base)
        return std::string();
    base->User.clear();
    base->Password.clear();
    return base->Text();
}

std::string ConvertCharset(std::string text, const std::string& encoding) {
    if (encoding.empty() || encoding == "utf-8")
        return SanitizeUTF8(std::move(text));
    return CharsetToUTF8(text, encoding);
}

TNewsType::TNewsType(TFeedList& feeds) : PagePath(DataFolder() + "gen.html"), FFeeds(feeds) {}

TNewsType::~TNewsType() {
    ClearItems();
}

void TNewsType::ClearItems() {
    FRendered.clear();
    NewsItems.clear();
}

TNewsItem* TNewsType::AddItem() {
    NewsItems.push_back(std::make_unique<TNewsItem>());
    return NewsItems.back().get();
}

TNewsItem* TNewsType::Item(int index) const {
    if (index < 0 || index >= ItemCount())
        throw EListError(index);
    return NewsItems[static_cast<size_t>(index)].get();
}

void TNewsType::DropFeedItems(const TFeedListItem* feed) {
    FRendered.clear();
    NewsItems.erase(
        std::remove_if(NewsItems.begin(), NewsItems.end(),
                       [feed](const std::unique_ptr<TNewsItem>& item) { return item->Feed == feed; }),
        NewsItems.end());
}

void TNewsType::LoadFeed(TFeedListItem& feed) {
    const std::string path = CacheFileName(feed.FeedID);
    // Not downloaded yet: nothing to show and nothing wrong.
    if (!FileExists(path))
        return;
    LoadFeedFromString(feed, ReadFileToString(path));
}

std::string LoadFeedText(TXMLNode& document, std::string text) {
    // The reader works on bytes: a UTF-16 or UTF-32 document is read as its UTF-8 form (a
    // byte-order mark becomes text before the first tag, which the reader drops).
    std::string wide = WideCharset(text);
    if (!wide.empty())
        text = CharsetToUTF8(text, wide);
    // Atom 0.3 content may be markup, which the tree does not keep as written.
    if (RootNamesAtom03(text))
        document.LoadKeepingMarkup(std::move(text));
    else
        document.LoadFromString(std::move(text));
    return wide;
}

void TNewsType::LoadFeedFromString(TFeedListItem& feed, std::string text) {
    // Told by its first byte, which no XML document shares.
    if (IsJsonText(text))
        return ReadJsonFeed(*this, feed, std::move(text));
    const std::string wide = LoadFeedText(Document, std::move(text));
    // Every document says its own encoding; without a declaration it is UTF-8, never the
    // encoding of whatever feed was read before.
    EncodingName.clear();
    if (Document.HasChild("?xml"))
        EncodingName = LowerCaseAscii(
            std::string(Document.ChildByName("?xml").Attributes.ValueOf("encoding").RawText()));
    if (!wide.empty())
        EncodingName = "utf-8";
    ReadDocument(feed);
}

std::string FeedRootName(const TXMLNode& document) {
    return FeedLayout(document).RootName();
}

void TNewsType::ReadDocument(TFeedListItem& feed) {
    const std::string root = FeedRootName(Document);
    if (root == "rss")
        ReadRss(feed);
    else if (root == "rdf:rdf")
        ReadRdf(feed);
    else if (root == "feed")
        ReadAtom(feed);
    else
        throw Exception(kUnknownFormat);
}

void TNewsType::ReadRss(TFeedListItem& feed) {
    static constexpr std::string_view kNames[] = {"title",   "description", "content:encoded", "link",
                                                  "pubDate", "dc:date",     "author",          "dc:creator"};
    enum { Title, Description, Content, Link, PubDate, DcDate, Author, Creator };
    ReadEntries(*this, feed, LayoutOf(Document, TFeedFormat::Rss, "rss"), kNames,
                [this, &feed](TNewsItem& item, const TXMLNode&, const TNamespaceScope&,
                              const TXMLNode* const* found) {
                    item.Title = DecodedText(found[Title], EncodingName);
                    item.Description = DecodedText(Either(found[Description], found[Content]), EncodingName);
                    item.Link = ItemLink(RawText(found[Link]), feed);
                    // dc:date wins over pubDate; pubDate stands in for a dc:date that decodes in
                    // neither form.
                    item.Date = IsoDate(found[DcDate]);
                    if (item.Date == 0)
                        item.Date = Rfc822Date(found[PubDate]);
                    item.Author = DecodedText(Either(found[Author], found[Creator]), EncodingName);
                });
}

void TNewsType::ReadRdf(TFeedListItem& feed) {
    static constexpr std::string_view kNames[] = {"title", "content:encoded", "description",
                                                  "link",  "dc:date",         "dc:creator"};
    enum { Title, Content, Description, Link, DcDate, Creator };
    ReadEntries(*this, feed, LayoutOf(Document, TFeedFormat::Rdf, "rdf:rdf"), kNames,
                [this, &feed](TNewsItem& item, const TXMLNode&, const TNamespaceScope&,
                              const TXMLNode* const* found) {
                    item.Title = DecodedText(found[Title], EncodingName);
                    item.Description = DecodedText(Either(found[Content], found[Description]), EncodingName);
                    item.Link = ItemLink(RawText(found[Link]), feed);
                    item.Date = IsoDate(found[DcDate]);
                    item.Author = DecodedText(found[Creator], EncodingName);
                });
}

void TNewsType::ReadAtom(TFeedListItem& feed) {
    static constexpr std::string_view kNames[] = {"title",   "content", "summary",  "published",
                                                  "updated", "issued",  "modified", "created"};
    enum { Title, Content, Summary, Published, Updated, Issued, Modified, Created };
    const TFeedLayout layout = LayoutOf(Document, TFeedFormat::Atom, "feed");
    const TFeedName link = layout.Name("link");
    const bool atom03 = layout.Own == TFeedNamespace::Atom03;
    ReadEntries(*this, feed, layout, kNames,
                [&](TNewsItem& item, const TXMLNode& entry, const TNamespaceScope& scope,
                    const TXMLNode* const* found) {
                    item.Title = DecodedText(found[Title], EncodingName);
                    // Many feeds give only a summary of each entry.
                    const TXMLNode* body = Either(found[Content], found[Summary]);
                    if (atom03 && body)
                        item.Description = ConvertCharset(Atom03ContentText(*body), EncodingName);
                    else
                        item.Description = DecodedText(body, EncodingName);
                    if (const TXMLNode* alternate = AlternateLink(entry, link, scope))
                        item.Link = ItemLink(std::string(AttributeText(alternate->Attributes, "href")), feed);
                    // An entry never published apart from its last update dates from that; Atom
                    // 0.3 names its dates issued, modified and created.
                    for (int date : {Published, Updated, Issued, Modified, Created}) {
                        if (found[date]) {
                            item.Date = IsoDate(found[date]);
                            break;
                        }
                    }
                });
}

void TNewsType::LoadMarkedFeeds() {
    ClearItems();
    for (int i = 0; i < FFeeds.Count(); ++i) {
        TFeedListItem* entry = FFeeds.Item(i);
        if (!entry->RefreshMark)
            continue;
        // One failing feed never stops the view: its message is shown when it is selected.
        try {
            LoadFeed(*entry);
        } catch (const std::exception& e) {
            entry->ErrorText = e.what();
            // The cached document is of no use (not a feed, cut short, unreadable): forget what
            // would let the server answer "not modified", so that the next check downloads it
            // whole instead of keeping it for good.
            entry->LastModifiedDate = 0;
            ForgetValidators(entry->FeedID);
            entry->CacheState = {};
        }
    }
    SortItems();
}

void TNewsType::SortItems() {
    if (NewsItems.empty())
        return;
    std::vector<TSortKey> keys(NewsItems.size());
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = {NewsItems[i]->Date, i};
    QuickSort(keys, 0, ItemCount() - 1);
    std::vector<std::unique_ptr<TNewsItem>> sorted(NewsItems.size());
    for (size_t i = 0; i < keys.size(); ++i)
        sorted[i] = std::move(NewsItems[keys[i].Index]);
    NewsItems.swap(sorted);
}
