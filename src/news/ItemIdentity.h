#pragma once

#include <future>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "news/FeedLayout.h"
#include "store/ItemStore.h"
#include "xml/XMLNode.h"

// What makes a news item the same item from one download of its feed to the next, so that its
// read state follows it.

// The identity of one item element within its feed, a document read as layout gives it. The
// item's own identifier (RSS "guid", the RSS 1.0 "rdf:about" attribute, Atom "id"), else its link
// (the Atom link the page shows), else "hash:" and 16 hex digits of its title and description.
// Texts are trimmed and their entity references decoded; a blank identifier counts as none, and
// one over 1000 bytes is replaced by its hash. The link is taken as written, not resolved against
// the feed's address, so a feed given a new address keeps its items.
std::string ItemIdentity(const TXMLNode& item, const TFeedLayout& layout);

// The same rule for an item given as texts (a JSON Feed item's): id, else link, else the hash of
// title and description, each trimmed; no entity references are decoded.
std::string TextItemIdentity(std::string_view id, std::string_view link, std::string_view title,
                             std::string_view description);

// The identities of a feed document's items in document order, read as the news view reads the
// document (UTF-16 and UTF-32 documents, and JSON Feeds, too). A document that is no feed gives
// none; an RSS document without a channel raises the XML reader's error.
std::vector<std::string> DocumentItemIds(std::string text);

// Per FeedID, the identities of the items in each feed's cache file, for starting a new store.
// A feed without items (no cache file, or one that cannot be read as a feed) has no entry.
std::map<std::string, std::vector<std::string>> CachedItemIds(const TFeedList& feeds);
// The same for the feeds of the given FeedIDs, whose cache files are read here alone.
std::map<std::string, std::vector<std::string>> CachedItemIds(const std::vector<std::string>& feedIds);

class TNewsType;

// The items the renderer loaded from feed's document, as the store records that document (in the
// renderer's order, which the store does not need).
std::vector<TStoreItem> FeedStoreItems(const TNewsType& news, const TFeedListItem& feed);

// Opens the item store of the data folder ("items.db") for the catalogue, as the program starts
// it: a store made new (the first run, or a damaged one set aside) takes the items of the cached
// documents as read, seen at now. Returns how the store came up; its Message() says what the
// status bar should.
TStoreOpen OpenItemStore(TItemStore& store, const TFeedList& feeds, TDateTime now);

// OpenItemStore on a thread of its own, so that the program makes its window meanwhile. The feeds
// a new store is seeded from are taken from the catalogue here, on the calling thread; the thread
// touches neither the catalogue nor the store's other users. Wait() before the store is used.
class TItemStoreOpening {
public:
    TItemStoreOpening(TItemStore& store, const TFeedList& feeds, TDateTime now);
    ~TItemStoreOpening();
    TItemStoreOpening(const TItemStoreOpening&) = delete;
    TItemStoreOpening& operator=(const TItemStoreOpening&) = delete;
    // How the store came up, as OpenItemStore says; waits for the thread the first time.
    TStoreOpen Wait();

private:
    std::future<TStoreOpen> FResult;
    std::optional<TStoreOpen> FOpened;
};

// The raw value of the named attribute, ASCII case ignored; "" when there is none. Unlike
// ValueOf it leaves no empty attribute behind.
std::string_view AttributeText(const TXMLAttributes& attributes, std::string_view name);

// The link of an Atom entry that names the entry's own page: the first child named link whose rel
// is "alternate" or absent, else the first such child; null when the entry has none.
const TXMLNode* AlternateLink(const TXMLNode& entry, const TFeedName& link, const TNamespaceScope& scope);
