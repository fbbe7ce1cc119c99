// A refresh of 200 feeds over https from a local nginx, forced to download, next to curl
// fetching the same 200 addresses over https into files with one connection per address; then
// the same feeds unchanged, checked again past the ten minutes: the requests made and the time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

// The test helpers: a private nginx, its certificates, the user-interface loop, temporary folders.
#include "NginxFixture.h"
#include "SyncPump.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "cache/CacheFiles.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/RefreshController.h"

namespace {

constexpr int kFeedCount = 200;
constexpr size_t kFeedSize = 20000;

// The served feeds and the folders both sides write into; set up once for every benchmark.
struct TSetup {
    NginxFixture Nginx;
    TempDir Program;
    TempDir CurlOut;
    // One curl for all addresses, one connection per address as the refresh makes them; the
    // second also without resuming TLS sessions, a full handshake each time.
    std::string CurlConfig;
    std::string CurlConfigNoSessions;
    std::unique_ptr<TFeedList> Feeds;
    std::string Body;
    std::string Error;
    bool Ready = false;

    int Round = 0;

    // Before a timed round: with changing, every served document gets bytes it never had, as a
    // server whose feeds all changed; the change itself is not timed.
    void NextRound(benchmark::State& state, bool changing) {
        if (!changing)
            return;
        state.PauseTiming();
        ++Round;
        for (int i = 0; i < kFeedCount; ++i)
            Nginx.WriteFile("feed" + std::to_string(i) + ".xml",
                            Body + "<!-- " + std::to_string(Round) + " -->");
        state.ResumeTiming();
    }

    TSetup() {
        const TestCertificates& certificates = TestCertificates::Get();
        if (!certificates.Ok()) {
            Error = certificates.Error();
            return;
        }
        // The refresh's OpenSSL trusts the test's CA, as curl is told to below.
        ::setenv("SSL_CERT_FILE", certificates.CAFile.c_str(), 1);
        Nginx.EnableTls(certificates.Good.Certificate, certificates.Good.Key);
        if (!Nginx.Start()) {
            Error = "nginx is not available: " + Nginx.Error();
            return;
        }
        SetDataFolderForTesting(Program.Path());
        Feeds = std::make_unique<TFeedList>(Program.File("feeds.data"));
        std::string item = "<item><title>News</title><description>";
        std::string body = "<?xml version=\"1.0\"?><rss><channel><title>Feed</title>";
        while (body.size() < kFeedSize)
            body += item + std::string(200, 'n') + "</description></item>";
        body += "</channel></rss>";
        Body = body;
        CurlConfig = CurlOut.File("curl.config");
        CurlConfigNoSessions = CurlOut.File("curl-no-sessions.config");
        std::ofstream config(CurlConfig);
        config << "cacert = \"" << certificates.CAFile << "\"\nheader = \"Connection: close\"\n";
        for (int i = 0; i < kFeedCount; ++i) {
            const std::string name = "feed" + std::to_string(i) + ".xml";
            Nginx.WriteFile(name, body);
            Feeds->Add("root", "Feed " + std::to_string(i), Nginx.TlsUrl("/" + name))->RefreshMark = true;
            config << "url = \"" << Nginx.TlsUrl("/" + name) << "\"\noutput = \"" << CurlOut.File(name)
                   << "\"\n";
        }
        config.close();
        std::ofstream noSessions(CurlConfigNoSessions);
        noSessions << "no-sessionid\n" << std::ifstream(CurlConfig).rdbuf();
        Ready = true;
    }
};

TSetup& Setup() {
    static TSetup setup;
    return setup;
}

bool Usable(benchmark::State& state) {
    if (!Setup().Ready)
        state.SkipWithError(Setup().Error.c_str());
    return Setup().Ready;
}

// Index 0: the documents stay the same between rounds; 1: every document changes each round.
double RefreshSeconds[2] = {0, 0};
int RefreshRuns[2] = {0, 0};
// [documents changing][without TLS session resumption].
double CurlSeconds[2][2] = {{0, 0}, {0, 0}};
int CurlRuns[2][2] = {{0, 0}, {0, 0}};
// The unchanged feeds checked past the ten minutes.
double UnchangedSeconds = 0;
int UnchangedRuns = 0;
int UnchangedRequests = 0;
int UnchangedNotModified = 0;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One refresh of every feed through the controller, as the window runs it: the outcomes land in
// the entries and the documents are renamed into place on this (the user-interface) thread.
// Counts the requests made (an outcome with a status) and the 304 answers. force: as Refresh
// with Shift.
void RunRefresh(TSyncPump& pump, bool force, int* requests = nullptr, int* notModified = nullptr) {
    TRefreshController controller(*Setup().Feeds);
    controller.OnStatus = [](const std::string& text) { benchmark::DoNotOptimize(text.size()); };
    bool ended = false;
    controller.OnFinished = [&ended] { ended = true; };
    controller.OnOutcome = [requests, notModified](const TFeedOutcome& outcome) {
        if (requests && outcome.StatusCode != 0)
            ++*requests;
        if (notModified && outcome.StatusCode == 304)
            ++*notModified;
    };
    controller.Start(
        [](TFeedList& feeds) {
            for (auto& item : feeds.Items)
                item->RefreshMark = true;
        },
        force);
    pump.PumpUntil([&ended] { return ended; }, 600000);
}

// The first failed feed's error, reported as the benchmark's.
void CheckFeeds(benchmark::State& state) {
    for (int i = 0; i < kFeedCount; ++i)
        if (!Setup().Feeds->Item(i)->ErrorText.empty()) {
            state.SkipWithError(Setup().Feeds->Item(i)->ErrorText.c_str());
            return;
        }
}

void BM_RefreshForced(benchmark::State& state) {
    if (!Usable(state))
        return;
    TSyncPump pump;
    const bool changing = state.range(0) != 0;
    for (auto _ : state) {
        Setup().NextRound(state, changing);
        const auto start = std::chrono::steady_clock::now();
        RunRefresh(pump, true);
        RefreshSeconds[changing] += SecondsSince(start);
        ++RefreshRuns[changing];
    }
    CheckFeeds(state);
}

// One curl process for all 200 addresses over https, each saved to its own file and fetched over
// a connection of its own. The served documents stay the same, or change before every round as
// for the refresh.
void BM_CurlToFiles(benchmark::State& state) {
    if (!Usable(state))
        return;
    const bool changing = state.range(0) != 0;
    const bool noSessions = state.range(1) != 0;
    const std::string command = "curl --silent --fail --config '" +
                                (noSessions ? Setup().CurlConfigNoSessions : Setup().CurlConfig) + "'";
    for (auto _ : state) {
        Setup().NextRound(state, changing);
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        CurlSeconds[changing][noSessions] += SecondsSince(start);
        ++CurlRuns[changing][noSessions];
    }
}

// Every feed cached, with its date and tag, and unchanged on the server; each round first moves
// the feeds' last check eleven minutes back (not timed), so that each is asked again.
void BM_RefreshUnchanged(benchmark::State& state) {
    if (!Usable(state))
        return;
    TSyncPump pump;
    RunRefresh(pump, true);
    CheckFeeds(state);
    int requests = 0;
    int notModified = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& item : Setup().Feeds->Items)
            item->RefreshDate = Now() - 11.0 / 1440;
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        RunRefresh(pump, false, &requests, &notModified);
        UnchangedSeconds += SecondsSince(start);
        ++UnchangedRuns;
    }
    CheckFeeds(state);
    UnchangedRequests += requests;
    UnchangedNotModified += notModified;
    state.counters["requests_per_feed"] =
        benchmark::Counter(static_cast<double>(requests) / (kFeedCount * state.iterations()));
    state.counters["not_modified_per_feed"] =
        benchmark::Counter(static_cast<double>(notModified) / (kFeedCount * state.iterations()));
}

// Analysis: the status round trips of one refresh alone (three per feed), each run on the
// user-interface thread and waited for.
class TStatusOnlyThread : public TThread {
public:
    int Shown = 0;

protected:
    void Execute() override {
        for (int i = 0; i < 3 * kFeedCount; ++i)
            Synchronize([this] { ++Shown; });
    }
};

void BM_StatusRoundTrips(benchmark::State& state) {
    TSyncPump pump;
    for (auto _ : state) {
        TStatusOnlyThread thread;
        bool ended = false;
        thread.OnTerminate = [&ended](TThread*) { ended = true; };
        thread.Resume();
        pump.PumpUntil([&ended] { return ended; }, 600000);
        benchmark::DoNotOptimize(thread.Shown);
    }
}

// Analysis: the cache writes of one refresh alone, every document changed: a new temporary
// file each, renamed over the old document.
void BM_CacheWrites(benchmark::State& state) {
    TempDir folder;
    const std::string body(kFeedSize, 'n');
    int round = 0;
    for (auto _ : state) {
        const std::string text = body + std::to_string(++round);
        for (int i = 0; i < kFeedCount; ++i)
            SaveStringToFile(text, folder.File("feed" + std::to_string(i) + ".xml"));
    }
}

BENCHMARK(BM_CacheWrites)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_StatusRoundTrips)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_RefreshForced)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_CurlToFiles)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const char* const kinds[2] = {"unchanged documents", "every document changed"};
    for (int changing = 0; changing < 2; ++changing) {
        if (RefreshRuns[changing] == 0 || CurlRuns[changing][0] == 0 || CurlRuns[changing][1] == 0)
            continue;
        const double refresh = RefreshSeconds[changing] / RefreshRuns[changing] * 1000;
        const double resumed = CurlSeconds[changing][0] / CurlRuns[changing][0] * 1000;
        const double full = CurlSeconds[changing][1] / CurlRuns[changing][1] * 1000;
        std::printf("%d feeds over https, forced, %s: refresh %.1f ms; curl with a connection per feed "
                    "%.1f ms (ratio %.2f), without session resumption %.1f ms (ratio %.2f)\n",
                    kFeedCount, kinds[changing], refresh, resumed, refresh / resumed, full, refresh / full);
    }
    if (UnchangedRuns > 0)
        std::printf("%d unchanged feeds past the ten minutes: %.1f ms, %.2f requests and %.2f answers 304 "
                    "per feed\n",
                    kFeedCount, UnchangedSeconds / UnchangedRuns * 1000,
                    static_cast<double>(UnchangedRequests) / (kFeedCount * UnchangedRuns),
                    static_cast<double>(UnchangedNotModified) / (kFeedCount * UnchangedRuns));
    return 0;
}
