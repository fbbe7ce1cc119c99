#include "catalogue/FeedCommands.h"

#include <unordered_set>

#include "cache/CacheFiles.h"
#include "url/Url.h"

namespace {

void AddChildEntries(const TFeedList& feeds, const std::string& parentId, std::vector<TFeedTreeEntry>& into,
                     std::unordered_set<const TFeedListItem*>& placed) {
    for (const auto& item : feeds.Items) {
        if (item->ParentID != parentId || !placed.insert(item.get()).second)
            continue;
        into.push_back(TFeedTreeEntry{item.get(), {}});
        if (item->FeedURL.empty()) {
            // The vector may grow while the children are added, so fill a local list first.
            std::vector<TFeedTreeEntry> children;
            AddChildEntries(feeds, item->FeedID, children, placed);
            into.back().Children = std::move(children);
        }
    }
}

void AddDescendants(const TFeedTreeEntry& entry, std::vector<TFeedListItem*>& into) {
    for (const TFeedTreeEntry& child : entry.Children) {
        AddDescendants(child, into);
        into.push_back(child.Item);
    }
}

} // namespace

std::vector<TFeedTreeEntry> BuildFeedTree(const TFeedList& feeds, const std::string& parentId) {
    std::vector<TFeedTreeEntry> tree;
    std::unordered_set<const TFeedListItem*> placed;
    AddChildEntries(feeds, parentId, tree, placed);
    return tree;
}

std::vector<TFeedListItem*> DescendantsDeepestFirst(const TFeedTreeEntry& entry) {
    std::vector<TFeedListItem*> result;
    AddDescendants(entry, result);
    return result;
}

int CompareFeedNodes(int imageIndex1, std::string_view text1, int imageIndex2, std::string_view text2) {
    if (imageIndex1 != imageIndex2) {
        const int clamped1 = imageIndex1 > 1 ? 1 : imageIndex1;
        const int clamped2 = imageIndex2 > 1 ? 1 : imageIndex2;
        return clamped2 - clamped1;
    }
    const std::string upper1 = UpperCaseAscii(std::string(text1));
    const std::string upper2 = UpperCaseAscii(std::string(text2));
    // Bytes compare as unsigned values, as std::string::compare does through char_traits.
    const int result = upper1.compare(upper2);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

bool IsAcceptableName(std::string_view text) {
    return !TrimView(text).empty();
}

bool IsDroppedFeedURL(std::string_view text) {
    const std::string scheme = URLScheme(text);
    return (scheme == "http" || scheme == "https" || scheme == "feed") && ParseURL(text).has_value();
}

std::string NormalizeFeedURL(std::string_view url) {
    const std::optional<TUrl> address = ParseURL(url);
    return address ? address->Text() : std::string();
}

void DeleteFeedEntries(TFeedList& feeds, TFeedListItem& entry,
                       const std::vector<TFeedListItem*>& descendantsDeepestFirst,
                       const std::function<void(const TFeedListItem&)>& beforeRelease) {
    if (!entry.FeedURL.empty())
        DeleteCacheFile(entry.FeedID);
    for (TFeedListItem* item : descendantsDeepestFirst) {
        if (beforeRelease)
            beforeRelease(*item);
        feeds.Delete(item);
    }
    if (beforeRelease)
        beforeRelease(entry);
    feeds.Delete(&entry);
}

bool ApplyFeedProperties(TFeedListItem& item, const std::string& name, const std::string& url,
                         bool aggInclude, bool showAuthor) {
    const bool urlChanged = url != item.FeedURL;
    if (urlChanged) {
        DeleteCacheFile(item.FeedID);
        item.CacheState = {};
    }
    item.FeedName = name;
    item.FeedURL = url;
    item.AggInclude = aggInclude;
    item.ShowAuthor = showAuthor;
    return urlChanged;
}

bool NeedsLiveJournalCorrection(const std::string& url) {
    const std::optional<TUrl> address = ParseURL(url);
    if (!address || address->Host.find("livejournal") == std::string::npos)
        return false;
    return LowerCaseAscii(url).find("/data/") == std::string::npos;
}

std::string LiveJournalFeedURL(const std::string& url) {
    std::string result = url;
    if (result.empty() || result.back() != '/')
        result += '/';
    return result + "data/rss/";
}
