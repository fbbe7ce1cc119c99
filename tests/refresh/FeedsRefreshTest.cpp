// The freshness rule and the walk of one refresh: what is requested, what lands in the entries
// and the cache files.
#include "refresh/FeedsRefresh.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "NginxFixture.h"
#include "RefreshTestSupport.h"

namespace {

using namespace refresh_test;

TEST_F(RefreshTest, ForcedOrUncachedFeedsAreDownloadedWithoutAnyRequest) {
    TFeedsRefresher refresher({}, false);
    TFeedsRefresher forced({}, true);
    TRefreshFeed feed = CopyOf(AddFeed("a", "http://127.0.0.1:1/feed"));
    const TDateTime now = Now();
    feed.RefreshDate = now - kMinute;

    // No cache file: downloaded, and the check time stays as it was.
    EXPECT_TRUE(refresher.NeedsDownload(feed));
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now - kMinute);

    WriteCache(feed.FeedID, "<rss/>");
    EXPECT_FALSE(refresher.NeedsDownload(feed));
    EXPECT_TRUE(forced.NeedsDownload(feed));
    EXPECT_DOUBLE_EQ(feed.RefreshDate, now);
}

TEST_F(RefreshTest, TheTenMinuteIntervalHoldsAtItsBoundaries) {
    auto server = LoopbackHttpServer::Replying(Response("200 OK", LastModified(kServedTime), ""));
    TFeedsRefresher refresher({}, false);
    TRefreshFeed feed = CopyOf(AddFeed("a", server->Url("/feed")));
    WriteCache(feed.FeedID, "<rss/>");
    const TDateTime start = Now();

    feed.RefreshDate = start - 9 * kMinute - 59 * kSecond;
    EXPECT_FALSE(refresher.NeedsDownload(feed));
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start - 9 * kMinute - 59 * kSecond);

    feed.RefreshDate = start - 10 * kMinute;
    EXPECT_TRUE(refresher.NeedsDownload(feed)) << "LastModifiedDate 0 downloads without a probe";
    EXPECT_DOUBLE_EQ(feed.RefreshDate, start);

    // A check time in the future (the clock was set back) keeps the feed skipped until ten
    // minutes after it.
    feed.RefreshDate = start + 5 * kMinute;
    EXPECT_FALSE(refresher.NeedsDownload(feed));
    TestClock = TestClock + 14 * 60 + 59;
    EXPECT_FALSE(refresher.NeedsDownload(feed));
    TestClock = TestClock + 1;
    EXPECT_TRUE(refresher.NeedsDownload(feed));
    EXPECT_EQ(server->Connections(), 0);
}

TEST_F(RefreshTest, TheHeadProbeComparesLastModifiedWithOneSecondTolerance) {
    const TDateTime stored = UnixToDateTime(kServedTime);
    struct TCase {
        const char* Name;
        std::string Reply;
        bool Download;
        TDateTime Probe;
    } cases[] = {
        {"same time", Response("200 OK", LastModified(kServedTime), ""), false, stored},
        {"one second later", Response("200 OK", LastModified(kServedTime + 1), ""), true, stored + kSecond},
        {"earlier", Response("200 OK", LastModified(kServedTime - 60), ""), false, stored - kMinute},
        {"no header", Response("200 OK", "", ""), false, 1.0},
        {"undecodable", Response("200 OK", "Last-Modified: yesterday\r\n", ""), false, 1.0},
        {"405", Response("405 Not Allowed", LastModified(kServedTime + 60), ""), false, 1.0},
        {"malformed", "garbage\r\n\r\n", false, 1.0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto server = LoopbackHttpServer::Replying(c.Reply);
        TFeedsRefresher refresher({}, false);
        TRefreshFeed feed = CopyOf(AddFeed(c.Name, server->Url("/feed")));
        WriteCache(feed.FeedID, "<rss/>");
        refresher.Client.Host = "127.0.0.1";
        refresher.Client.Port = server->Port();
        refresher.Client.Path = "/feed";
        feed.LastModifiedDate = stored;
        feed.RefreshDate = Now() - 11 * kMinute;
        EXPECT_EQ(refresher.NeedsDownload(feed), c.Download);
        EXPECT_DOUBLE_EQ(feed.RefreshDate, Now());
        ASSERT_EQ(server->Requests().size(), 1u);
        EXPECT_EQ(server->Requests()[0].rfind("HEAD /feed HTTP/1.1\r\n", 0), 0u) << server->Requests()[0];
        EXPECT_NEAR(refresher.HeadLastModified(), c.Probe, kSecond / 1000);
    }
}

TEST_F(RefreshTest, ARefusedProbeCountsAsUnchanged) {
    const RefusedPort refused;
    const int port = refused.Port();
    TFeedsRefresher refresher({}, false);
    refresher.Client.Host = "127.0.0.1";
    refresher.Client.Port = port;
    TRefreshFeed feed = CopyOf(AddFeed("a", "http://127.0.0.1:" + std::to_string(port) + "/"));
    WriteCache(feed.FeedID, "<rss/>");
    feed.LastModifiedDate = UnixToDateTime(kServedTime);
    feed.RefreshDate = Now() - 11 * kMinute;
    EXPECT_FALSE(refresher.NeedsDownload(feed));
    EXPECT_EQ(refresher.HeadLastModified(), 1.0);
}

TEST_F(RefreshTest, TheWalkRefreshesMarkedFeedsInOrderAndRecordsEachOutcome) {
    const ScopedHostResolver resolver;
    const std::string body = "<rss><channel><title>t</title></channel></rss>";
    auto site = Site({
        {"/ok", Response("200 OK", LastModified(kServedTime), body)},
        {"/plain", Response("200 OK", "", "plain body")},
    });
    TFeedListItem* folder = AddFeed("folder", "");
    TFeedListItem* unmarked = AddFeed("unmarked", site->Url("/ok"), false);
    TFeedListItem* ok = AddFeed("ok", site->Url("/ok"));
    TFeedListItem* missing = AddFeed("missing", site->Url("/missing"));
    TFeedListItem* unknownHost = AddFeed("nohost", "http://tovel-no-such-host.test/feed");
    TFeedListItem* plain = AddFeed("plain", site->Url("/plain"));
    ok->ErrorText = "failed the last time";
    WriteCache(missing->FeedID, "old document");
    missing->LastModifiedDate = 1234.5;
    plain->LastModifiedDate = 1234.5;
    ForceRefresh = true;

    TRefreshRun run;
    run.Run(Feeds);

    EXPECT_EQ(run.Finished, 1);
    auto checking = [](const TFeedListItem* f) {
        return "Feed checking: " + f->FeedName + " -> " + f->FeedURL;
    };
    auto download = [](const TFeedListItem* f) {
        return "Feed download: " + f->FeedName + " -> " + f->FeedURL;
    };
    // A failed feed leaves its last text standing until the next feed's check.
    EXPECT_EQ(run.Statuses,
              (std::vector<std::string>{checking(ok), download(ok), "", checking(missing), download(missing),
                                        checking(unknownHost), download(unknownHost), checking(plain),
                                        download(plain), ""}));
    EXPECT_EQ(ok->ErrorText, "");
    EXPECT_EQ(ReadCache(ok->FeedID), body);
    EXPECT_DOUBLE_EQ(ok->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_DOUBLE_EQ(ok->RefreshDate, Now());

    EXPECT_EQ(missing->ErrorText, "Unable to open " + missing->FeedURL);
    EXPECT_EQ(ReadCache(missing->FeedID), "old document");
    EXPECT_EQ(missing->LastModifiedDate, 1234.5);
    EXPECT_DOUBLE_EQ(missing->RefreshDate, Now()) << "the check time stands even for a failed download";

    EXPECT_EQ(unknownHost->ErrorText, "The name \"tovel-no-such-host.test\" can not be resolved");

    EXPECT_EQ(plain->ErrorText, "");
    EXPECT_EQ(ReadCache(plain->FeedID), "plain body");
    EXPECT_EQ(plain->LastModifiedDate, 0) << "a download without Last-Modified forgets the old date";

    EXPECT_EQ(ReadCache(folder->FeedID), "<none>");
    EXPECT_EQ(ReadCache(unmarked->FeedID), "<none>");
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
    std::vector<std::string> lines;
    for (const std::string& request : site->Requests())
        lines.push_back(request.substr(0, request.find("\r\n")));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"GET /ok HTTP/1.1", "GET /missing HTTP/1.1", "GET /plain HTTP/1.1"}));
}

TEST_F(RefreshTest, AFeedWithinTheIntervalOnlyShowsItsCheck) {
    auto site = Site({});
    TFeedListItem* feed = AddFeed("recent", site->Url("/feed"));
    WriteCache(feed->FeedID, "cached");
    feed->RefreshDate = Now() - kMinute;
    feed->ErrorText = "stale";
    TRefreshRun run;
    run.Run(Feeds);
    EXPECT_EQ(run.Statuses, (std::vector<std::string>{"Feed checking: recent -> " + feed->FeedURL, ""}));
    EXPECT_EQ(feed->ErrorText, "");
    EXPECT_EQ(site->Connections(), 0);
    EXPECT_EQ(ReadCache(feed->FeedID), "cached");
}

// An unchanged document is not written again; a cache file that cannot be replaced becomes the
// feed's error, and the old document keeps its date.
TEST_F(RefreshTest, TheCacheFileIsReplacedOnlyByADifferentDocument) {
    auto site = Site({{"/same", Response("200 OK", LastModified(kServedTime), "same")},
                      {"/blocked", Response("200 OK", LastModified(kServedTime), "new")}});
    TFeedListItem* same = AddFeed("same", site->Url("/same"));
    TFeedListItem* blocked = AddFeed("blocked", site->Url("/blocked"));
    WriteCache(same->FeedID, "same");
    blocked->LastModifiedDate = 1234.5;
    ASSERT_TRUE(ForceDirectories(Cache(blocked->FeedID) + "/inner"));
    struct stat before {};
    ASSERT_EQ(::stat(Cache(same->FeedID).c_str(), &before), 0);
    ForceRefresh = true;
    TRefreshRun run;
    run.Run(Feeds);

    struct stat after {};
    ASSERT_EQ(::stat(Cache(same->FeedID).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(same->ErrorText, "");
    EXPECT_DOUBLE_EQ(same->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_EQ(blocked->ErrorText, "Cannot create file " + Cache(blocked->FeedID));
    EXPECT_EQ(blocked->LastModifiedDate, 1234.5);
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// The served document's modification time drives nginx's Last-Modified.
void SetModified(const std::string& path, time_t unixTime) {
    struct timespec times[2] = {{unixTime, 0}, {unixTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(RefreshTest, AgainstNginxOnlyANewerDocumentIsDownloadedAgain) {
    NginxFixture nginx;
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    const std::string served = nginx.WriteFile("news.xml", "<rss>first</rss>");
    SetModified(served, kServedTime);
    TFeedListItem* feed = AddFeed("news", nginx.Url("/news.xml"));
    TFeedListItem* gone = AddFeed("gone", nginx.Url("/gone.xml"));
    WriteCache(gone->FeedID, "kept");
    gone->LastModifiedDate = 42;

    ForceRefresh = true;
    TRefreshRun first;
    first.Run(Feeds);
    ForceRefresh = false;
    EXPECT_EQ(ReadCache(feed->FeedID), "<rss>first</rss>");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
    EXPECT_EQ(gone->ErrorText, "Unable to open " + gone->FeedURL);
    EXPECT_EQ(ReadCache(gone->FeedID), "kept");
    EXPECT_EQ(gone->LastModifiedDate, 42);
    gone->RefreshMark = false;

    struct TStep {
        const char* Name;
        time_t Modified;
        bool Downloaded;
    } steps[] = {{"unchanged", kServedTime, false},
                 {"one second newer", kServedTime + 1, true},
                 {"older", kServedTime - 3600, false}};
    std::string expected = "<rss>first</rss>";
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        const std::string text = std::string("<rss>") + step.Name + "</rss>";
        nginx.WriteFile("news.xml", text);
        SetModified(served, step.Modified);
        if (step.Downloaded)
            expected = text;
        TestClock = TestClock + 10 * 60;
        TRefreshRun run;
        run.Run(Feeds);
        EXPECT_EQ(ReadCache(feed->FeedID), expected);
        EXPECT_EQ(feed->ErrorText, "");
        EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
        EXPECT_EQ(run.Statuses.size(), step.Downloaded ? 3u : 2u);
    }
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(kServedTime + 1));
}

} // namespace
