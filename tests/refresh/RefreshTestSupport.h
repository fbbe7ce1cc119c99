#pragma once

// The catalogue, clock, servers and refresh runs that the refresh tests share.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LoopbackHttpServer.h"
#include "SyncPump.h"
#include "TempDir.h"
#include "cache/CacheFiles.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/FeedsRefresh.h"
#include "refresh/RefreshController.h"

namespace refresh_test {

constexpr double kMinute = 1.0 / 1440;
constexpr double kSecond = 1.0 / 86400;
// 2023-11-14 22:13:20 UTC, the modification time of the served feeds.
constexpr time_t kServedTime = 1700000000;

// The worker reads the clock too, so the test's moment is atomic.
inline std::atomic<double> TestClock{0};
inline double ReadTestClock() {
    return TestClock;
}

inline std::string Response(const std::string& status, const std::string& headers, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

inline std::string LastModified(time_t unixTime) {
    char text[64];
    struct tm parts;
    gmtime_r(&unixTime, &parts);
    strftime(text, sizeof text, "Last-Modified: %a, %d %b %Y %H:%M:%S GMT\r\n", &parts);
    return text;
}

// Answers each request by its path from a fixed table; unknown paths get 404.
inline std::unique_ptr<LoopbackHttpServer> Site(std::map<std::string, std::string> pages) {
    return std::make_unique<LoopbackHttpServer>([pages](LoopbackConnection& connection) {
        const std::string request = connection.ReadRequest();
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        auto page = pages.find(path);
        connection.Send(page != pages.end() ? page->second : Response("404 Not Found", "", "gone"));
    });
}

// A mark function that sets again the marks the entries carry now (Start clears them first).
inline std::function<void(TFeedList&)> CurrentMarks(const TFeedList& feeds) {
    std::vector<TFeedListItem*> marked;
    for (const auto& item : feeds.Items)
        if (item->RefreshMark)
            marked.push_back(item.get());
    return [marked](TFeedList&) {
        for (TFeedListItem* item : marked)
            item->RefreshMark = true;
    };
}

// A catalogue in a fresh data folder and a fixed local clock in UTC.
class RefreshTest : public ::testing::Test {
protected:
    RefreshTest() : FFolder(Dir.Path()), FZone("TZ", "UTC"), Feeds(Dir.File("feeds.data")) {
        tzset();
        TestClock = 1765000000.0;
        SetClockForTesting(ReadTestClock);
    }
    ~RefreshTest() override {
        SetClockForTesting(nullptr);
        tzset();
    }

    TFeedListItem* AddFeed(const std::string& name, const std::string& url, bool marked = true) {
        TFeedListItem* item = Feeds.Add("root", name, url);
        item->RefreshMark = marked;
        return item;
    }
    // The worker's copy of item.
    static TRefreshFeed CopyOf(const TFeedListItem* item) {
        TRefreshFeed feed;
        feed.FeedID = item->FeedID;
        feed.FeedURL = item->FeedURL;
        feed.FeedName = item->FeedName;
        feed.RefreshDate = item->RefreshDate;
        feed.LastModifiedDate = item->LastModifiedDate;
        return feed;
    }
    std::string Cache(const std::string& id) { return CacheFileName(id); }
    void WriteCache(const std::string& id, const std::string& text) { SaveStringToFile(text, Cache(id)); }
    std::string ReadCache(const std::string& id) {
        return FileExists(Cache(id)) ? ReadFileToString(Cache(id)) : "<none>";
    }
    // The names in the cache folder that are not cache files: temporary files left behind.
    std::vector<std::string> StrayCacheFiles() {
        std::vector<std::string> stray;
        const std::string folder = Dir.File("cache");
        if (!DirectoryExists(folder))
            return stray;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.size() < 4 || name.compare(name.size() - 4, 4, ".xml") != 0)
                stray.push_back(name);
        }
        return stray;
    }

    TempDir Dir;
    // Whether the refreshes the test starts force their downloads (Refresh with Shift).
    bool Force = false;

private:
    ScopedDataFolder FFolder;
    ScopedEnv FZone;

protected:
    TFeedList Feeds;
};

// The request line and headers of a recorded request, without its body.
inline std::string RequestHead(const std::string& request) {
    return request.substr(0, request.find("\r\n\r\n") + 2);
}

// Runs one refresh of the marked feeds through the controller, as the window does, with a given
// number of feeds at once and its clients set up by Prepare before it starts.
struct TRefreshRun {
    // Feeds worked on at once (1: the sequential walk).
    int MaxParallel = kDefaultMaxParallel;
    std::function<void(TFeedsRefresher&)> Prepare;
    std::vector<std::string> Statuses;
    std::vector<TFeedOutcome> Outcomes;
    // The status texts and the ids of the outcomes, in the order they reached the window.
    std::vector<std::pair<bool, std::string>> Log;
    int Finished = 0;
    // The refresher's own peak, as its outcomes arrive.
    int PeakRunning = 0;

    // The outcome of the feed with id; fails the test when there is none.
    const TFeedOutcome& OutcomeOf(const std::string& id) const {
        for (const TFeedOutcome& outcome : Outcomes)
            if (outcome.Feed.FeedID == id)
                return outcome;
        ADD_FAILURE() << "no outcome for " << id;
        static const TFeedOutcome kNone;
        return kNone;
    }
    bool HasOutcome(const std::string& id) const {
        return std::any_of(Outcomes.begin(), Outcomes.end(),
                           [&id](const TFeedOutcome& outcome) { return outcome.Feed.FeedID == id; });
    }

    // Installs the handlers, for a test that drives the controller itself.
    void Attach(TRefreshController& controller) {
        controller.MaxParallel = MaxParallel;
        controller.OnPrepare = [this](TFeedsRefresher& refresher) {
            FRefresher = &refresher;
            if (Prepare)
                Prepare(refresher);
        };
        controller.OnStatus = [this](const std::string& text) {
            Statuses.push_back(text);
            Log.push_back({false, text});
        };
        // While the refresh delivers, its refresher lives; after the last outcome no exchange starts.
        controller.OnOutcome = [this](const TFeedOutcome& outcome) {
            Outcomes.push_back(outcome);
            Log.push_back({true, outcome.Feed.FeedID});
            if (FRefresher)
                PeakRunning = std::max(PeakRunning, FRefresher->PeakRunning());
        };
        controller.OnFinished = [this] { ++Finished; };
    }

    void Run(TFeedList& feeds, bool force = false) {
        TSyncPump pump;
        TRefreshController controller(feeds);
        Attach(controller);
        controller.Start(CurrentMarks(feeds), force);
        ASSERT_TRUE(pump.PumpUntil([&] { return Finished > 0; }));
        EXPECT_FALSE(controller.IsRunning());
        EXPECT_EQ(Finished, 1);
    }

private:
    TFeedsRefresher* FRefresher = nullptr;
};

} // namespace refresh_test
