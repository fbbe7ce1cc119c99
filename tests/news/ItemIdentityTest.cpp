#include "news/ItemIdentity.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "NewsTestSupport.h"
#include "catalogue/FeedCommands.h"

namespace {

using TIds = std::vector<std::string>;

std::string Rss(const std::string& items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>C</title>" + items +
           "</channel></rss>";
}

TEST(ItemIdentity, RssTakesTheGuidThenTheLinkThenAHash) {
    const TIds ids = DocumentItemIds(Rss(R"(
<item><title>One</title><GUID isPermaLink="false"> tag:site,2024:&amp;1 </GUID><link>http://site/1</link></item>
<item><title>Two</title><guid>  </guid><link> http://site/2?a=1&amp;b=2 </link></item>
<item><title>Three</title><description>Text</description></item>
<item><title>Three</title><description>Text</description></item>
<item><title>Three</title><description>Text!</description></item>)"));
    ASSERT_EQ(5u, ids.size());
    EXPECT_EQ("tag:site,2024:&1", ids[0]);
    EXPECT_EQ("http://site/2?a=1&b=2", ids[1]) << "a blank guid is none";
    EXPECT_EQ(21u, ids[2].size());
    EXPECT_EQ(0u, ids[2].rfind("hash:", 0));
    EXPECT_EQ(ids[2], ids[3]) << "the same title and text are the same item";
    EXPECT_NE(ids[2], ids[4]);

    // An edited title or text under the same guid is the same item.
    EXPECT_EQ(TIds{"tag:site,2024:&1"},
              DocumentItemIds(Rss("<item><title>One, edited</title><guid>tag:site,2024:&amp;1</guid>"
                                  "<description>New text</description></item>")));
}

TEST(ItemIdentity, AnOverlongIdentifierIsHashed) {
    const std::string longest(1000, 'g');
    const TIds ids = DocumentItemIds(Rss("<item><guid>" + longest + "</guid></item><item><guid>" + longest +
                                         "h</guid></item><item><guid>" + longest + "i</guid></item>"));
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ(longest, ids[0]);
    EXPECT_EQ(0u, ids[1].rfind("hash:", 0));
    EXPECT_NE(ids[1], ids[2]);
}

TEST(ItemIdentity, TheHashKeepsTitleAndTextApart) {
    const TIds ids =
        DocumentItemIds(Rss("<item><title>ab</title><description>c</description></item>"
                            "<item><title>a</title><description>bc</description></item>"
                            "<item><title>a</title><content:encoded>bc</content:encoded></item>"));
    ASSERT_EQ(3u, ids.size());
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[1], ids[2]) << "content:encoded stands in for a missing description";
}

TEST(ItemIdentity, Rss1TakesRdfAboutThenTheLink) {
    const TIds ids = DocumentItemIds(R"(<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<channel rdf:about="http://site/"><title>C</title></channel>
<item RDF:ABOUT="http://site/about/1"><title>One</title><link>http://site/1</link></item>
<item><title>Two</title><link>http://site/2</link></item>
</rdf:RDF>)");
    EXPECT_EQ((TIds{"http://site/about/1", "http://site/2"}), ids);
}

TEST(ItemIdentity, AtomTakesTheIdThenTheAlternateLink) {
    const TIds ids = DocumentItemIds(R"(<feed xmlns="http://www.w3.org/2005/Atom"><title>C</title>
<id>urn:feed</id>
<entry><id>urn:uuid:1</id><title>One</title><link href="http://site/1"/></entry>
<entry><title>Two</title><link rel="replies" href="http://site/2#comments"/><link href="http://site/2"/></entry>
<entry><title>Three</title><summary>Text</summary></entry>
</feed>)");
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ("urn:uuid:1", ids[0]);
    EXPECT_EQ("http://site/2", ids[1]);
    EXPECT_EQ(0u, ids[2].rfind("hash:", 0));
}

TEST(ItemIdentity, DocumentsThatAreNoFeedsHaveNoItems) {
    EXPECT_TRUE(DocumentItemIds("<html><body>Not a feed</body></html>").empty());
    EXPECT_TRUE(DocumentItemIds("").empty());
    EXPECT_THROW(DocumentItemIds("<rss version=\"2.0\"></rss>"), Exception);
}

class ItemIdentityNewsTest : public ::testing::Test, protected TNewsFixtureBase {};

// The view and the store's seeding read the same identities, whatever the document's form.
TEST_F(ItemIdentityNewsTest, TheViewsItemsCarryTheSameIdentities) {
    const std::string document = Rss("<item><title>One</title><guid>g1</guid></item>"
                                     "<item><title>Two</title><link>post.html</link></item>"
                                     "<item><title>Three</title></item>");
    std::string wide = "\xFF\xFE";
    for (char c : document)
        wide += std::string{c, '\0'};
    for (const std::string& text : {document, wide}) {
        News->ClearItems();
        TFeedListItem* feed = AddFeed("feed", nullptr);
        News->LoadFeedFromString(*feed, text);
        TIds shown;
        for (const auto& item : News->NewsItems)
            shown.push_back(item->Id);
        EXPECT_EQ(DocumentItemIds(text), shown);
        ASSERT_EQ(3u, shown.size());
        // The page resolves a relative link; the identity keeps it as written, so that a new
        // address for the feed leaves its items the same.
        EXPECT_EQ("http://127.0.0.1/post.html", News->Item(1)->Link);
        EXPECT_EQ("post.html", shown[1]);
    }
}

TEST_F(ItemIdentityNewsTest, CachedIdentitiesOfEveryFeedWithAReadableDocument) {
    TFeedListItem* folder = Feeds.Add("root", "Folder", "");
    TFeedListItem* a =
        AddFeed("a", Rss("<item><guid>a1</guid></item><item><guid>a2</guid></item>").c_str(), folder->FeedID);
    AddFeed("empty", Rss("").c_str());
    AddFeed("never downloaded", nullptr);
    AddFeed("broken", "<rss><nochannel/></rss>");
    AddFeed("page", "<html></html>");
    TFeedListItem* b = AddFeed("b", Rss("<item><guid>a1</guid></item>").c_str());
    const auto ids = CachedItemIds(Feeds);
    EXPECT_EQ(2u, ids.size());
    EXPECT_EQ((TIds{"a1", "a2"}), ids.at(a->FeedID));
    EXPECT_EQ(TIds{"a1"}, ids.at(b->FeedID));
}

// Every public feed: the view's items and the store's seeding read the same identities, none
// empty; most items name themselves (guid, id, rdf:about or link) rather than fall back to a hash.
TEST_F(ItemIdentityNewsTest, PublicCorpusFeedsGiveTheSameIdentitiesBothWays) {
    const std::string corpus = CorpusFolder();
    if (corpus.empty())
        GTEST_SKIP() << "public feed corpus not found at " << TOVEL_CORPUS_DIR;
    int items = 0, hashed = 0;
    for (const auto& file : std::filesystem::directory_iterator(corpus)) {
        const std::string name = file.path().filename().string();
        if (name == "MANIFEST.tsv" || name == "README.md")
            continue;
        SCOPED_TRACE(name);
        const std::string text = ReadFileToString(file.path().string());
        News->ClearItems();
        try {
            News->LoadFeedFromString(*AddFeed(name, nullptr), text);
        } catch (const Exception&) {
            continue;
        }
        TIds shown;
        for (const auto& item : News->NewsItems) {
            EXPECT_FALSE(item->Id.empty());
            shown.push_back(item->Id);
            hashed += item->Id.rfind("hash:", 0) == 0 ? 1 : 0;
        }
        items += static_cast<int>(shown.size());
        EXPECT_EQ(DocumentItemIds(text), shown);
    }
    EXPECT_GT(items, 1000);
    EXPECT_LT(hashed * 20, items) << hashed << " of " << items << " items hashed";
}

// The read state of a feed's items through what the user does with the feed: a title edited in
// the next download, a move to another folder, a new address.
TEST_F(ItemIdentityNewsTest, ReadStateFollowsTheFeedThroughEditsMovesAndANewAddress) {
    TFeedListItem* folder = Feeds.Add("root", "Folder", "");
    TFeedListItem* other = Feeds.Add("root", "Other", "");
    TFeedListItem* feed = AddFeed("a", nullptr, folder->FeedID);
    TItemStore store;
    ASSERT_EQ(TStoreOpen::Created, OpenItemStore(store, Feeds, 46000));
    const auto download = [&](const std::string& items, TDateTime now) {
        WriteCache(*feed, Rss(items));
        News->LoadMarkedFeeds();
        EXPECT_EQ("", feed->ErrorText);
        return store.RecordDocument(feed->FeedID, FeedStoreItems(*News, *feed), now);
    };
    EXPECT_EQ(3, download("<item><title>One</title><guid>g1</guid></item>"
                          "<item><title>Two</title><link>two.html</link></item>"
                          "<item><title>Three</title></item>",
                          46001));
    store.MarkRead(feed->FeedID, {"g1", "two.html"});

    // The next download: a title edited under the same guid is neither new nor unread again.
    EXPECT_EQ(
        0, download("<item><title>One (updated)</title><guid>g1</guid><description>More</description></item>"
                    "<item><title>Two</title><link>two.html</link></item>"
                    "<item><title>Three</title></item>",
                    46002));
    EXPECT_EQ(1, store.UnreadCounts()[feed->FeedID].Unread);

    // Moved to another folder: the same entry, the same state.
    feed->ParentID = other->FeedID;
    EXPECT_EQ(0, download("<item><title>One</title><guid>g1</guid></item>"
                          "<item><title>Two</title><link>two.html</link></item>"
                          "<item><title>Three</title></item>",
                          46003));
    EXPECT_EQ(DocumentItemIds(Rss("<item><title>Three</title></item>")), store.UnreadIds(feed->FeedID));

    // A new address: the items that keep their identity keep their state, a relative link
    // included; the others are forgotten.
    ASSERT_TRUE(ApplyFeedProperties(*feed, feed->FeedName, "http://127.0.0.1/moved/a", false, false));
    store.ReaddressFeed(feed->FeedID);
    EXPECT_EQ(0, store.UnreadCounts()[feed->FeedID].Items);
    EXPECT_EQ(1, download("<item><title>Two</title><link>two.html</link></item>"
                          "<item><title>Four</title><guid>g4</guid></item>",
                          46004));
    EXPECT_EQ(std::vector<std::string>{"g4"}, store.UnreadIds(feed->FeedID));
    EXPECT_EQ(1, download("<item><title>One</title><guid>g1</guid></item>", 46005))
        << "an item of the old address only is new at the new one";
}

// The program's start: a new store counts the cached items as read, an existing one is left as
// it is, and a damaged one starts over as a new one.
TEST_F(ItemIdentityNewsTest, AStoreMadeNewTakesTheCachedItemsAsRead) {
    TFeedListItem* a = AddFeed("a", Rss("<item><guid>a1</guid></item><item><guid>a2</guid></item>").c_str());
    {
        TItemStore store;
        EXPECT_EQ(TStoreOpen::Created, OpenItemStore(store, Feeds, 46000));
        EXPECT_EQ(2, store.UnreadCounts()[a->FeedID].Items);
        EXPECT_TRUE(store.UnreadIds(a->FeedID).empty());
        EXPECT_EQ(1, store.RecordDocument(a->FeedID, {{"a1", 0}, {"a3", 0}}, 46001));
    }
    {
        // Opened again with the same cache: what the user has not read stays unread.
        TItemStore store;
        EXPECT_EQ(TStoreOpen::Opened, OpenItemStore(store, Feeds, 46002));
        EXPECT_EQ(std::vector<std::string>{"a3"}, store.UnreadIds(a->FeedID));
    }
    Temp.Write("items.db", "not a store");
    Temp.Write("items.db-wal", "");
    TItemStore store;
    EXPECT_EQ(TStoreOpen::Recreated, OpenItemStore(store, Feeds, 46003));
    EXPECT_FALSE(store.Message().empty());
    EXPECT_EQ(2, store.UnreadCounts()[a->FeedID].Items);
    EXPECT_TRUE(store.UnreadIds(a->FeedID).empty());
}

// The program opens the store on a thread while it makes its window: the same store, seeded from
// the feeds of the moment it began, whatever the window does with the catalogue meanwhile.
TEST_F(ItemIdentityNewsTest, AStoreOpenedBesideTheWindowIsSeededFromTheFeedsItBeganWith) {
    TFeedListItem* a = AddFeed("a", Rss("<item><guid>a1</guid></item><item><guid>a2</guid></item>").c_str());
    TItemStore store;
    TItemStoreOpening opening(store, Feeds, 46000);
    TFeedListItem* b = AddFeed("b", Rss("<item><guid>b1</guid></item>").c_str());
    EXPECT_EQ(TStoreOpen::Created, opening.Wait());
    EXPECT_EQ(TStoreOpen::Created, opening.Wait());
    EXPECT_EQ(2, store.UnreadCounts()[a->FeedID].Items);
    EXPECT_TRUE(store.UnreadIds(a->FeedID).empty());
    EXPECT_EQ(0u, store.UnreadCounts().count(b->FeedID));
}

// The diagnostic command comes up with the store as the program does and prints the counts of
// every feed in catalogue order, folders left out.
TEST_F(ItemIdentityNewsTest, InspectStatePrintsEveryFeedsCounts) {
    TFeedListItem* folder = Feeds.Add("root", "Folder", "");
    TFeedListItem* b = AddFeed("b", Rss("<item><guid>b1</guid></item>").c_str(), folder->FeedID);
    TFeedListItem* a = AddFeed("a", Rss("<item><guid>a1</guid></item><item><guid>a2</guid></item>").c_str());
    AddFeed("never downloaded", nullptr);
    Feeds.Save();
    {
        TItemStore store;
        OpenItemStore(store, Feeds, 46000);
        store.RecordDocument(a->FeedID, {{"a1", 0}, {"a2", 0}, {"a3", 0}}, 46001);
    }
    const std::string command = "'" + std::string(TOVEL_INSPECT_PATH) + "' state --data '" + Temp.Path() +
                                "' > '" + Temp.File("out") + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
    EXPECT_EQ("{\"name\":\"b\",\"id\":\"" + b->FeedID + "\",\"items\":1,\"unread\":0}\n" +
                  "{\"name\":\"a\",\"id\":\"" + a->FeedID + "\",\"items\":3,\"unread\":1}\n" +
                  "{\"name\":\"never downloaded\",\"id\":\"" + Feeds.Items.back()->FeedID +
                  "\",\"items\":0,\"unread\":0}\n",
              Temp.Read("out"));
}

} // namespace
