// Arbitrary bytes as a JSON Feed document: the reader never crashes, however deep or broken the
// JSON; it either reads a feed or raises the unknown-format error; every item text is valid UTF-8
// and every item has an identity; and the item store, the feed finder and the view agree on
// what the document holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/FeedListCls.h"
#include "news/FeedDiscovery.h"
#include "news/ItemIdentity.h"
#include "news/JsonFeed.h"
#include "news/NewsTypeCls.h"
#include "platform/Charset.h"

namespace {

bool IsUTF8(const std::string& text) {
    return SanitizeUTF8(text) == text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept for the whole run and never saved: the catalogue file name leads nowhere.
    static TFeedList* feeds = new TFeedList("/nonexistent/tovel-fuzz/feeds.data");
    static TNewsType* news = new TNewsType(*feeds);
    static TFeedListItem* feed = feeds->Add("root", "fuzz", "http://127.0.0.1/feeds/");

    // Every input is read as JSON: one that does not open with "{" is given one.
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!IsJsonText(text))
        text.insert(0, "{");

    news->ClearItems();
    bool read = true;
    try {
        news->LoadFeedFromString(*feed, text);
    } catch (const Exception& e) {
        if (e.Message() != "The server returns data that has an unknown format.")
            std::abort();
        read = false;
    }
    std::string title;
    if (IsFeedDocument(text, &title) != read || !IsUTF8(title))
        std::abort();
    std::vector<std::string> shown;
    for (const auto& item : news->NewsItems) {
        if (!IsUTF8(item->Title) || !IsUTF8(item->Description) || !IsUTF8(item->Author) || item->Id.empty() ||
            item->Id.size() > 1000)
            std::abort();
        for (const TEnclosure& enclosure : item->Enclosures)
            if (enclosure.URL.empty() || enclosure.Length < 0)
                std::abort();
        TNewsType::PrepareDescription(item->Description, true, TNewsType::ItemBaseURL(*item));
        shown.push_back(item->Id);
    }
    if (DocumentItemIds(text) != shown)
        std::abort();
    return 0;
}
