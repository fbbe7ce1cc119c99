// Arbitrary bytes as a feed item's description and title: the cleaned text holds nothing outside
// the allowlist when the browser's parser reads it again, cleaning it again changes nothing (with
// and without pictures), and what the nesting guard lets through nests no deeper than it counts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../tests/news/HtmlAllowlist.h"
#include "news/HtmlCleaner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    const std::string base = "https://blog.example/2024/post.html";
    for (const bool pictures : {false, true}) {
        const std::string once = CleanDescriptionHtml(html, base, pictures);
        if (CleanDescriptionHtml(once, base, pictures) != once)
            std::abort();
        if (!htmlcheck::FindOutsideAllowlist(once, pictures).empty())
            std::abort();
    }
    const std::string title = CleanTitleHtml(html);
    if (CleanTitleHtml(title) != title || !htmlcheck::FindOutsideAllowlist(title, false, true).empty())
        std::abort();

    // A small limit, so that short inputs reach it.
    constexpr size_t kLimit = 8;
    size_t depth = 0;
    htmlcheck::FindOutsideAllowlist(html.substr(0, detail::NestingCut(html, kLimit)), true, false, &depth);
    if (depth > 2 * kLimit + 2)
        std::abort();
    return 0;
}
