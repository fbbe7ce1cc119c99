#include "refresh/FeedsRefresh.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackHttpServer.h"
#include "NginxFixture.h"
#include "SyncPump.h"
#include "TempDir.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/CacheFiles.h"
#include "refresh/RefreshController.h"

namespace {

constexpr double Minute = 1.0 / 1440;
constexpr double Second = 1.0 / 86400;
// 2023-11-14 22:13:20 UTC, the modification time of the served feeds.
constexpr time_t ServedTime = 1700000000;

// The worker reads the clock too, so the test's moment is atomic.
std::atomic<double> TestClock{0};
double ReadTestClock() {
    return TestClock;
}

std::string Response(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string LastModified(time_t unixTime) {
    char text[64];
    struct tm parts;
    gmtime_r(&unixTime, &parts);
    strftime(text, sizeof text, "Last-Modified: %a, %d %b %Y %H:%M:%S GMT\r\n", &parts);
    return text;
}

// Answers each request by its path from a fixed table; unknown paths get 404.
std::unique_ptr<LoopbackHttpServer> Site(std::map<std::string, std::string> pages) {
    return std::make_unique<LoopbackHttpServer>([pages](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        auto page = pages.find(path);
        connection.Send(page != pages.end() ? page->second : Response("404 Not Found", "", "gone"));
    });
}

// A catalogue in a fresh program folder, a fixed local clock in UTC and a clean ForceRefresh.
class RefreshTest : public ::testing::Test {
protected:
    RefreshTest() : FFolder(Dir.Path()), FZone("TZ", "UTC"), Feeds(Dir.File("feeds.data")) {
        tzset();
        TestClock = 1765000000.0;
        SetClockForTesting(ReadTestClock);
        ForceRefresh = false;
    }
    ~RefreshTest() override {
        SetClockForTesting(nullptr);
        ForceRefresh = false;
        tzset();
    }

    TFeedListItem* AddFeed(const std::string& name, const std::string& url, bool marked = true) {
        TFeedListItem* item = Feeds.Add("root", name, url);
        item->RefreshMark = marked;
        return item;
    }
    std::string Cache(const TFeedListItem* item) { return CacheFileName(item->FeedID); }
    void WriteCache(const TFeedListItem* item, const std::string& text) {
        SaveStringToFile(text, Cache(item));
    }
    std::string ReadCache(const TFeedListItem* item) {
        return FileExists(Cache(item)) ? ReadFileToString(Cache(item)) : "<none>";
    }

    TempDir Dir;

private:
    ScopedDataFolder FFolder;
    ScopedEnv FZone;

protected:
    TFeedList Feeds;
};

// Runs one refresh of the marked feeds through the controller, as the window does.
struct TRefreshRun {
    std::vector<std::string> Statuses;
    int Finished = 0;

    void Run(TFeedList& feeds) {
        TSyncPump pump;
        TRefreshController controller(feeds);
        controller.OnStatus = [this](const std::string& text) { Statuses.push_back(text); };
        controller.OnFinished = [this] { ++Finished; };
        controller.Start();
        ASSERT_TRUE(pump.PumpUntil([&] { return Finished > 0; }));
        EXPECT_FALSE(controller.IsRunning());
    }
};

TEST_F(RefreshTest, ForcedOrUncachedFeedsAreDownloadedWithoutAnyRequest) {
    TFeedsRefresher refresher(Feeds);
    TFeedListItem* feed = AddFeed("a", "http://127.0.0.1:1/feed");
    const TDateTime now = Now();
    feed->RefreshDate = now - Minute;

    // No cache file: downloaded, and the check time stays as it was.
    EXPECT_TRUE(refresher.NeedsDownload(*feed));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, now - Minute);

    WriteCache(feed, "<rss/>");
    EXPECT_FALSE(refresher.NeedsDownload(*feed));
    ForceRefresh = true;
    EXPECT_TRUE(refresher.NeedsDownload(*feed));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, now);
}

TEST_F(RefreshTest, TheTenMinuteIntervalHoldsAtItsBoundaries) {
    auto server = LoopbackHttpServer::Replying(Response("200 OK", LastModified(ServedTime), ""));
    TFeedsRefresher refresher(Feeds);
    TFeedListItem* feed = AddFeed("a", server->Url("/feed"));
    WriteCache(feed, "<rss/>");
    const TDateTime start = Now();

    feed->RefreshDate = start - 9 * Minute - 59 * Second;
    EXPECT_FALSE(refresher.NeedsDownload(*feed));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, start - 9 * Minute - 59 * Second);

    feed->RefreshDate = start - 10 * Minute;
    EXPECT_TRUE(refresher.NeedsDownload(*feed)) << "LastModifiedDate 0 downloads without a probe";
    EXPECT_DOUBLE_EQ(feed->RefreshDate, start);

    // A check time in the future (the clock was set back) keeps the feed skipped until ten
    // minutes after it.
    feed->RefreshDate = start + 5 * Minute;
    EXPECT_FALSE(refresher.NeedsDownload(*feed));
    TestClock = TestClock + 14 * 60 + 59;
    EXPECT_FALSE(refresher.NeedsDownload(*feed));
    TestClock = TestClock + 1;
    EXPECT_TRUE(refresher.NeedsDownload(*feed));
    EXPECT_EQ(server->Connections(), 0);
}

TEST_F(RefreshTest, TheHeadProbeComparesLastModifiedWithOneSecondTolerance) {
    const TDateTime stored = UnixToDateTime(ServedTime);
    struct TCase {
        const char* Name;
        std::string Reply;
        bool Download;
        TDateTime Probe;
    } cases[] = {
        {"same time", Response("200 OK", LastModified(ServedTime), ""), false, stored},
        {"one second later", Response("200 OK", LastModified(ServedTime + 1), ""), true, stored + Second},
        {"earlier", Response("200 OK", LastModified(ServedTime - 60), ""), false, stored - Minute},
        {"no header", Response("200 OK", "", ""), false, 1.0},
        {"undecodable", Response("200 OK", "Last-Modified: yesterday\r\n", ""), false, 1.0},
        {"405", Response("405 Not Allowed", LastModified(ServedTime + 60), ""), false, 1.0},
        {"malformed", "garbage\r\n\r\n", false, 1.0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto server = LoopbackHttpServer::Replying(c.Reply);
        TFeedsRefresher refresher(Feeds);
        TFeedListItem* feed = AddFeed(c.Name, server->Url("/feed"));
        WriteCache(feed, "<rss/>");
        refresher.Client.Host = "127.0.0.1";
        refresher.Client.Port = server->Port();
        refresher.Client.Path = "/feed";
        feed->LastModifiedDate = stored;
        feed->RefreshDate = Now() - 11 * Minute;
        EXPECT_EQ(refresher.NeedsDownload(*feed), c.Download);
        EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
        ASSERT_EQ(server->Requests().size(), 1u);
        EXPECT_EQ(server->Requests()[0].rfind("HEAD /feed HTTP/1.1\r\n", 0), 0u) << server->Requests()[0];
        EXPECT_NEAR(refresher.HeadLastModified(), c.Probe, Second / 1000);
    }
}

TEST_F(RefreshTest, ARefusedProbeCountsAsUnchanged) {
    const RefusedPort refused;
    const int port = refused.Port();
    TFeedsRefresher refresher(Feeds);
    refresher.Client.Host = "127.0.0.1";
    refresher.Client.Port = port;
    TFeedListItem* feed = AddFeed("a", "http://127.0.0.1:" + std::to_string(port) + "/");
    WriteCache(feed, "<rss/>");
    feed->LastModifiedDate = UnixToDateTime(ServedTime);
    EXPECT_FALSE(refresher.NeedsDownload(*feed));
    EXPECT_EQ(refresher.HeadLastModified(), 1.0);
}

TEST_F(RefreshTest, TheWalkRefreshesMarkedFeedsInOrderAndRecordsEachOutcome) {
    const std::string body = "<rss><channel><title>t</title></channel></rss>";
    auto site = Site({
        {"/ok", Response("200 OK", LastModified(ServedTime), body)},
        {"/plain", Response("200 OK", "", "plain body")},
    });
    TFeedListItem* folder = AddFeed("folder", "");
    TFeedListItem* unmarked = AddFeed("unmarked", site->Url("/ok"), false);
    TFeedListItem* ok = AddFeed("ok", site->Url("/ok"));
    TFeedListItem* missing = AddFeed("missing", site->Url("/missing"));
    TFeedListItem* unknownHost = AddFeed("nohost", "http://tovel-no-such-host.invalid/feed");
    TFeedListItem* plain = AddFeed("plain", site->Url("/plain"));
    ok->ErrorText = "failed the last time";
    WriteCache(missing, "old document");
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
    EXPECT_EQ(ReadCache(ok), body);
    EXPECT_DOUBLE_EQ(ok->LastModifiedDate, UnixToDateTime(ServedTime));
    EXPECT_DOUBLE_EQ(ok->RefreshDate, Now());

    EXPECT_EQ(missing->ErrorText, "Unable to open " + missing->FeedURL);
    EXPECT_EQ(ReadCache(missing), "old document");
    EXPECT_EQ(missing->LastModifiedDate, 1234.5);

    EXPECT_EQ(unknownHost->ErrorText, "The name \"tovel-no-such-host.invalid\" can not be resolved");

    EXPECT_EQ(plain->ErrorText, "");
    EXPECT_EQ(ReadCache(plain), "plain body");
    EXPECT_EQ(plain->LastModifiedDate, 0) << "a download without Last-Modified forgets the old date";

    EXPECT_EQ(ReadCache(folder), "<none>");
    EXPECT_EQ(ReadCache(unmarked), "<none>");
    std::vector<std::string> lines;
    for (const std::string& request : site->Requests())
        lines.push_back(request.substr(0, request.find("\r\n")));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"GET /ok HTTP/1.1", "GET /missing HTTP/1.1", "GET /plain HTTP/1.1"}));
}

TEST_F(RefreshTest, AFeedWithinTheIntervalOnlyShowsItsCheck) {
    auto site = Site({});
    TFeedListItem* feed = AddFeed("recent", site->Url("/feed"));
    WriteCache(feed, "cached");
    feed->RefreshDate = Now() - Minute;
    feed->ErrorText = "stale";
    TRefreshRun run;
    run.Run(Feeds);
    EXPECT_EQ(run.Statuses, (std::vector<std::string>{"Feed checking: recent -> " + feed->FeedURL, ""}));
    EXPECT_EQ(feed->ErrorText, "");
    EXPECT_EQ(site->Connections(), 0);
    EXPECT_EQ(ReadCache(feed), "cached");
}

TEST_F(RefreshTest, EntriesAppendedUnderARunningRefreshAreLeftAlone) {
    auto site = Site({{"/feed", Response("200 OK", "", "body")}});
    for (int i = 0; i < 20; ++i)
        AddFeed("feed" + std::to_string(i), site->Url("/feed"));
    ForceRefresh = true;
    TSyncPump pump;
    int finished = 0;
    int added = 0;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] { ++finished; };
    int shown = 0; // once a status is shown the walk has counted its entries
    controller.OnStatus = [&](const std::string&) { ++shown; };
    controller.Start();
    // The window appends while the worker walks; the vector of entries grows under it.
    ASSERT_TRUE(pump.PumpUntil([&] {
        if (shown > 0 && added < 400) {
            auto hold = controller.HoldEntries();
            for (int k = 0; k < 4; ++k, ++added)
                AddFeed("added" + std::to_string(added), site->Url("/feed"));
        }
        return finished > 0;
    }));
    ASSERT_GT(added, 0);
    for (int i = 0; i < Feeds.Count(); ++i) {
        const TFeedListItem* item = Feeds.Item(i);
        SCOPED_TRACE(item->FeedName);
        EXPECT_EQ(ReadCache(item), i < 20 ? "body" : "<none>");
    }
}

// The window gives a feed another address while its old one downloads: the old document must not
// become the new feed's cache, nor its dates the entry's, or the new feed would count as fresh.
TEST_F(RefreshTest, AnAddressChangedDuringTheDownloadKeepsTheOldDocumentOut) {
    const std::string body(20000, 'x');
    LoopbackHttpServer slow([&body](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(Response("200 OK", "Last-Modified: Sat, 06 Dec 2025 05:46:40 GMT\r\n", body), 2000,
                           20);
    });
    TFeedListItem* feed = AddFeed("moved", slow.Url("/old"));
    TFeedListItem* other = AddFeed("other", slow.Url("/other"));
    ForceRefresh = true;
    TSyncPump pump;
    int finished = 0;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] { ++finished; };
    controller.Start();
    ASSERT_TRUE(pump.PumpUntil([&] { return slow.Connections() > 0; }));
    {
        auto hold = controller.HoldEntries();
        feed->FeedURL = "http://127.0.0.1:1/new";
    }
    ASSERT_TRUE(pump.PumpUntil([&] { return finished > 0; }));
    EXPECT_EQ(ReadCache(feed), "<none>");
    EXPECT_EQ(feed->RefreshDate, 0);
    EXPECT_EQ(feed->LastModifiedDate, 0);
    EXPECT_EQ(feed->ErrorText, "");
    // The feeds after it are refreshed as usual.
    EXPECT_EQ(ReadCache(other), body);
    EXPECT_NE(other->LastModifiedDate, 0);
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
    SetModified(served, ServedTime);
    TFeedListItem* feed = AddFeed("news", nginx.Url("/news.xml"));
    TFeedListItem* gone = AddFeed("gone", nginx.Url("/gone.xml"));
    WriteCache(gone, "kept");
    gone->LastModifiedDate = 42;

    ForceRefresh = true;
    TRefreshRun first;
    first.Run(Feeds);
    ForceRefresh = false;
    EXPECT_EQ(ReadCache(feed), "<rss>first</rss>");
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(ServedTime));
    EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
    EXPECT_EQ(gone->ErrorText, "Unable to open " + gone->FeedURL);
    EXPECT_EQ(ReadCache(gone), "kept");
    EXPECT_EQ(gone->LastModifiedDate, 42);
    gone->RefreshMark = false;

    struct TStep {
        const char* Name;
        time_t Modified;
        bool Downloaded;
    } steps[] = {{"unchanged", ServedTime, false},
                 {"one second newer", ServedTime + 1, true},
                 {"older", ServedTime - 3600, false}};
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
        EXPECT_EQ(ReadCache(feed), expected);
        EXPECT_EQ(feed->ErrorText, "");
        EXPECT_DOUBLE_EQ(feed->RefreshDate, Now());
        EXPECT_EQ(run.Statuses.size(), step.Downloaded ? 3u : 2u);
    }
    EXPECT_DOUBLE_EQ(feed->LastModifiedDate, UnixToDateTime(ServedTime + 1));
}

// A download that trickles for seconds; the stop must end it early, run the end handling once and
// keep the given-up worker away from the window, the entries and the cache.
TEST_F(RefreshTest, AStopDuringASlowDownloadEndsTheRefreshOnce) {
    const std::string body(200000, 'x');
    LoopbackHttpServer slow([&body](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(Response("200 OK", "", body), 100, 20);
    });
    TFeedListItem* feed = AddFeed("slow", slow.Url("/feed"));
    TFeedListItem* later = AddFeed("later", slow.Url("/other"));
    later->ErrorText = "from the refresh before";
    ForceRefresh = true;

    TSyncPump pump;
    std::vector<std::string> statuses;
    int finished = 0;
    TRefreshController controller(Feeds);
    controller.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
    controller.OnFinished = [&] { ++finished; };
    controller.Start();
    ASSERT_TRUE(
        pump.PumpUntil([&] { return !statuses.empty() && statuses.back().rfind("Feed download", 0) == 0; }));
    ASSERT_TRUE(pump.PumpUntil([&] { return slow.Connections() > 0; }));

    EXPECT_TRUE(controller.Stop());
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(controller.IsRunning());
    EXPECT_FALSE(controller.Stop()) << "a second stop has nothing to end";
    const size_t shown = statuses.size();
    EXPECT_TRUE(controller.WaitForWorkers(10000));
    while (CheckSynchronize()) {
    }
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(statuses.size(), shown);
    EXPECT_EQ(ReadCache(feed), "<none>");
    EXPECT_EQ(later->ErrorText, "from the refresh before");
    EXPECT_EQ(feed->LastModifiedDate, 0);
}

// The window's stop, caught after its first steps: the stop is requested and the exchange
// aborted, but the worker is not given up yet. Whatever the worker then gets back (a part of the
// body, or the failure of an exchange that never started) must leave the entry and its cache
// file as they were before the refresh.
TEST_F(RefreshTest, AStoppedExchangeLeavesTheEntryAndItsCacheAsTheyWere) {
    std::atomic<bool> partSent{false};
    const std::string body(20000, 'x');
    LoopbackHttpServer half([&](LoopbackConnection& connection) {
        connection.ReadRequest();
        const std::string whole = Response("200 OK", LastModified(ServedTime), body);
        connection.Send(whole.substr(0, whole.size() - 15000));
        partSent = true;
        connection.WaitForClientClose(20000);
    });
    // Stopped while the worker waits for the window to show "Feed download: ", or once a part
    // of the body has arrived.
    for (const bool duringTheBody : {false, true}) {
        SCOPED_TRACE(duringTheBody ? "during the body" : "before the exchange");
        partSent = false;
        TFeedListItem* feed = AddFeed("feed", half.Url("/feed"));
        WriteCache(feed, "old document");
        feed->RefreshDate = 100;
        feed->LastModifiedDate = 1234.5;
        feed->ErrorText = "from the refresh before";
        ForceRefresh = true;

        TSyncPump pump;
        bool ended = false;
        auto* refresher = new TFeedsRefresher(Feeds);
        auto stop = [refresher] {
            refresher->Terminate();
            refresher->Client.Aborted = true;
        };
        refresher->OnStatus = [&](const std::string& text) {
            if (!duringTheBody && text.rfind("Feed download: ", 0) == 0)
                stop();
        };
        refresher->OnTerminate = [&ended](TThread*) { ended = true; };
        refresher->Resume();
        if (duringTheBody) {
            ASSERT_TRUE(pump.PumpUntil([&] { return partSent.load(); }));
            stop();
        }
        ASSERT_TRUE(pump.PumpUntil([&] { return ended; }));

        EXPECT_TRUE(ReadCache(feed) == "old document") << ReadCache(feed).size() << " bytes cached";
        EXPECT_EQ(feed->RefreshDate, 100);
        EXPECT_EQ(feed->LastModifiedDate, 1234.5);
        EXPECT_EQ(feed->ErrorText, "from the refresh before");
        feed->RefreshMark = false;
    }
}

// The window stops while the worker waits for it to show a status: neither may wait on the other.
TEST_F(RefreshTest, AStopWhileTheWorkerWaitsForTheWindowNeverDeadlocks) {
    auto silent = LoopbackHttpServer::Silent();
    for (int i = 0; i < 3; ++i)
        AddFeed("feed" + std::to_string(i), silent->Url("/feed"));
    ForceRefresh = true;
    int finished = 0;
    std::vector<std::string> statuses;
    {
        TSyncPump pump;
        TRefreshController controller(Feeds);
        controller.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
        controller.OnFinished = [&] { ++finished; };
        controller.Start();
        // No pumping: the worker is (or soon is) blocked showing its first status.
        EXPECT_TRUE(controller.Stop());
        EXPECT_TRUE(controller.WaitForWorkers(10000));
        while (CheckSynchronize()) {
        }
        // A new refresh after the stop, stopped in its download from a server that never answers.
        controller.Start();
        ASSERT_TRUE(pump.PumpUntil([&] { return silent->Connections() > 0; }));
        EXPECT_TRUE(controller.Stop());
    } // the controller waits for its workers here
    EXPECT_EQ(finished, 2);
    for (TFeedListItem* item : {Feeds.Item(0), Feeds.Item(1), Feeds.Item(2)})
        EXPECT_EQ(ReadCache(item), "<none>");
}

} // namespace
