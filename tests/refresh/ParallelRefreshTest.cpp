// A refresh with several exchanges at once: the same outcomes as one feed after another, at most
// two exchanges per host, the first feeds first, and the stop and the window's edits while many
// feeds are under way.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "DelayingProxy.h"
#include "NginxFixture.h"
#include "RefreshTestSupport.h"
#include "TestCertificates.h"

namespace {

using namespace refresh_test;

// Another host of the loopback network for each n: "127.0.0.2", "127.0.0.3", ...
std::string LoopbackAddress(int n) {
    return "127.0.0." + std::to_string(2 + n);
}

std::string PathOf(const std::string& request) {
    const size_t start = request.find(' ') + 1;
    return request.substr(start, request.find(' ', start) - start);
}

const std::string kNotModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";

// Servers on loopback addresses, each address a host of its own to the refresh (one address may
// carry several servers, on ports of their own). Each request is held (HoldUntil, Hold), waits
// the delay and is then answered: by the answer function when one is set, else with Document().
// A request counts as running on its address from its arrival until just before its answer goes
// out. That lies within the client's own exchange, so the peaks never exceed what the refresh
// really ran at once.
class TLoopbackSites {
public:
    using TAnswer = std::function<std::string(const std::string& request, const std::string& path)>;

    explicit TLoopbackSites(int delayMs) : FDelayMs(delayMs) {}
    ~TLoopbackSites() {
        for (auto& server : FServers)
            server.second->Stop();
    }

    static std::string Document(const std::string& address, const std::string& path) {
        return "<rss><channel><title>" + address + path + "</title></channel></rss>";
    }

    // The answer to every request from now on.
    void SetAnswer(TAnswer answer) {
        std::lock_guard<std::mutex> lock(FLock);
        FAnswer = std::move(answer);
    }
    // Sends each answer to a path beginning with prefix in pieces of 1000 bytes, pauseMs apart.
    void TrickleAnswers(int pauseMs, const std::string& prefix = "/") {
        std::lock_guard<std::mutex> lock(FLock);
        FPieceMs = pauseMs;
        FTricklePrefix = prefix;
    }
    // The next requests wait until count of them are held at once (or holdMs have passed), so
    // that a refresh able to run that many exchanges surely shows it; after that only the delay.
    void HoldUntil(int count, int holdMs = 3000) {
        std::lock_guard<std::mutex> lock(FLock);
        FHoldCount = count;
        FHoldMs = holdMs;
        FHolding = count > 1;
    }
    // Requests for path wait until it is released.
    void Hold(const std::string& path) {
        std::lock_guard<std::mutex> lock(FLock);
        FHeld.insert(path);
    }
    void Release(const std::string& path) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FHeld.erase(path);
        }
        FChanged.notify_all();
    }

    // "http://<host>:<port>" + path on server number server of address, started when new; host
    // is the address unless given (a name the test resolves to the address).
    std::string Url(const std::string& address, const std::string& path, int server = 0,
                    const std::string& host = "") {
        auto& slot = FServers[address + "#" + std::to_string(server)];
        if (!slot)
            slot = std::make_unique<LoopbackHttpServer>(
                [this, address](LoopbackConnection& connection) { Serve(connection, address); }, address);
        return "http://" + (host.empty() ? address : host) + ":" + std::to_string(slot->Port()) + path;
    }

    // The most requests held at once on address, and on all addresses together.
    int Peak(const std::string& address) const {
        std::lock_guard<std::mutex> lock(FLock);
        const auto found = FPeaks.find(address);
        return found == FPeaks.end() ? 0 : found->second;
    }
    int Peak() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FPeak;
    }
    // The paths asked for, in order of arrival.
    std::vector<std::string> Arrivals() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FArrivals;
    }
    bool Asked(const std::string& path) const {
        const std::vector<std::string> arrivals = Arrivals();
        return std::find(arrivals.begin(), arrivals.end(), path) != arrivals.end();
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> requests;
        for (const auto& server : FServers)
            for (const std::string& request : server.second->Requests())
                requests.push_back(request);
        return requests;
    }
    void ResetCounts() {
        std::lock_guard<std::mutex> lock(FLock);
        FPeaks.clear();
        FPeak = 0;
        FArrivals.clear();
    }

private:
    void Serve(LoopbackConnection& connection, const std::string& address) {
        const std::string request = connection.ReadRequest();
        const std::string path = PathOf(request);
        TAnswer answer;
        int pieceMs = 0;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FArrivals.push_back(path);
            const int running = ++FRunning[address];
            FPeaks[address] = std::max(FPeaks[address], running);
            FPeak = std::max(FPeak, ++FTotal);
            if (FTotal >= FHoldCount)
                FHolding = false;
            FChanged.notify_all();
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(FHoldMs);
            while (FHolding && !connection.Stopping()) {
                FChanged.wait_for(lock, std::chrono::milliseconds(20));
                // Fewer came than hoped: nothing more is held back.
                if (std::chrono::steady_clock::now() >= until)
                    FHolding = false;
            }
            while (FHeld.count(path) > 0 && !connection.Stopping())
                FChanged.wait_for(lock, std::chrono::milliseconds(20));
            answer = FAnswer;
            pieceMs = path.rfind(FTricklePrefix, 0) == 0 ? FPieceMs : 0;
        }
        connection.Sleep(FDelayMs);
        const std::string response =
            answer ? answer(request, path)
                   : Response("200 OK", LastModified(kServedTime), Document(address, path));
        {
            std::lock_guard<std::mutex> lock(FLock);
            --FRunning[address];
            --FTotal;
        }
        if (pieceMs > 0)
            connection.Trickle(response, 1000, pieceMs);
        else
            connection.Send(response);
    }

    const int FDelayMs;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    TAnswer FAnswer;
    int FPieceMs = 0;
    std::string FTricklePrefix;
    int FHoldCount = 0;
    int FHoldMs = 0;
    bool FHolding = false;
    std::set<std::string> FHeld;
    std::map<std::string, int> FRunning;
    std::map<std::string, int> FPeaks;
    int FTotal = 0;
    int FPeak = 0;
    std::vector<std::string> FArrivals;
    // Last, so that the servers stop before what their handlers use goes.
    std::map<std::string, std::unique_ptr<LoopbackHttpServer>> FServers;
};

// A status text taken apart: "Feed checking: " or "Feed download: ", the feed's "NAME -> URL"
// and its place "(k of N)".
struct TStatus {
    std::string Kind;
    std::string Feed;
    int K = 0;
    int N = 0;
};

bool ParseStatus(const std::string& text, TStatus& status) {
    const size_t colon = text.find(": ");
    const size_t open = text.rfind(" (");
    if (colon == std::string::npos || open == std::string::npos || open < colon || text.back() != ')')
        return false;
    status.Kind = text.substr(0, colon + 2);
    status.Feed = text.substr(colon + 2, open - colon - 2);
    char tail = 0;
    return sscanf(text.c_str() + open, " (%d of %d%c", &status.K, &status.N, &tail) == 3 && tail == ')' &&
           (status.Kind == "Feed checking: " || status.Kind == "Feed download: ");
}

// Each feed's place "k" by its "NAME -> URL", from the texts of one refresh; fails the test on a
// text of another form, another N or a feed shown with two places.
std::map<std::string, int> PlacesOf(const std::vector<std::string>& statuses, int n) {
    std::map<std::string, int> places;
    for (const std::string& text : statuses) {
        if (text.empty())
            continue;
        TStatus status;
        if (!ParseStatus(text, status)) {
            ADD_FAILURE() << "not a progress text: " << text;
            continue;
        }
        EXPECT_EQ(status.N, n) << text;
        const auto known = places.emplace(status.Feed, status.K);
        EXPECT_EQ(known.first->second, status.K) << "another place for " << text;
    }
    return places;
}

std::string FeedOf(const TFeedListItem* item) {
    return item->FeedName + " -> " + item->FeedURL;
}

// What a refresh left of one feed: its entry, its files and its outcome.
struct TFeedState {
    std::string ErrorText;
    TDateTime LastModifiedDate = 0;
    TDateTime RefreshDate = 0;
    std::string Cache;
    std::string ETag;
    bool Downloaded = false;
    int StatusCode = 0;

    std::string Describe() const {
        char dates[80];
        snprintf(dates, sizeof dates, "modified %.9f, checked %.9f", LastModifiedDate, RefreshDate);
        return "error \"" + ErrorText + "\", " + dates + ", cache \"" + Cache + "\", etag \"" + ETag +
               "\", " + (Downloaded ? "downloaded" : "not downloaded") + ", status " +
               std::to_string(StatusCode);
    }
};

// The catalogue's state before a refresh, to be set again for the next run.
struct TStart {
    TFeedListItem* Item;
    TDateTime RefreshDate;
    TDateTime LastModifiedDate;
    const char* Cache; // nullptr for no cache file
    const char* ETag;
};

// A mixed folder: documents changed and unchanged (by tag and by date), a plain one, missing
// ones, a redirect, a feed within its interval, a time-out, a refused certificate and an unknown
// host, on several hosts. One feed after another and many at once must leave the same.
TEST_F(RefreshTest, ManyAtOnceEndLikeOneAfterAnother) {
    const TestCertificates& certificates = TestCertificates::Get();
    if (!certificates.Ok())
        GTEST_SKIP() << certificates.Error();
    NginxFixture nginx;
    nginx.EnableTls(certificates.Expired.Certificate, certificates.Expired.Key);
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    nginx.WriteFile("target.xml", "<rss>redirected</rss>");
    const ScopedEnv trust("SSL_CERT_FILE", certificates.CAFile.c_str());
    const ScopedHostResolver resolver;
    auto silent = LoopbackHttpServer::Silent();

    const std::string servedDate = LastModified(kServedTime).substr(15, 29);
    TLoopbackSites sites(20);
    sites.SetAnswer([&](const std::string& request, const std::string& path) {
        if (path.rfind("/changed", 0) == 0)
            return Response("200 OK", LastModified(kServedTime + 60) + "ETag: \"" + path + "\"\r\n",
                            "<rss>" + path + "</rss>");
        if (path == "/plain")
            return Response("200 OK", "", "<rss>plain</rss>");
        if (path == "/unchanged")
            return request.find("\r\nIf-None-Match: \"u1\"\r\n") != std::string::npos
                       ? kNotModified
                       : Response("200 OK", "ETag: \"u2\"\r\n", "<rss>u2</rss>");
        if (path == "/by-date")
            return request.find("\r\nIf-Modified-Since: " + servedDate + "\r\n") != std::string::npos
                       ? kNotModified
                       : Response("200 OK", "", "<rss>dated again</rss>");
        if (path == "/moved")
            return Response("301 Moved Permanently", "Location: " + nginx.Url("/target.xml") + "\r\n", "");
        return Response("404 Not Found", "", "gone");
    });

    const TDateTime now = Now();
    const TDateTime due = now - 11 * kMinute;
    const TDateTime served = UnixToDateTime(kServedTime);
    TFeedListItem* folder = AddFeed("folder", "");
    TFeedListItem* unmarked = AddFeed("unmarked", sites.Url(LoopbackAddress(0), "/changed-unmarked"), false);
    std::vector<TStart> start;
    for (int host = 0; host < 4; ++host) {
        const std::string address = LoopbackAddress(host);
        const std::string n = std::to_string(host);
        start.push_back({AddFeed("new" + n, sites.Url(address, "/changed-" + n)), 0, 0, nullptr, nullptr});
        start.push_back({AddFeed("stale" + n, sites.Url(address, "/changed-again-" + n)), due, 1234.5, "old",
                         "\"stale\""});
        start.push_back(
            {AddFeed("same" + n, sites.Url(address, "/unchanged")), due, served, "<rss>u1</rss>", "\"u1\""});
        start.push_back({AddFeed("gone" + n, sites.Url(address, "/missing-" + n)), due, 0, "kept", nullptr});
    }
    TFeedListItem* byDate = AddFeed("by date", sites.Url(LoopbackAddress(0), "/by-date"));
    start.push_back({byDate, due, served, "<rss>dated</rss>", nullptr});
    TFeedListItem* plain = AddFeed("plain", sites.Url(LoopbackAddress(1), "/plain"));
    start.push_back({plain, due, 1234.5, "old plain", nullptr});
    TFeedListItem* moved = AddFeed("moved", sites.Url(LoopbackAddress(2), "/moved"));
    start.push_back({moved, 0, 0, nullptr, nullptr});
    TFeedListItem* recent = AddFeed("recent", sites.Url(LoopbackAddress(3), "/changed-recent"));
    start.push_back({recent, now - kMinute, served, "<rss>recent</rss>", nullptr});
    TFeedListItem* secure = AddFeed("secure", nginx.TlsUrl("/target.xml"));
    start.push_back({secure, 0, 0, nullptr, nullptr});
    for (const char* name : {"silent1", "silent2"})
        start.push_back({AddFeed(name, silent->Url(std::string("/") + name)), due, 0, "quiet", nullptr});
    TFeedListItem* noHost = AddFeed("no host", "http://tovel-no-such-host.test/feed");
    start.push_back({noHost, due, 0, "kept", nullptr});

    auto reset = [&] {
        for (const TStart& s : start) {
            s.Item->RefreshDate = s.RefreshDate;
            s.Item->LastModifiedDate = s.LastModifiedDate;
            s.Item->ErrorText = "from before";
            if (s.Cache)
                WriteCache(s.Item->FeedID, s.Cache);
            else
                DeleteFile(Cache(s.Item->FeedID));
            WriteETag(s.Item->FeedID, s.ETag ? s.ETag : "");
            // The files changed behind the window's back: it reads them anew.
            s.Item->CacheState = {};
        }
    };
    auto snapshot = [&](const TRefreshRun& run) {
        std::vector<TFeedState> states;
        for (const TStart& s : start) {
            const TFeedListItem* item = s.Item;
            const TFeedOutcome& outcome = run.OutcomeOf(item->FeedID);
            states.push_back({item->ErrorText, item->LastModifiedDate, item->RefreshDate,
                              ReadCache(item->FeedID), ReadETag(item->FeedID), outcome.Downloaded,
                              outcome.StatusCode});
        }
        return states;
    };
    // The server never answers; the clients give up soon.
    auto prepare = [](TFeedsRefresher& refresher) { refresher.Settings.IdleTimeout = 300; };

    reset();
    TRefreshRun sequential;
    sequential.MaxParallel = 1;
    sequential.Prepare = prepare;
    sequential.Run(Feeds, Force);
    const std::vector<TFeedState> alone = snapshot(sequential);
    EXPECT_EQ(sequential.PeakRunning, 1);
    EXPECT_EQ(sites.Peak(), 1);

    // Each feed in catalogue order, numbered by its place: its check, its download when the rule
    // asks for one, and the empty panel after a success.
    const std::string of = " of " + std::to_string(start.size()) + ")";
    std::vector<std::string> expected;
    for (size_t i = 0; i < start.size(); ++i) {
        const std::string place = " (" + std::to_string(i + 1) + of;
        expected.push_back("Feed checking: " + FeedOf(start[i].Item) + place);
        if (start[i].Item != recent)
            expected.push_back("Feed download: " + FeedOf(start[i].Item) + place);
        if (alone[i].ErrorText.empty())
            expected.push_back("");
    }
    EXPECT_EQ(sequential.Statuses, expected);

    // The folder really is mixed.
    EXPECT_EQ(alone[0].Cache, "<rss>/changed-0</rss>");
    EXPECT_EQ(alone[0].ETag, "\"/changed-0\"");
    EXPECT_DOUBLE_EQ(alone[0].RefreshDate, 0) << "downloaded for want of a cache file";
    EXPECT_EQ(alone[1].Cache, "<rss>/changed-again-0</rss>");
    EXPECT_DOUBLE_EQ(alone[1].LastModifiedDate, UnixToDateTime(kServedTime + 60));
    EXPECT_EQ(alone[2].StatusCode, 304);
    EXPECT_EQ(alone[2].Cache, "<rss>u1</rss>");
    EXPECT_EQ(alone[3].ErrorText, "Unable to open " + start[3].Item->FeedURL);
    EXPECT_EQ(alone[3].Cache, "kept");
    auto alsoAlone = [&](const TFeedListItem* item) -> const TFeedState& {
        for (size_t i = 0; i < start.size(); ++i)
            if (start[i].Item == item)
                return alone[i];
        throw std::logic_error("not in the folder");
    };
    EXPECT_EQ(alsoAlone(byDate).StatusCode, 304);
    EXPECT_EQ(alsoAlone(plain).LastModifiedDate, 0);
    EXPECT_EQ(alsoAlone(moved).Cache, "<rss>redirected</rss>");
    EXPECT_EQ(alsoAlone(recent).Describe(),
              (TFeedState{"", served, now - kMinute, "<rss>recent</rss>", "", false, 0}).Describe());
    EXPECT_EQ(alsoAlone(secure).ErrorText.rfind("The secure connection to 127.0.0.1 failed: ", 0), 0u)
        << alsoAlone(secure).ErrorText;
    EXPECT_EQ(alsoAlone(noHost).ErrorText, "The name \"tovel-no-such-host.test\" can not be resolved");
    for (size_t i = 0; i < start.size(); ++i) {
        const TFeedListItem* item = start[i].Item;
        if (item->FeedName.rfind("silent", 0) == 0) {
            EXPECT_EQ(alone[i].ErrorText, "The server did not answer in time");
        }
        if (start[i].RefreshDate == due) {
            EXPECT_DOUBLE_EQ(alone[i].RefreshDate, now) << item->FeedName;
        }
    }

    reset();
    sites.ResetCounts();
    sites.HoldUntil(4);
    TRefreshRun parallel;
    parallel.Prepare = prepare;
    parallel.Run(Feeds, Force);
    const std::vector<TFeedState> together = snapshot(parallel);
    for (size_t i = 0; i < start.size(); ++i)
        EXPECT_EQ(together[i].Describe(), alone[i].Describe()) << start[i].Item->FeedName;
    EXPECT_GE(sites.Peak(), 4) << "the exchanges did not overlap";
    EXPECT_GE(parallel.PeakRunning, sites.Peak());
    EXPECT_LE(parallel.PeakRunning, kDefaultMaxParallel);
    EXPECT_EQ(parallel.Outcomes.size(), start.size());
    EXPECT_EQ(ReadCache(unmarked->FeedID), "<none>");
    EXPECT_EQ(ReadCache(folder->FeedID), "<none>");
    // Beside the documents only their tags: no temporary file.
    for (const std::string& name : StrayCacheFiles())
        EXPECT_EQ(name.substr(name.size() - 5), ".etag") << name;
}

// No host has more than two exchanges at once, whatever its port or the letter case of its name;
// a feed whose host is busy lets the later feeds start, and the first feeds start first.
TEST_F(RefreshTest, NoHostRunsMoreThanTwoExchangesAndTheFirstFeedsStartFirst) {
    struct TPlannedFeed {
        std::string Name;
        std::string Host; // the host to the refresh: an address, or a name in lower case
        std::string Url;
    };
    const ScopedHostResolver resolver({{"Busy.test", LoopbackAddress(1)},
                                       {"busy.test", LoopbackAddress(1)},
                                       {"BUSY.TEST", LoopbackAddress(1)}});
    const char* const spellings[] = {"Busy.test", "busy.test", "BUSY.TEST"};
    struct TCase {
        const char* Name;
        int MaxParallel;
        int Hosts;
        int OnBusyHosts;
    } cases[] = {{"two busy hosts among many", kDefaultMaxParallel, 14, 6},
                 {"more hosts than exchanges", 4, 10, 1}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Feeds.ClearRefreshMarks();
        TLoopbackSites sites(100);
        std::vector<TPlannedFeed> planned;
        for (int host = 0; host < c.Hosts; ++host) {
            const std::string address = LoopbackAddress(host);
            const int count = host < 2 ? c.OnBusyHosts : 1;
            for (int i = 0; i < count; ++i) {
                const std::string name = "h" + std::to_string(host) + "-" + std::to_string(i);
                // The second host is reached by name, through two ports and in three spellings.
                const std::string url = host == 1 ? sites.Url(address, "/" + name, i % 2, spellings[i % 3])
                                                  : sites.Url(address, "/" + name);
                planned.push_back({name, host == 1 ? "busy.test" : address, url});
            }
        }
        // Catalogue order, passing over a feed whose host has two running, up to the limit.
        std::vector<std::string> firstWave;
        std::map<std::string, int> perHost;
        for (const TPlannedFeed& feed : planned)
            if (static_cast<int>(firstWave.size()) < c.MaxParallel && perHost[feed.Host]++ < 2)
                firstWave.push_back(feed.Name);
        std::map<std::string, TFeedListItem*> items;
        for (const TPlannedFeed& feed : planned)
            items[feed.Name] = AddFeed(feed.Name, feed.Url);
        Force = true;
        sites.HoldUntil(static_cast<int>(firstWave.size()));

        TRefreshRun run;
        run.MaxParallel = c.MaxParallel;
        run.Run(Feeds, Force);

        for (int host = 0; host < c.Hosts; ++host)
            EXPECT_LE(sites.Peak(LoopbackAddress(host)), 2) << LoopbackAddress(host);
        EXPECT_EQ(sites.Peak(), static_cast<int>(firstWave.size()));
        EXPECT_EQ(run.PeakRunning, static_cast<int>(firstWave.size()));
        // The first wave is numbered 1, 2, ... in catalogue order, and it is what came first.
        const std::map<std::string, int> places = PlacesOf(run.Statuses, static_cast<int>(planned.size()));
        for (size_t k = 0; k < firstWave.size(); ++k) {
            const auto place = places.find(FeedOf(items[firstWave[k]]));
            EXPECT_TRUE(place != places.end() && place->second == static_cast<int>(k + 1)) << firstWave[k];
        }
        std::vector<std::string> arrivals = sites.Arrivals();
        ASSERT_EQ(arrivals.size(), planned.size());
        arrivals.resize(firstWave.size());
        std::vector<std::string> wavePaths;
        for (const std::string& name : firstWave)
            wavePaths.push_back("/" + name);
        std::sort(arrivals.begin(), arrivals.end());
        std::sort(wavePaths.begin(), wavePaths.end());
        EXPECT_EQ(arrivals, wavePaths);
        for (const TPlannedFeed& feed : planned) {
            const TFeedListItem* item = items[feed.Name];
            const std::string address = feed.Host == "busy.test" ? LoopbackAddress(1) : feed.Host;
            EXPECT_EQ(item->ErrorText, "") << feed.Name;
            EXPECT_EQ(ReadCache(item->FeedID), TLoopbackSites::Document(address, "/" + feed.Name));
        }
    }
}

// The window's stop while documents are on their way that would take seconds more: it ends every
// exchange within its own wait, keeps no part of a document, and nothing of the refresh lands after
// it. Small documents on two other hosts end first, so that the stop comes after some outcomes.
TEST_F(RefreshTest, AStopAmongManyExchangesKeepsOnlyWholeDocuments) {
    TLoopbackSites sites(50);
    auto document = [](const std::string& path) {
        return "<rss>" + path + std::string(path.rfind("/slow", 0) == 0 ? 20000 : 100, ' ') + "</rss>";
    };
    sites.SetAnswer([&document](const std::string&, const std::string& path) {
        return Response("200 OK", LastModified(kServedTime), document(path));
    });
    sites.TrickleAnswers(100, "/slow");
    std::vector<TFeedListItem*> items;
    std::vector<std::string> paths;
    for (int i = 0; i < 24; ++i) {
        const bool slow = i % 3 != 2;
        paths.push_back((slow ? "/slow" : "/fast") + std::to_string(i));
        const std::string address = LoopbackAddress(slow ? i % 4 : 4 + i / 3 % 2);
        TFeedListItem* item = AddFeed("feed" + std::to_string(i), sites.Url(address, paths.back()));
        item->ErrorText = "from before";
        items.push_back(item);
    }
    Force = true;

    TSyncPump pump;
    TRefreshRun run;
    TRefreshController controller(Feeds);
    run.Attach(controller);
    controller.Start(CurrentMarks(Feeds), Force);
    ASSERT_TRUE(pump.PumpUntil([&] { return run.Outcomes.size() >= 3; }));
    ASSERT_LT(run.Outcomes.size(), items.size());
    EXPECT_TRUE(controller.Stop());
    EXPECT_EQ(run.Finished, 1);
    EXPECT_FALSE(controller.IsRunning());
    EXPECT_TRUE(controller.WaitForWorkers(0)) << "an exchange outlived the stop's wait";
    const size_t outcomes = run.Outcomes.size();
    const size_t statuses = run.Statuses.size();
    while (CheckSynchronize()) {
    }
    EXPECT_EQ(run.Outcomes.size(), outcomes);
    EXPECT_EQ(run.Statuses.size(), statuses);
    EXPECT_EQ(run.Finished, 1);

    for (size_t i = 0; i < items.size(); ++i) {
        const TFeedListItem* item = items[i];
        SCOPED_TRACE(item->FeedName);
        if (run.HasOutcome(item->FeedID)) {
            EXPECT_EQ(ReadCache(item->FeedID), document(paths[i]));
            EXPECT_EQ(item->ErrorText, "");
            EXPECT_DOUBLE_EQ(item->RefreshDate, Now());
        } else {
            const std::string cache = ReadCache(item->FeedID);
            EXPECT_TRUE(cache == "<none>") << cache.size() << " bytes came after the stop";
            EXPECT_EQ(item->ErrorText, "from before");
            EXPECT_EQ(item->RefreshDate, 0);
        }
    }
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// The window deletes one feed and gives another a new address while their exchanges run beside
// others: neither gets anything of its old download, and a feed after the deleted one still gets
// its own outcome.
TEST_F(RefreshTest, EntriesDeletedOrReaddressedWhileManyRunGetNothing) {
    TLoopbackSites sites(0);
    for (const char* path : {"/deleted", "/moved", "/late"})
        sites.Hold(path);
    TFeedListItem* deleted = AddFeed("deleted", sites.Url(LoopbackAddress(0), "/deleted"));
    TFeedListItem* moved = AddFeed("moved", sites.Url(LoopbackAddress(1), "/moved"));
    TFeedListItem* late = AddFeed("late", sites.Url(LoopbackAddress(0), "/late"));
    std::vector<TFeedListItem*> others;
    for (int i = 0; i < 6; ++i)
        others.push_back(AddFeed("other" + std::to_string(i),
                                 sites.Url(LoopbackAddress(2 + i % 3), "/other" + std::to_string(i))));
    for (TFeedListItem* item : {deleted, moved, late})
        item->ErrorText = "from before";
    const std::string deletedId = deleted->FeedID;
    Force = true;

    TSyncPump pump;
    TRefreshRun run;
    TRefreshController controller(Feeds);
    run.Attach(controller);
    controller.Start(CurrentMarks(Feeds), Force);
    // The held feeds keep no other feed waiting.
    ASSERT_TRUE(pump.PumpUntil([&] {
        return sites.Asked("/deleted") && sites.Asked("/moved") && sites.Asked("/late") &&
               std::all_of(others.begin(), others.end(),
                           [&](const TFeedListItem* item) { return run.HasOutcome(item->FeedID); });
    }));
    Feeds.Delete(deleted);
    moved->FeedURL = "http://127.0.0.1:1/new";
    for (const char* path : {"/deleted", "/moved", "/late"})
        sites.Release(path);
    ASSERT_TRUE(pump.PumpUntil([&] { return run.Finished > 0; }));

    EXPECT_EQ(ReadCache(deletedId), "<none>");
    EXPECT_EQ(ReadCache(moved->FeedID), "<none>");
    EXPECT_EQ(moved->ErrorText, "from before");
    EXPECT_EQ(moved->RefreshDate, 0);
    EXPECT_EQ(moved->LastModifiedDate, 0);
    EXPECT_EQ(late->ErrorText, "");
    EXPECT_EQ(ReadCache(late->FeedID), TLoopbackSites::Document(LoopbackAddress(0), "/late"));
    EXPECT_DOUBLE_EQ(late->LastModifiedDate, UnixToDateTime(kServedTime));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ReadCache(others[i]->FeedID),
                  TLoopbackSites::Document(LoopbackAddress(2 + i % 3), "/other" + std::to_string(i)));
    EXPECT_EQ(StrayCacheFiles(), std::vector<std::string>());
}

// Every progress text names its feed's place among the marked feeds, each place one feed's; the
// panel is cleared after a success only when no other feed is in progress.
TEST_F(RefreshTest, EachFeedShowsItsOwnPlaceAmongTheMarkedFeeds) {
    TLoopbackSites sites(30);
    sites.SetAnswer([](const std::string&, const std::string& path) {
        return path == "/missing" ? Response("404 Not Found", "", "") : Response("200 OK", "", "<rss/>");
    });
    AddFeed("folder", "");
    AddFeed("unmarked", sites.Url(LoopbackAddress(0), "/unmarked"), false);
    std::vector<TFeedListItem*> items;
    items.push_back(AddFeed("missing", sites.Url(LoopbackAddress(2), "/missing")));
    for (int i = 0; i < 10; ++i)
        items.push_back(
            AddFeed("feed" + std::to_string(i), sites.Url(LoopbackAddress(i % 4), "/" + std::to_string(i))));
    TFeedListItem* recent = AddFeed("recent", sites.Url(LoopbackAddress(0), "/recent"));
    WriteCache(recent->FeedID, "<rss/>");
    recent->RefreshDate = Now() - kMinute;
    items.push_back(recent);
    std::map<std::string, const TFeedListItem*> byId;
    for (const TFeedListItem* item : items)
        byId[item->FeedID] = item;

    TRefreshRun run;
    run.Run(Feeds, Force);
    const int n = static_cast<int>(items.size());
    const std::map<std::string, int> places = PlacesOf(run.Statuses, n);
    std::set<int> seen;
    for (const TFeedListItem* item : items) {
        const auto place = places.find(FeedOf(item));
        ASSERT_TRUE(place != places.end()) << item->FeedName << " showed nothing";
        EXPECT_TRUE(place->second >= 1 && place->second <= n) << place->second;
        EXPECT_TRUE(seen.insert(place->second).second) << "place " << place->second << " twice";
        EXPECT_EQ(item->ErrorText, item->FeedName == "missing" ? "Unable to open " + item->FeedURL : "");
    }
    EXPECT_EQ(places.size(), items.size());
    // The checks reach the panel in the order the feeds started: 1, 2, 3, ...
    int lastCheck = 0;
    for (const std::string& text : run.Statuses) {
        TStatus status;
        if (ParseStatus(text, status) && status.Kind == "Feed checking: ") {
            EXPECT_EQ(status.K, ++lastCheck) << text;
        }
    }
    // Within its interval a feed shows its check alone.
    for (const std::string& text : run.Statuses)
        EXPECT_NE(text.rfind("Feed download: " + FeedOf(recent), 0), 0u);

    // The feeds shown and not finished at each empty text: none, or the one whose success follows.
    std::set<std::string> inProgress;
    int cleared = 0;
    for (size_t i = 0; i < run.Log.size(); ++i) {
        const auto& [isOutcome, text] = run.Log[i];
        if (isOutcome) {
            inProgress.erase(FeedOf(byId.at(text)));
        } else if (!text.empty()) {
            TStatus status;
            if (ParseStatus(text, status))
                inProgress.insert(status.Feed);
        } else {
            ++cleared;
            const bool nextSucceeded = i + 1 < run.Log.size() && run.Log[i + 1].first &&
                                       byId.at(run.Log[i + 1].second)->ErrorText.empty();
            const bool onlyThatOne =
                inProgress.empty() ||
                (nextSucceeded &&
                 inProgress == std::set<std::string>{FeedOf(byId.at(run.Log[i + 1].second))});
            EXPECT_TRUE(onlyThatOne) << "cleared at event " << i << " with " << inProgress.size()
                                     << " feeds in progress";
        }
    }
    EXPECT_TRUE(inProgress.empty());
    // The last feed to end succeeded here unless it was the missing one.
    ASSERT_FALSE(run.Log.empty());
    const std::string lastId = run.Outcomes.back().Feed.FeedID;
    if (byId.at(lastId)->ErrorText.empty()) {
        EXPECT_EQ(run.Statuses.back(), "");
        EXPECT_GE(cleared, 1);
    }
}

// The clients beside the first take its settings: every request names the refresh as set up, and
// every client refuses an answer past the length set.
TEST_F(RefreshTest, EveryClientTakesTheSettingsOfTheFirst) {
    TLoopbackSites sites(50);
    sites.SetAnswer([](const std::string&, const std::string& path) {
        return Response("200 OK", "", path.rfind("/large", 0) == 0 ? std::string(2000, 'x') : "<rss/>");
    });
    std::vector<TFeedListItem*> items;
    for (int i = 0; i < 8; ++i)
        items.push_back(
            AddFeed("feed" + std::to_string(i),
                    sites.Url(LoopbackAddress(i % 4), (i % 2 ? "/large" : "/small") + std::to_string(i))));
    Force = true;
    sites.HoldUntil(8);
    TRefreshRun run;
    run.Prepare = [](TFeedsRefresher& refresher) {
        refresher.Settings.UserAgent = "Probe/2.0";
        refresher.Settings.MaxResponseLength = 500;
    };
    run.Run(Feeds, Force);
    EXPECT_EQ(sites.Peak(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(items[i]->FeedName);
        EXPECT_EQ(items[i]->ErrorText, i % 2 ? "Unable to open " + items[i]->FeedURL : "");
        EXPECT_EQ(ReadCache(items[i]->FeedID), i % 2 ? "<none>" : "<rss/>");
    }
    const std::vector<std::string> requests = sites.Requests();
    ASSERT_EQ(requests.size(), 8u);
    for (const std::string& request : requests)
        EXPECT_NE(RequestHead(request).find("\r\nUser-Agent: Probe/2.0\r\n"), std::string::npos) << request;
}

// Against a real server with latency, as users meet it: nginx behind the delaying proxy, three of
// its loopback addresses as three hosts with eight feeds each. The proxy never sees more than two
// connections from one host, nor more than the refresh may run.
TEST_F(RefreshTest, TheProxySeesAtMostTwoConnectionsPerHost) {
    NginxFixture nginx;
    if (!nginx.Start())
        GTEST_SKIP() << "nginx is not available: " << nginx.Error();
    const std::vector<std::string> hosts = LoopbackHosts(3);
    DelayingProxy proxy(hosts, "127.0.0.1", nginx.Port(), 100);
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    std::vector<TFeedListItem*> items;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "feed" + std::to_string(i) + ".xml";
        nginx.WriteFile(name, "<rss><channel><title>" + name + "</title></channel></rss>");
        // Feeds of one host follow each other, so that the limit, not the order, spreads them.
        items.push_back(AddFeed(name, proxy.Url(hosts[i / 8], "/" + name)));
    }
    Force = true;
    TRefreshRun run;
    run.Run(Feeds, Force);
    for (const std::string& host : hosts) {
        EXPECT_EQ(proxy.Accepted(host), 8) << host;
        EXPECT_LE(proxy.PeakConnections(host), 2) << host;
    }
    EXPECT_LE(proxy.PeakConnections(), 6);
    EXPECT_GE(proxy.PeakConnections(), 2) << "the feeds were fetched one after another";
    for (const TFeedListItem* item : items) {
        EXPECT_EQ(item->ErrorText, "") << item->FeedName;
        EXPECT_EQ(ReadCache(item->FeedID),
                  "<rss><channel><title>" + item->FeedName + "</title></channel></rss>");
    }
}

} // namespace
