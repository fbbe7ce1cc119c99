#include "news/ItemIdentity.h"

#include <cstdint>
#include <exception>

#include "cache/CacheFiles.h"
#include "news/JsonFeed.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "xml/XMLEntities.h"

namespace {

// Text with its entity references decoded, trimmed.
std::string Decoded(std::string_view raw) {
    return std::string(TrimView(DecodeEntities(TrimView(raw))));
}

std::string ElementText(const TXMLNode* element) {
    return element ? Decoded(element->Value.RawText()) : std::string();
}

// FNV-1a, 64 bits: stable from run to run and machine to machine, which std::hash is not.
uint64_t Fnv1a(std::string_view text, uint64_t hash = 14695981039346656037ull) {
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string HashIdentity(const std::string& title, const std::string& description) {
    // The zero byte keeps "ab" + "c" apart from "a" + "bc".
    const uint64_t hash = Fnv1a(description, Fnv1a(std::string_view("\0", 1), Fnv1a(title)));
    static const char kHex[] = "0123456789abcdef";
    std::string text = "hash:";
    for (int shift = 60; shift >= 0; shift -= 4)
        text += kHex[(hash >> shift) & 0xF];
    return text;
}

// Longer identifiers stand for themselves by their hash, so that a feed putting whole texts in
// its guids does not fill the store with them.
const size_t kLongestIdentity = 1000;

std::string Bounded(std::string id) {
    return id.size() <= kLongestIdentity ? id : HashIdentity(id, std::string());
}

} // namespace

std::string_view AttributeText(const TXMLAttributes& attributes, std::string_view name) {
    for (int i = 0; i < attributes.Count(); ++i)
        if (SameTextAscii(attributes.Name(i), name))
            return attributes.Value(i).RawText();
    return std::string_view();
}

const TXMLNode* AlternateLink(const TXMLNode& entry, const TFeedName& link, const TNamespaceScope& scope) {
    // Blog hosts often put a "replies" or "edit" link first, which would open a comments feed or
    // an editing endpoint; that first link is taken only when no link qualifies.
    const TXMLNode* first = nullptr;
    for (int i = 0; i < entry.ChildCount(); ++i) {
        const TXMLNode& child = entry.Child(i);
        if (!IsNamed(child, link, scope))
            continue;
        const std::string_view rel = TrimView(AttributeText(child.Attributes, "rel"));
        if (rel.empty() || SameTextAscii(rel, "alternate"))
            return &child;
        if (!first)
            first = &child;
    }
    return first;
}

std::string ItemIdentity(const TXMLNode& item, const TFeedLayout& layout) {
    TNamespaceScope room;
    const TNamespaceScope& scope = ScopeInside(item, layout.Scope, room);
    const auto child = [&](std::string_view name) { return FindChild(item, layout.Name(name), scope); };
    const bool atom = layout.Format == TFeedFormat::Atom;
    const bool rdf = layout.Format == TFeedFormat::Rdf;
    std::string id;
    if (atom)
        id = ElementText(child("id"));
    else if (rdf)
        id = Decoded(AttributeByName(item, layout.Name("rdf:about"), scope));
    else
        id = ElementText(child("guid"));
    if (!id.empty())
        return Bounded(std::move(id));

    if (atom) {
        if (const TXMLNode* link = AlternateLink(item, layout.Name("link"), scope))
            id = Decoded(AttributeText(link->Attributes, "href"));
    } else {
        id = ElementText(child("link"));
    }
    if (!id.empty())
        return Bounded(std::move(id));

    // The description as the page shows it: a dialect's element only where the standard one is
    // missing.
    const auto either = [&](std::string_view standard, std::string_view dialect) {
        const TXMLNode* found = child(standard);
        return found ? found : child(dialect);
    };
    const TXMLNode* description = atom  ? either("content", "summary")
                                  : rdf ? either("content:encoded", "description")
                                        : either("description", "content:encoded");
    return HashIdentity(ElementText(child("title")), ElementText(description));
}

std::string TextItemIdentity(std::string_view id, std::string_view link, std::string_view title,
                             std::string_view description) {
    for (std::string_view text : {id, link})
        if (!TrimView(text).empty())
            return Bounded(std::string(TrimView(text)));
    return HashIdentity(std::string(TrimView(title)), std::string(TrimView(description)));
}

std::vector<std::string> DocumentItemIds(std::string text) {
    if (IsJsonText(text))
        return JsonFeedItemIds(std::move(text));
    TXMLNode document;
    LoadFeedText(document, std::move(text));
    const TFeedLayout layout = FeedLayout(document);
    std::vector<std::string> ids;
    if (layout.Format == TFeedFormat::None)
        return ids;
    // An rss element without a channel: the reader's error.
    if (!layout.Parent)
        layout.Root->ChildByName("channel");
    for (int i = 0; i < layout.Parent->ChildCount(); ++i)
        if (layout.IsItem(layout.Parent->Child(i)))
            ids.push_back(ItemIdentity(layout.Parent->Child(i), layout));
    return ids;
}

namespace {

// The FeedIDs of the catalogue's feeds (folders have no address, and no cache file).
std::vector<std::string> FeedIds(const TFeedList& feeds) {
    std::vector<std::string> ids;
    for (const auto& entry : feeds.Items)
        if (!entry->FeedURL.empty())
            ids.push_back(entry->FeedID);
    return ids;
}

TStoreOpen OpenAndSeed(TItemStore& store, const std::vector<std::string>& feedIds, TDateTime now) {
    const TStoreOpen result = store.Open(DataFolder() + "items.db");
    // Upgrading, or starting over, must not show every cached item as new.
    if (result == TStoreOpen::Created || result == TStoreOpen::Recreated)
        store.Seed(CachedItemIds(feedIds), now);
    return result;
}

} // namespace

std::map<std::string, std::vector<std::string>> CachedItemIds(const TFeedList& feeds) {
    return CachedItemIds(FeedIds(feeds));
}

std::map<std::string, std::vector<std::string>> CachedItemIds(const std::vector<std::string>& feedIds) {
    std::map<std::string, std::vector<std::string>> ids;
    for (const std::string& feedId : feedIds) {
        const std::string path = CacheFileName(feedId);
        if (!FileExists(path))
            continue;
        // A document the view cannot read shows no items, so it has none to count as read.
        try {
            std::vector<std::string> items = DocumentItemIds(ReadFileToString(path));
            if (!items.empty())
                ids[feedId] = std::move(items);
        } catch (const std::exception&) {
        }
    }
    return ids;
}

TStoreOpen OpenItemStore(TItemStore& store, const TFeedList& feeds, TDateTime now) {
    return OpenAndSeed(store, FeedIds(feeds), now);
}

TItemStoreOpening::TItemStoreOpening(TItemStore& store, const TFeedList& feeds, TDateTime now)
    : FResult(std::async(std::launch::async,
                         [&store, ids = FeedIds(feeds), now] { return OpenAndSeed(store, ids, now); })) {}

TItemStoreOpening::~TItemStoreOpening() {
    Wait();
}

TStoreOpen TItemStoreOpening::Wait() {
    if (!FOpened)
        FOpened = FResult.get();
    return *FOpened;
}

std::vector<TStoreItem> FeedStoreItems(const TNewsType& news, const TFeedListItem& feed) {
    std::vector<TStoreItem> items;
    for (const auto& item : news.NewsItems)
        if (item->Feed == &feed)
            items.push_back({item->Id, item->Date});
    return items;
}
