// Stops, outcomes that must not land, the end handling and the end of the program: the meeting
// of the window and the worker.
#include "refresh/RefreshController.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "RefreshTestSupport.h"
#include "net/SocketLibInternal.h"

namespace {

using namespace refresh_test;

// Holds server handlers until the test opens it.
class TGate {
public:
    void Open() {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FOpen = true;
        }
        FChanged.notify_all();
    }
    // Waits until opened or the server stops.
    void Wait(LoopbackConnection& connection) {
        std::unique_lock<std::mutex> lock(FLock);
        while (!FOpen && !connection.Stopping())
            FChanged.wait_for(lock, std::chrono::milliseconds(20));
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
};

// A server whose answer to each path waits for that path's gate; other paths are answered at
// once. Records which paths have been asked for.
class TGatedSite {
public:
    explicit TGatedSite(std::vector<std::string> gated)
        : FServer([this](LoopbackConnection& connection) { Serve(connection); }) {
        for (const std::string& path : gated)
            FGates[path] = std::make_unique<TGate>();
    }
    std::string Url(const std::string& path) const { return FServer.Url(path); }
    void Open(const std::string& path) { FGates.at(path)->Open(); }
    bool Asked(const std::string& path) const {
        for (const std::string& request : FServer.Requests())
            if (request.rfind("GET " + path + " ", 0) == 0)
                return true;
        return false;
    }
    static std::string Document(const std::string& path) { return "<rss>" + path + "</rss>"; }

private:
    void Serve(LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        const auto gate = FGates.find(path);
        if (gate != FGates.end())
            gate->second->Wait(connection);
        connection.Send(Response("200 OK", LastModified(kServedTime), Document(path)));
    }

    std::map<std::string, std::unique_ptr<TGate>> FGates;
    LoopbackHttpServer FServer;
};

// The window's stop, caught after its first steps: the stop is requested and the exchange
// aborted, but the worker is not given up yet. Whatever the worker then gets back (a part of the
// body, or the failure of an exchange that never started) must not become an outcome.
TEST_F(RefreshTest, AStoppedExchangeLeavesTheEntryAndItsCacheAsTheyWere) {
    std::atomic<bool> partSent{false};
    const std::string body(20000, 'x');
    LoopbackHttpServer half([&](LoopbackConnection& connection) {
        connection.ReadRequest();
        const std::string whole = Response("200 OK", LastModified(kServedTime), body);
        connection.Send(whole.substr(0, whole.size() - 15000));
        partSent = true;
        connection.WaitForClientClose(20000);
    });
    // Stopped while the worker waits for the window to show "Feed download: ", or once a part
    // of the body has arrived.
    for (const bool duringTheBody : {false, true}) {
        SCOPED_TRACE(duringTheBody ? "during the body" : "before the exchange");
        partSent = false;
        Feeds.ClearRefreshMarks();
        TFeedListItem* feed = AddFeed("feed", half.Url("/feed"));
        WriteCache(feed->FeedID, "old document");

        TSyncPump pump;
        bool ended = false;
        int outcomes = 0;
        auto* refresher = new TFeedsRefresher(MarkedFeeds(Feeds), true);
        auto stop = [refresher] { refresher->Stop(); };
        refresher->OnStatus = [&](const std::string& text) {
            if (!duringTheBody && text.rfind("Feed download: ", 0) == 0)
                stop();
        };
        refresher->OnOutcome = [&outcomes](TFeedOutcome&) { ++outcomes; };
        refresher->OnTerminate = [&ended](TThread*) { ended = true; };
        refresher->Resume();
        if (duringTheBody) {
            ASSERT_TRUE(pump.PumpUntil([&] { return partSent.load(); }));
            stop();
        }
        ASSERT_TRUE(pump.PumpUntil([&] { return ended; }));

        EXPECT_EQ(outcomes, 0);
        EXPECT_TRUE(ReadCache(feed->FeedID) == "old document") << ReadCache(feed->FeedID).size() << " bytes";
        EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
    }
}

// The stop lands after the worker's last look at it, while its outcome is on the way: the
// outcome is dropped and the worker deletes the document it downloaded.
TEST_F(RefreshTest, AnOutcomeDroppedOnItsWayLeavesNoFileBehind) {
    auto site = Site({{"/feed", Response("200 OK", "", "new document")}});
    TFeedListItem* feed = AddFeed("feed", site->Url("/feed"));
    TSyncPump pump;
    int outcomes = 0;
    auto refresher = std::make_unique<TFeedsRefresher>(MarkedFeeds(Feeds), true);
    TFeedsRefresher* worker = refresher.get();
    // The empty status ends the feed; the outcome follows it.
    worker->OnStatus = [worker](const std::string& text) {
        if (text.empty())
            worker->GiveUp();
    };
    worker->OnOutcome = [&outcomes](TFeedOutcome&) { ++outcomes; };
    worker->Resume();
    ASSERT_TRUE(pump.PumpUntil([&] { return worker->Finished(); }));
    EXPECT_EQ(outcomes, 0);
    EXPECT_EQ(ReadCache(feed->FeedID), "<none>");
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// A stop during the connect or the download ends the exchange within the stop's own wait: the
// worker is not left behind, and neither a part of the document nor the stop becomes the feed's.
TEST_F(RefreshTest, AStopEndsTheExchangeInProgressWithinItsWait) {
    const std::string body(200000, 'x');
    LoopbackHttpServer slow([&body](LoopbackConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(Response("200 OK", "", body), 100, 20);
    });
    const UnansweredPort unanswered;
    struct TCase {
        const char* Name;
        std::string Url;
    } cases[] = {{"download", slow.Url("/feed")},
                 {"connect", "http://127.0.0.1:" + std::to_string(unanswered.Port()) + "/feed"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Feeds.ClearRefreshMarks();
        TFeedListItem* feed = AddFeed(c.Name, c.Url);
        TFeedListItem* later = AddFeed("later", slow.Url("/other"));
        later->ErrorText = "from the refresh before";
        feed->ErrorText = "from the refresh before";
        Force = true;

        TSyncPump pump;
        std::vector<std::string> statuses;
        int finished = 0;
        TRefreshController controller(Feeds);
        controller.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
        controller.OnFinished = [&] { ++finished; };
        controller.Start(CurrentMarks(Feeds), Force);
        ASSERT_TRUE(pump.PumpUntil(
            [&] { return !statuses.empty() && statuses.back().rfind("Feed download", 0) == 0; }));
        if (c.Name == std::string("download")) {
            ASSERT_TRUE(pump.PumpUntil([&] { return slow.Connections() > 0; }));
        }

        EXPECT_TRUE(controller.Stop());
        EXPECT_EQ(finished, 1);
        EXPECT_FALSE(controller.IsRunning());
        EXPECT_TRUE(controller.WaitForWorkers(0)) << "the worker was left behind";
        EXPECT_FALSE(controller.Stop()) << "a second stop has nothing to end";
        while (CheckSynchronize()) {
        }
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(ReadCache(feed->FeedID), "<none>");
        EXPECT_EQ(feed->ErrorText, "from the refresh before");
        EXPECT_EQ(feed->RefreshDate, 0);
        EXPECT_EQ(later->ErrorText, "from the refresh before");
        EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
    }
}

// The window stops while the worker waits for it to show a status: neither may wait on the other.
TEST_F(RefreshTest, AStopWhileTheWorkerWaitsForTheWindowNeverDeadlocks) {
    auto silent = LoopbackHttpServer::Silent();
    for (int i = 0; i < 3; ++i)
        AddFeed("feed" + std::to_string(i), silent->Url("/feed"));
    Force = true;
    int finished = 0;
    std::vector<std::string> statuses;
    {
        TSyncPump pump;
        TRefreshController controller(Feeds);
        controller.OnStatus = [&](const std::string& text) { statuses.push_back(text); };
        controller.OnFinished = [&] { ++finished; };
        controller.Start(CurrentMarks(Feeds), Force);
        // No pumping: the worker is (or soon is) blocked showing its first status.
        EXPECT_TRUE(controller.Stop());
        EXPECT_TRUE(controller.WaitForWorkers(10000));
        while (CheckSynchronize()) {
        }
        // A new refresh after the stop, stopped in its download from a server that never answers.
        controller.Start(CurrentMarks(Feeds), Force);
        ASSERT_TRUE(pump.PumpUntil([&] { return silent->Connections() > 0; }));
        EXPECT_TRUE(controller.Stop());
    } // the controller waits for its workers here
    EXPECT_EQ(finished, 2);
    for (TFeedListItem* item : {Feeds.Item(0), Feeds.Item(1), Feeds.Item(2)})
        EXPECT_EQ(ReadCache(item->FeedID), "<none>");
}

// A new start stops the running refresh first: its end handling runs once and sees its own
// marks, and nothing of its download lands, even when the server answers afterwards.
TEST_F(RefreshTest, ANewStartEndsTheOldRefreshOnceAndKeepsItsDownloadOut) {
    TGatedSite site({"/old"});
    TFeedListItem* old = AddFeed("old", site.Url("/old"));
    TFeedListItem* next = AddFeed("next", site.Url("/next"), false);
    Force = true;
    TSyncPump pump;
    std::vector<std::vector<std::string>> marksAtEnd;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] {
        std::vector<std::string> marked;
        for (const auto& item : Feeds.Items)
            if (item->RefreshMark)
                marked.push_back(item->FeedName);
        marksAtEnd.push_back(marked);
    };
    controller.Start(CurrentMarks(Feeds), Force);
    ASSERT_TRUE(pump.PumpUntil([&] { return site.Asked("/old"); }));
    controller.Start([next](TFeedList&) { next->RefreshMark = true; }, Force);
    site.Open("/old");
    ASSERT_TRUE(pump.PumpUntil([&] { return marksAtEnd.size() == 2; }));
    EXPECT_TRUE(controller.WaitForWorkers(10000));
    while (CheckSynchronize()) {
    }
    EXPECT_EQ(marksAtEnd, (std::vector<std::vector<std::string>>{{"old"}, {"next"}}));
    EXPECT_EQ(ReadCache(old->FeedID), "<none>");
    EXPECT_EQ(old->RefreshDate, 0);
    EXPECT_EQ(ReadCache(next->FeedID), TGatedSite::Document("/next"));
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// A refresh over the feeds a predicate takes: the window's marks name its page's feeds
// throughout, before, during and after; what it brings lands as a marked refresh's would.
TEST_F(RefreshTest, ARefreshOverTakenFeedsLeavesTheMarksAlone) {
    TGatedSite site({"/taken"});
    TFeedListItem* marked = AddFeed("marked", site.Url("/marked"));
    TFeedListItem* taken = AddFeed("taken", site.Url("/taken"), false);
    TFeedListItem* folder = Feeds.Add("root", "folder", "");
    folder->RefreshMark = true;
    Force = true;
    TSyncPump pump;
    const auto marks = [this] {
        std::vector<std::string> names;
        for (const auto& item : Feeds.Items)
            if (item->RefreshMark)
                names.push_back(item->FeedName);
        return names;
    };
    const std::vector<std::string> before = marks();
    std::vector<std::vector<std::string>> marksAtEnd;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] { marksAtEnd.push_back(marks()); };
    controller.StartFeeds([](const TFeedListItem& item) { return item.FeedName != "marked"; }, Force);
    EXPECT_EQ(marks(), before);
    ASSERT_TRUE(pump.PumpUntil([&] { return site.Asked("/taken"); }));
    EXPECT_EQ(marks(), before);
    site.Open("/taken");
    ASSERT_TRUE(pump.PumpUntil([&] { return marksAtEnd.size() == 1; }));
    EXPECT_EQ(marksAtEnd[0], before);
    EXPECT_FALSE(site.Asked("/marked"));
    EXPECT_EQ(ReadCache(marked->FeedID), "<none>");
    EXPECT_EQ(ReadCache(taken->FeedID), TGatedSite::Document("/taken"));
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// The window deletes one feed and gives another a new address while each downloads: neither
// gets anything of the old download, and its document does not stay behind as a file.
TEST_F(RefreshTest, AnEntryDeletedOrReaddressedDuringItsDownloadGetsNothing) {
    TGatedSite site({"/moved", "/deleted"});
    TFeedListItem* moved = AddFeed("moved", site.Url("/moved"));
    TFeedListItem* deleted = AddFeed("deleted", site.Url("/deleted"));
    TFeedListItem* other = AddFeed("other", site.Url("/other"));
    const std::string deletedId = deleted->FeedID;
    Force = true;
    TSyncPump pump;
    int finished = 0;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] { ++finished; };
    controller.Start(CurrentMarks(Feeds), Force);

    ASSERT_TRUE(pump.PumpUntil([&] { return site.Asked("/moved"); }));
    moved->FeedURL = "http://127.0.0.1:1/new";
    site.Open("/moved");
    ASSERT_TRUE(pump.PumpUntil([&] { return site.Asked("/deleted"); }));
    Feeds.Delete(deleted);
    site.Open("/deleted");
    ASSERT_TRUE(pump.PumpUntil([&] { return finished > 0; }));

    EXPECT_EQ(ReadCache(moved->FeedID), "<none>");
    EXPECT_EQ(moved->RefreshDate, 0);
    EXPECT_EQ(moved->LastModifiedDate, 0);
    EXPECT_EQ(moved->ErrorText, "");
    EXPECT_EQ(ReadCache(deletedId), "<none>");
    // The feeds after them are refreshed as usual.
    EXPECT_EQ(ReadCache(other->FeedID), TGatedSite::Document("/other"));
    EXPECT_NE(other->LastModifiedDate, 0);
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

TEST_F(RefreshTest, EntriesAppendedUnderARunningRefreshAreLeftAlone) {
    auto site = Site({{"/feed", Response("200 OK", "", "body")}});
    for (int i = 0; i < 20; ++i)
        AddFeed("feed" + std::to_string(i), site->Url("/feed"));
    Force = true;
    TSyncPump pump;
    int finished = 0;
    int added = 0;
    TRefreshController controller(Feeds);
    controller.OnFinished = [&] { ++finished; };
    controller.Start(CurrentMarks(Feeds), Force);
    // The window appends while the worker walks, marked like the others; the vector of entries
    // grows and moves under the running refresh.
    ASSERT_TRUE(pump.PumpUntil([&] {
        for (int k = 0; k < 4 && added < 400; ++k, ++added)
            AddFeed("added" + std::to_string(added), site->Url("/feed"));
        return finished > 0;
    }));
    ASSERT_GT(added, 0);
    for (int i = 0; i < Feeds.Count(); ++i) {
        const TFeedListItem* item = Feeds.Item(i);
        SCOPED_TRACE(item->FeedName);
        EXPECT_EQ(ReadCache(item->FeedID), i < 20 ? "body" : "<none>");
    }
}

// A failure that ends the worker's walk (here an odd exception from the window's status handler)
// reaches the window's error seam, followed by the end handling, once.
TEST_F(RefreshTest, AFailureThatEndsTheWalkReachesTheWindow) {
    auto site = Site({{"/feed", Response("200 OK", "", "body")}});
    AddFeed("feed", site->Url("/feed"));
    TSyncPump pump;
    std::vector<std::string> events;
    TRefreshController controller(Feeds);
    controller.OnStatus = [](const std::string&) { throw 42; };
    controller.OnError = [&](const std::string& message) { events.push_back("error: " + message); };
    controller.OnFinished = [&] { events.push_back("finished"); };
    controller.Start(CurrentMarks(Feeds), Force);
    ASSERT_TRUE(pump.PumpUntil([&] { return !controller.IsRunning(); }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"error: The refresh ended with an unknown error", "finished"}));
}

// At the end of the program a worker stuck in a name lookup must not hold up the exit: Shutdown
// gives up on it after its wait, the catalogue is saved and the program ends at once.
TEST_F(RefreshTest, AWorkerStuckInANameLookupDoesNotHoldUpTheExit) {
    auto stuckExit = [this] {
        // Never answers: a lookup the system cannot interrupt.
        std::atomic<bool> asked{false};
        SetHostResolverForTesting([&asked](const std::string&, in_addr&) {
            asked = true;
            for (;;)
                ::pause();
            return false;
        });
        AddFeed("stuck", "http://stuck.test/feed");
        TSyncPump pump;
        auto controller = std::make_unique<TRefreshController>(Feeds);
        controller->Start(CurrentMarks(Feeds), Force);
        if (!pump.PumpUntil([&] { return asked.load(); }))
            _exit(2);
        const bool allEnded = controller->Shutdown(200);
        // Released with the worker still stuck: it is left to the end of the program.
        controller.reset();
        Feeds.Save();
        _exit(allEnded ? 1 : 0);
    };
    EXPECT_EXIT(stuckExit(), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(FileExists(Dir.File("feeds.data"))) << "the catalogue was saved before the exit";
}

} // namespace
