// Any bytes go through the readers of what users bring from elsewhere: the subscription list
// reader, the search for feed links in a web page, the feed check and the address resolution.
// None may crash or raise anything but the list reader's own error, and every found address is
// a whole one.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "catalogue/Opml.h"
#include "news/FeedDiscovery.h"
#include "cache/CacheFiles.h"
#include "url/Url.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        try {
            for (const TOpmlOutline& outline : ParseOpml(text))
                Check(!outline.URL.empty() || !outline.Children.empty());
        } catch (const EOpmlError&) {
        }
        break;
    case 1: {
        for (const TDiscoveredFeed& feed : FindFeedLinks(text, "http://example.org/a/b.html"))
            Check(!feed.URL.empty());
        std::string title;
        IsFeedDocument(std::string(text), &title);
        break;
    }
    default: {
        // The base before the first line end, the reference after it.
        const size_t end = text.find('\n');
        const std::string base(text.substr(0, end));
        const std::string reference(end == std::string_view::npos ? std::string_view()
                                                                  : text.substr(end + 1));
        ResolveURL(base, reference);
        break;
    }
    }
    return 0;
}
