#include "catalogue/FeedCommands.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "cache/CacheFiles.h"

namespace {

std::vector<std::string> Names(const std::vector<TFeedTreeEntry>& entries) {
    std::vector<std::string> names;
    for (const TFeedTreeEntry& entry : entries)
        names.push_back(entry.Item->FeedName);
    return names;
}

TEST(FeedTree, BuildsFromRootAndLeavesOrphansOut) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* news = list.Add("root", "News", "");
    list.Add(news->FeedID, "Inner", "http://127.0.0.1/inner");
    TFeedListItem* sub = list.Add(news->FeedID, "Sub", "");
    list.Add(sub->FeedID, "Deep", "http://127.0.0.1/deep");
    list.Add("root", "Top feed", "http://127.0.0.1/top");
    list.Add("Root", "Wrong case", "http://127.0.0.1/x");
    list.Add("no-such-folder", "Orphan", "http://127.0.0.1/y");
    // A feed's FeedID named as parent gives no children: only folders have them.
    TFeedListItem* feed = list.Add("root", "Feed", "http://127.0.0.1/f");
    list.Add(feed->FeedID, "Below a feed", "");

    const std::vector<TFeedTreeEntry> tree = BuildFeedTree(list);
    EXPECT_EQ(Names(tree), (std::vector<std::string>{"News", "Top feed", "Feed"}));
    ASSERT_EQ(tree[0].Children.size(), 2u);
    EXPECT_EQ(Names(tree[0].Children), (std::vector<std::string>{"Inner", "Sub"}));
    EXPECT_EQ(Names(tree[0].Children[1].Children), (std::vector<std::string>{"Deep"}));
    EXPECT_TRUE(tree[2].Children.empty());
    EXPECT_EQ(list.Count(), 9);

    // Deepest first: each child's own descendants before the child.
    std::vector<std::string> order;
    for (TFeedListItem* item : DescendantsDeepestFirst(tree[0]))
        order.push_back(item->FeedName);
    EXPECT_EQ(order, (std::vector<std::string>{"Inner", "Deep", "Sub"}));
}

TEST(FeedTree, RepeatedOrCircularIdsGiveAFiniteTree) {
    TempDir dir;
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* a = list.Add("root", "A", "");
    TFeedListItem* b = list.Add("x", "B", "");
    // B claims A's identifier and lives inside it: B is its own child by the identifiers.
    b->FeedID = a->FeedID;
    b->ParentID = a->FeedID;
    TFeedListItem* c = list.Add("y", "C", "");
    TFeedListItem* d = list.Add(c->FeedID, "D", "");
    c->ParentID = d->FeedID;

    const std::vector<TFeedTreeEntry> tree = BuildFeedTree(list);
    ASSERT_EQ(Names(tree), std::vector<std::string>{"A"});
    ASSERT_EQ(Names(tree[0].Children), std::vector<std::string>{"B"});
    EXPECT_TRUE(tree[0].Children[0].Children.empty());
}

TEST(FeedCommands, SiblingOrder) {
    // Feeds (1, 2) before folders (0); names without regard to ASCII case.
    EXPECT_LT(CompareFeedNodes(1, "zeta", 0, "alpha"), 0);
    EXPECT_GT(CompareFeedNodes(0, "alpha", 2, "zeta"), 0);
    EXPECT_LT(CompareFeedNodes(1, "A-feed", 1, "b-feed"), 0);
    EXPECT_LT(CompareFeedNodes(0, "B-folder", 0, "c-folder"), 0);
    EXPECT_EQ(CompareFeedNodes(0, "Same", 0, "sAME"), 0);
    // A failed feed and a working one compare as equal, whatever their names.
    EXPECT_EQ(CompareFeedNodes(2, "a", 1, "z"), 0);
    // Other bytes by value: "_" (95) sorts after the folded letters (65..90), UTF-8 after ASCII.
    EXPECT_GT(CompareFeedNodes(1, "_x", 1, "b"), 0);
    EXPECT_GT(CompareFeedNodes(1, "\xC3\xA9", 1, "z"), 0);
}

TEST(FeedCommands, NamesAndDroppedAddresses) {
    EXPECT_FALSE(IsAcceptableName(""));
    EXPECT_FALSE(IsAcceptableName("   "));
    EXPECT_FALSE(IsAcceptableName("\t\r\n"));
    EXPECT_TRUE(IsAcceptableName(" x "));

    EXPECT_TRUE(IsDroppedFeedURL("http://127.0.0.1/rss"));
    EXPECT_TRUE(IsDroppedFeedURL("HTTP://127.0.0.1/rss"));
    EXPECT_TRUE(IsDroppedFeedURL("https://127.0.0.1/rss"));
    EXPECT_TRUE(IsDroppedFeedURL("HttpS://127.0.0.1/rss"));
    EXPECT_TRUE(IsDroppedFeedURL(" http://127.0.0.1/\r\n"));
    EXPECT_TRUE(IsDroppedFeedURL("feed://127.0.0.1/rss"));
    EXPECT_TRUE(IsDroppedFeedURL("feed:https://127.0.0.1/rss"));
    // A word, another scheme, or no host at all is not an address to subscribe to.
    for (const char* text : {"", "http://", "http:/", "https:/", "ftp://127.0.0.1/rss", "example.com/rss",
                             "hello", "javascript:alert(1)", "file:///etc/passwd", "http://127.0.0.1/a\r\nb"})
        EXPECT_FALSE(IsDroppedFeedURL(text)) << text;
}

TEST(FeedCommands, AddressesAreStoredNormalised) {
    EXPECT_EQ(NormalizeFeedURL("feed://127.0.0.1/x"), "http://127.0.0.1/x");
    EXPECT_EQ(NormalizeFeedURL("FEED://127.0.0.1/X"), "http://127.0.0.1/X");
    EXPECT_EQ(NormalizeFeedURL("feed:https://127.0.0.1/x"), "https://127.0.0.1/x");
    EXPECT_EQ(NormalizeFeedURL("Feed:HTTP://127.0.0.1/x"), "http://127.0.0.1/x");
    EXPECT_EQ(NormalizeFeedURL(" \thttps://Example.ORG:443/a b\r\n"), "https://example.org/a%20b");
    EXPECT_EQ(NormalizeFeedURL("example.org/rss"), "http://example.org/rss");
    EXPECT_EQ(NormalizeFeedURL("https://u:pw@127.0.0.1/x"), "https://u:pw@127.0.0.1/x");
    for (const char* url :
         {"feed:ftp://127.0.0.1/x", "feed:", "feed:/x", "ftp://127.0.0.1/x", "", "http://h/\na"})
        EXPECT_EQ(NormalizeFeedURL(url), "") << url;
}

TEST(FeedCommands, DeleteRemovesSubtreeDeepestFirstAndOnlyTheFeedsOwnCacheFile) {
    TempDir dir;
    ScopedDataFolder data(dir.Path());
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* folder = list.Add("root", "Folder", "");
    TFeedListItem* inner = list.Add(folder->FeedID, "Inner", "http://127.0.0.1/inner");
    TFeedListItem* sub = list.Add(folder->FeedID, "Sub", "");
    TFeedListItem* deep = list.Add(sub->FeedID, "Deep", "http://127.0.0.1/deep");
    TFeedListItem* other = list.Add("root", "Other", "http://127.0.0.1/other");
    for (TFeedListItem* feed : {inner, deep, other})
        SaveStringToFile("<rss/>", CacheFileName(feed->FeedID));
    const std::string innerCache = CacheFileName(inner->FeedID);
    const std::string otherCache = CacheFileName(other->FeedID);

    std::vector<std::string> released;
    const auto remember = [&](const TFeedListItem& item) { released.push_back(item.FeedName); };
    const std::vector<TFeedTreeEntry> tree = BuildFeedTree(list);
    DeleteFeedEntries(list, *folder, DescendantsDeepestFirst(tree[0]), remember);
    EXPECT_EQ(released, (std::vector<std::string>{"Inner", "Deep", "Sub", "Folder"}));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Item(0), other);
    // A deleted folder leaves the cache files of its feeds alone.
    EXPECT_FALSE(dir.Read("cache/" + innerCache.substr(innerCache.rfind('/') + 1)).empty());

    DeleteFeedEntries(list, *other, {}, nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(dir.Read("cache/" + otherCache.substr(otherCache.rfind('/') + 1)).empty());
}

TEST(FeedCommands, EditDeletesTheCacheOnlyWhenTheAddressChanges) {
    TempDir dir;
    ScopedDataFolder data(dir.Path());
    TFeedList list(dir.File("feeds.data"));
    TFeedListItem* feed = list.Add("root", "Feed", "http://127.0.0.1/a");
    feed->RefreshDate = 40000.5;
    const std::string cache = CacheFileName(feed->FeedID);
    const std::string cacheName = "cache/" + cache.substr(cache.rfind('/') + 1);
    SaveStringToFile("<rss/>", cache);

    EXPECT_FALSE(ApplyFeedProperties(*feed, " New name ", "http://127.0.0.1/a", false, true));
    EXPECT_EQ(feed->FeedName, " New name ");
    EXPECT_FALSE(feed->AggInclude);
    EXPECT_TRUE(feed->ShowAuthor);
    EXPECT_EQ(dir.Read(cacheName), "<rss/>");

    // Only the letter case differs: still another address.
    EXPECT_TRUE(ApplyFeedProperties(*feed, "N", "http://127.0.0.1/A", true, false));
    EXPECT_EQ(feed->FeedURL, "http://127.0.0.1/A");
    EXPECT_TRUE(dir.Read(cacheName).empty());
    EXPECT_EQ(feed->RefreshDate, 40000.5);
}

TEST(FeedCommands, LiveJournalCorrection) {
    EXPECT_TRUE(NeedsLiveJournalCorrection("http://someone.livejournal.com/"));
    EXPECT_TRUE(NeedsLiveJournalCorrection("http://SomeOne.LiveJournal.com"));
    EXPECT_FALSE(NeedsLiveJournalCorrection("http://someone.livejournal.com/DATA/rss"));
    // The host decides, not the path.
    EXPECT_FALSE(NeedsLiveJournalCorrection("http://127.0.0.1/livejournal/"));
    EXPECT_TRUE(NeedsLiveJournalCorrection("someone.livejournal.com:80/x"));
    // Credentials are not the host; neither is a name after the host's "@".
    EXPECT_FALSE(NeedsLiveJournalCorrection("https://livejournal:pw@127.0.0.1/"));
    EXPECT_TRUE(NeedsLiveJournalCorrection("https://127.0.0.1@someone.livejournal.com/"));
    EXPECT_FALSE(NeedsLiveJournalCorrection("ftp://someone.livejournal.com/"));

    EXPECT_EQ(LiveJournalFeedURL("http://a.livejournal.com/"), "http://a.livejournal.com/data/rss/");
    EXPECT_EQ(LiveJournalFeedURL("http://a.livejournal.com"), "http://a.livejournal.com/data/rss/");
}

} // namespace
