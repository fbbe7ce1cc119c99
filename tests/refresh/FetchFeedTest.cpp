// One feed fetched against one scripted server, the cache state the window keeps for the
// workers, and the settings every worker's client takes.
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "RefreshTestSupport.h"
#include "catalogue/FeedCommands.h"
#include "refresh/FeedFetch.h"
#include "refresh/FeedsRefresh.h"

namespace {

using namespace refresh_test;

// A client as the refresh sets its workers' up.
struct TFeedClient : THTTPClient {
    TFeedClient() {
        PrepareFeedClient(*this);
        IdleTimeout = 5000;
    }
};

TEST_F(RefreshTest, FetchFeedDownloadsWholeAndConditionally) {
    auto site =
        Site({{"/feed", Response("200 OK", "ETag: \"n\"\r\n" + LastModified(kServedTime), "<rss>new</rss>")},
              {"/same", Response("304 Not Modified", "", "")}});
    TFeedClient client;
    TRefreshFeed feed = CopyOf(AddFeed("feed", site->Url("/feed")));
    int downloading = 0;
    TFeedOutcome outcome = FetchFeed(client, feed, false, {}, [&downloading] { ++downloading; });
    EXPECT_EQ(outcome.ErrorText, "");
    EXPECT_EQ(downloading, 1);
    EXPECT_TRUE(outcome.Downloaded);
    EXPECT_EQ(outcome.StatusCode, 200);
    EXPECT_EQ(outcome.Feed.ETag, "\"n\"");
    EXPECT_EQ(outcome.Feed.Hash, DocumentHash("<rss>new</rss>"));
    EXPECT_DOUBLE_EQ(outcome.Feed.LastModifiedDate, UnixToDateTime(kServedTime));
    ASSERT_NE(outcome.TemporaryFile, "");
    EXPECT_EQ(ReadFileToString(outcome.TemporaryFile), "<rss>new</rss>");
    EXPECT_EQ(ReadCache(feed.FeedID), "<none>") << "the cache file is the window's to replace";
    EXPECT_NE(RequestHead(site->Requests()[0]).find("GET /feed HTTP/1.1\r\n"), std::string::npos);
    EXPECT_EQ(RequestHead(site->Requests()[0]).find("If-None-Match"), std::string::npos);
    DeleteFile(outcome.TemporaryFile);

    // Checked long ago, cached with a tag: a conditional GET, and 304 keeps everything.
    TRefreshFeed same = CopyOf(AddFeed("same", site->Url("/same")));
    same.Cached = true;
    same.ETag = "\"t\"";
    same.LastModifiedDate = UnixToDateTime(kServedTime);
    outcome = FetchFeed(client, same, false);
    EXPECT_EQ(outcome.ErrorText, "");
    EXPECT_EQ(outcome.StatusCode, 304);
    EXPECT_FALSE(outcome.Downloaded);
    EXPECT_EQ(outcome.TemporaryFile, "");
    EXPECT_EQ(outcome.Feed.ETag, "\"t\"");
    EXPECT_DOUBLE_EQ(outcome.Feed.RefreshDate, Now());
    const std::string head = RequestHead(site->Requests()[1]);
    EXPECT_NE(head.find("\r\nIf-None-Match: \"t\"\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\nIf-Modified-Since: Tue, 14 Nov 2023 22:13:20 GMT\r\n"), std::string::npos)
        << head;

    // Within ten minutes of the check: no request at all.
    outcome = FetchFeed(client, outcome.Feed, false, {}, [&downloading] { ++downloading; });
    EXPECT_EQ(outcome.StatusCode, 0);
    EXPECT_EQ(downloading, 1);
    EXPECT_EQ(site->Requests().size(), 2u);
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// The worker knows the cached document by its hash alone: the same bytes give no new file, other
// bytes (or an unknown hash) give one, whatever the cache file itself holds.
TEST_F(RefreshTest, FetchFeedComparesTheDownloadWithTheHashOfItsCopy) {
    auto site = Site({{"/feed", Response("200 OK", "", "<rss>same</rss>")}});
    TFeedClient client;
    TRefreshFeed feed = CopyOf(AddFeed("feed", site->Url("/feed")));
    WriteCache(feed.FeedID, "something else");
    feed.Cached = true;
    feed.Hash = DocumentHash("<rss>same</rss>");
    TFeedOutcome outcome = FetchFeed(client, feed, true);
    EXPECT_TRUE(outcome.Downloaded);
    EXPECT_EQ(outcome.TemporaryFile, "");
    EXPECT_EQ(outcome.Feed.Hash, feed.Hash);

    for (const std::string& hash : {std::string(), DocumentHash("<rss>old</rss>")}) {
        feed.Hash = hash;
        outcome = FetchFeed(client, feed, true);
        EXPECT_TRUE(outcome.Downloaded);
        ASSERT_NE(outcome.TemporaryFile, "") << "hash " << hash;
        EXPECT_EQ(ReadFileToString(outcome.TemporaryFile), "<rss>same</rss>");
        EXPECT_EQ(outcome.Feed.Hash, DocumentHash("<rss>same</rss>"));
        DeleteFile(outcome.TemporaryFile);
    }
    // Not cached, the same hash is no reason to keep nothing.
    feed.Hash = DocumentHash("<rss>same</rss>");
    feed.Cached = false;
    outcome = FetchFeed(client, feed, true);
    EXPECT_NE(outcome.TemporaryFile, "");
    DeleteFile(outcome.TemporaryFile);

    EXPECT_NE(DocumentHash("ab"), DocumentHash("ba"));
    EXPECT_NE(DocumentHash(""), DocumentHash(std::string(1, '\0')));
}

TEST_F(RefreshTest, FetchFeedFailuresKeepNothing) {
    auto site = Site({{"/feed", Response("200 OK", "", "<rss/>")}});
    TFeedClient client;

    TRefreshFeed broken = CopyOf(AddFeed("broken", "not an address"));
    TFeedOutcome outcome = FetchFeed(client, broken, true);
    EXPECT_NE(outcome.ErrorText, "");
    EXPECT_DOUBLE_EQ(outcome.Feed.RefreshDate, 0) << "no check was made";

    TRefreshFeed missing = CopyOf(AddFeed("missing", site->Url("/gone")));
    outcome = FetchFeed(client, missing, true);
    EXPECT_EQ(outcome.ErrorText, "Unable to open " + site->Url("/gone"));
    EXPECT_EQ(outcome.StatusCode, 404);
    EXPECT_FALSE(outcome.Downloaded);

    // Stopped before the exchange: no request; stopped after it: nothing of the answer kept.
    TRefreshFeed feed = CopyOf(AddFeed("feed", site->Url("/feed")));
    outcome = FetchFeed(client, feed, true, [] { return true; });
    EXPECT_EQ(outcome.ErrorText, "The refresh was stopped");
    EXPECT_EQ(site->Requests().size(), 1u);
    int asked = 0;
    outcome = FetchFeed(client, feed, true, [&asked] { return ++asked > 1; });
    EXPECT_EQ(outcome.ErrorText, "The refresh was stopped");
    EXPECT_EQ(site->Requests().size(), 2u);
    EXPECT_FALSE(outcome.Downloaded);
    EXPECT_EQ(outcome.TemporaryFile, "");
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// The copies carry what the window knows of the cache; a worker reads neither the cache file nor
// the ETag file, which the window may replace or delete at any time.
TEST_F(RefreshTest, WorkersTakeTheCacheStateFromTheirCopies) {
    std::mutex lock;
    std::vector<std::string> heads;
    LoopbackHttpServer server([&](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        {
            std::lock_guard<std::mutex> guard(lock);
            heads.push_back(RequestHead(request));
        }
        connection.Send(request.find("If-None-Match: \"old\"") != std::string::npos
                            ? Response("304 Not Modified", "", "")
                            : Response("200 OK", "ETag: \"new\"\r\n", "<rss>new</rss>"));
    });
    TFeedListItem* item = AddFeed("feed", server.Url("/feed"));
    WriteCache(item->FeedID, "<rss>old</rss>");
    WriteETag(item->FeedID, "\"old\"");
    item->RefreshDate = Now() - 11 * kMinute;

    std::vector<TRefreshFeed> copies = MarkedFeeds(Feeds);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(copies[0].Cached);
    EXPECT_EQ(copies[0].ETag, "\"old\"");
    EXPECT_EQ(copies[0].Hash, "") << "not known before a download";
    EXPECT_TRUE(item->CacheState.Known);

    // Both files change after the copy was made: the worker still asks as the copy says.
    WriteETag(item->FeedID, "\"changed\"");
    DeleteFile(Cache(item->FeedID));
    TSyncPump pump;
    std::vector<TFeedOutcome> outcomes;
    auto refresher = std::make_unique<TFeedsRefresher>(copies, false);
    refresher->OnOutcome = [&outcomes](TFeedOutcome& outcome) { outcomes.push_back(outcome); };
    refresher->FreeOnTerminate = false;
    refresher->Resume();
    ASSERT_TRUE(pump.PumpUntil([&] { return refresher->Finished(); }));
    while (CheckSynchronize()) {
    }
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].StatusCode, 304);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_NE(heads[0].find("\r\nIf-None-Match: \"old\"\r\n"), std::string::npos) << heads[0];

    // Once known, the state is the entry's: the files are not read again for the next copies.
    WriteETag(item->FeedID, "\"other\"");
    EXPECT_EQ(MarkedFeeds(Feeds)[0].ETag, "\"old\"");
}

// The window keeps the state up to date as downloads land, and forgets it with the cache file.
TEST_F(RefreshTest, TheCacheStateFollowsTheDownloadsAndTheDeletions) {
    auto site = Site({{"/feed", Response("200 OK", "ETag: \"n\"\r\n", "<rss>n</rss>")},
                      {"/untagged", Response("200 OK", "", "<rss>u</rss>")}});
    TFeedListItem* item = AddFeed("feed", site->Url("/feed"));
    TFeedListItem* untagged = AddFeed("untagged", site->Url("/untagged"));
    untagged->CacheState = {true, true, "\"stale\"", DocumentHash("<rss>x</rss>")};
    TRefreshRun run;
    run.Run(Feeds, true);
    EXPECT_EQ(item->ErrorText, "");
    EXPECT_TRUE(item->CacheState.Known);
    EXPECT_TRUE(item->CacheState.Cached);
    EXPECT_EQ(item->CacheState.ETag, "\"n\"");
    EXPECT_EQ(item->CacheState.Hash, DocumentHash("<rss>n</rss>"));
    EXPECT_EQ(ReadETag(item->FeedID), "\"n\"");
    EXPECT_EQ(untagged->CacheState.ETag, "");
    EXPECT_EQ(untagged->CacheState.Hash, DocumentHash("<rss>u</rss>"));

    // The same document again: no new file, the state as it was.
    TRefreshRun again;
    again.Run(Feeds, true);
    EXPECT_TRUE(again.OutcomeOf(item->FeedID).Downloaded);
    EXPECT_EQ(again.OutcomeOf(item->FeedID).TemporaryFile, "");
    EXPECT_EQ(ReadCache(item->FeedID), "<rss>n</rss>");

    // A new address deletes the cache file, and the state goes with it.
    ApplyFeedProperties(*item, "feed", site->Url("/untagged"), false, false);
    EXPECT_FALSE(item->CacheState.Known);
    EXPECT_EQ(MarkedFeeds(Feeds)[0].Cached, false);
    EXPECT_TRUE(item->CacheState.Known);
    EXPECT_EQ(item->CacheState.ETag, "");
}

// Every worker's client takes the refresh's settings whole, the proxy included.
TEST_F(RefreshTest, EveryWorkerGoesThroughTheProxyOfTheSettings) {
    std::mutex lock;
    std::condition_variable changed;
    int inside = 0;
    int peak = 0;
    std::vector<std::string> targets;
    LoopbackHttpServer proxy([&](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        {
            std::unique_lock<std::mutex> guard(lock);
            targets.push_back(request.substr(0, request.find("\r\n")));
            peak = std::max(peak, ++inside);
            changed.notify_all();
            // Held until four requests are in at once, so that several workers are asking.
            changed.wait_for(guard, std::chrono::seconds(5), [&] { return peak >= 4; });
        }
        connection.Send(Response("200 OK", "", "<rss/>"));
        std::lock_guard<std::mutex> guard(lock);
        --inside;
    });
    // Nothing listens at the feeds' own addresses: only the proxy can answer.
    RefusedPort refused;
    std::vector<TFeedListItem*> items;
    for (int i = 0; i < 8; ++i)
        items.push_back(AddFeed("feed" + std::to_string(i), "http://127.0.0." + std::to_string(1 + i % 4) +
                                                                ":" + std::to_string(refused.Port()) + "/f" +
                                                                std::to_string(i)));
    TRefreshRun run;
    run.Prepare = [&proxy](TFeedsRefresher& refresher) {
        refresher.Settings.ProxyHost = "127.0.0.1";
        refresher.Settings.ProxyPort = proxy.Port();
    };
    run.Run(Feeds, true);
    for (TFeedListItem* item : items) {
        EXPECT_EQ(item->ErrorText, "") << item->FeedName;
        EXPECT_EQ(ReadCache(item->FeedID), "<rss/>") << item->FeedName;
    }
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(targets.size(), 8u);
    EXPECT_GE(peak, 4);
    for (const std::string& target : targets)
        EXPECT_EQ(target.rfind("GET http://127.0.0.", 0), 0u) << target;
}

} // namespace
