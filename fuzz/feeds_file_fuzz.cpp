// Any bytes given to the feeds file reader either load or raise "The feeds file is corrupted";
// whatever loads is written and read again to the same entries.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "catalogue/FeedsFileInternal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    detail::TFeedEntries items;
    try {
        items = detail::ParseFeedsText(text);
    } catch (const Exception& e) {
        if (e.Message() != detail::kFeedsFileCorrupted)
            std::abort();
        return 0;
    }
    const std::string written = detail::FeedsFileText(items);
    const detail::TFeedEntries again = detail::ParseFeedsText(written);
    if (again.size() != items.size() || detail::FeedsFileText(again) != written)
        std::abort();
    for (size_t i = 0; i < items.size(); ++i)
        if (again[i]->FeedName != items[i]->FeedName || again[i]->FeedURL != items[i]->FeedURL ||
            again[i]->FeedID != items[i]->FeedID || again[i]->ParentID != items[i]->ParentID)
            std::abort();
    return 0;
}
