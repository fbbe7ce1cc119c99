// Arbitrary bytes as a feed's cached document: recognition and extraction never crash, and every
// item text they give is valid UTF-8 whatever the declared encoding, unless that encoding is one
// the converter does not know.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"
#include "platform/Charset.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept for the whole run and never saved: the catalogue file name leads nowhere.
    static TFeedList* feeds = new TFeedList("/nonexistent/tovel-fuzz/feeds.data");
    static TNewsType* news = new TNewsType(*feeds);
    static TFeedListItem* feed = feeds->Add("root", "fuzz", "http://127.0.0.1/");

    news->ClearItems();
    try {
        news->LoadFeedFromString(*feed, std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Exception&) {
        // Unknown formats and a missing channel are reported, not crashes.
    }
    news->SortItems();
    const bool utf8 = news->EncodingName.empty() || IsKnownCharset(news->EncodingName);
    for (const auto& item : news->NewsItems) {
        if (utf8 && (SanitizeUTF8(item->Title) != item->Title ||
                     SanitizeUTF8(item->Description) != item->Description ||
                     SanitizeUTF8(item->Author) != item->Author))
            std::abort();
        TNewsType::PrepareDescription(item->Description, false);
    }
    for (int i = 1; i < news->ItemCount(); ++i)
        if (news->Item(i - 1)->Date < news->Item(i)->Date)
            std::abort();
    return 0;
}
