#include "news/ItemIdentity.h"

#include <cstdint>
#include <exception>
#include <initializer_list>

#include "cache/CacheFiles.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "xml/XMLEntities.h"

namespace {

// The first direct child of element with one of the names, in the order of the names; null when
// there is none.
const TXMLNode* FirstChild(const TXMLNode& element, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names)
        for (int i = 0; i < element.ChildCount(); ++i)
            if (SameTextAscii(element.Child(i).Name, name))
                return &element.Child(i);
    return nullptr;
}

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

const TXMLNode* AlternateLink(const TXMLNode& entry) {
    // Blog hosts often put a "replies" or "edit" link first, which would open a comments feed or
    // an editing endpoint; that first link is taken only when no link qualifies.
    const TXMLNode* first = nullptr;
    for (int i = 0; i < entry.ChildCount(); ++i) {
        const TXMLNode& child = entry.Child(i);
        if (!SameTextAscii(child.Name, "link"))
            continue;
        const std::string_view rel = TrimView(AttributeText(child.Attributes, "rel"));
        if (rel.empty() || SameTextAscii(rel, "alternate"))
            return &child;
        if (!first)
            first = &child;
    }
    return first;
}

std::string ItemIdentity(const TXMLNode& item, std::string_view root) {
    const bool atom = root == "feed";
    std::string id;
    if (atom)
        id = ElementText(FirstChild(item, {"id"}));
    else if (root == "rdf:rdf")
        id = Decoded(AttributeText(item.Attributes, "rdf:about"));
    else
        id = ElementText(FirstChild(item, {"guid"}));
    if (!id.empty())
        return Bounded(std::move(id));

    if (atom) {
        if (const TXMLNode* link = AlternateLink(item))
            id = Decoded(AttributeText(link->Attributes, "href"));
    } else {
        id = ElementText(FirstChild(item, {"link"}));
    }
    if (!id.empty())
        return Bounded(std::move(id));

    // The description as the page shows it: a dialect's element only where the standard one is
    // missing.
    const TXMLNode* description = atom                ? FirstChild(item, {"content", "summary"})
                                  : root == "rdf:rdf" ? FirstChild(item, {"content:encoded", "description"})
                                                      : FirstChild(item, {"description", "content:encoded"});
    return HashIdentity(ElementText(FirstChild(item, {"title"})), ElementText(description));
}

std::vector<std::string> DocumentItemIds(std::string text) {
    TXMLNode document;
    LoadFeedText(document, std::move(text));
    const std::string root = FeedRootName(document);
    const TXMLNode* parent = nullptr;
    std::string_view tag = "item";
    if (root == "rss") {
        parent = &document.ChildByName("rss").ChildByName("channel");
    } else if (root == "rdf:rdf") {
        parent = &document.ChildByName("rdf:rdf");
    } else if (root == "feed") {
        parent = &document.ChildByName("feed");
        tag = "entry";
    }
    std::vector<std::string> ids;
    if (!parent)
        return ids;
    for (int i = 0; i < parent->ChildCount(); ++i)
        if (SameTextAscii(parent->Child(i).Name, tag))
            ids.push_back(ItemIdentity(parent->Child(i), root));
    return ids;
}

std::map<std::string, std::vector<std::string>> CachedItemIds(const TFeedList& feeds) {
    std::map<std::string, std::vector<std::string>> ids;
    for (const auto& entry : feeds.Items) {
        if (entry->FeedURL.empty())
            continue;
        const std::string path = CacheFileName(entry->FeedID);
        if (!FileExists(path))
            continue;
        // A document the view cannot read shows no items, so it has none to count as read.
        try {
            std::vector<std::string> items = DocumentItemIds(ReadFileToString(path));
            if (!items.empty())
                ids[entry->FeedID] = std::move(items);
        } catch (const std::exception&) {
        }
    }
    return ids;
}

TStoreOpen OpenItemStore(TItemStore& store, const TFeedList& feeds, TDateTime now) {
    const TStoreOpen result = store.Open(DataFolder() + "items.db");
    // Upgrading, or starting over, must not show every cached item as new.
    if (result == TStoreOpen::Created || result == TStoreOpen::Recreated)
        store.Seed(CachedItemIds(feeds), now);
    return result;
}

std::vector<TStoreItem> FeedStoreItems(const TNewsType& news, const TFeedListItem& feed) {
    std::vector<TStoreItem> items;
    for (const auto& item : news.NewsItems)
        if (item->Feed == &feed)
            items.push_back({item->Id, item->Date});
    return items;
}
