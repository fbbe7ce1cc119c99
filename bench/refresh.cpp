// A refresh of 200 feeds forced to download from a local nginx, end to end with the cache
// writes, next to curl fetching the same 200 addresses into files.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

// The test helpers: a private nginx, the user-interface loop, temporary folders.
#include "NginxFixture.h"
#include "SyncPump.h"
#include "TempDir.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "refresh/CacheFiles.h"
#include "refresh/RefreshController.h"

namespace {

constexpr int kFeedCount = 200;
constexpr size_t kFeedSize = 20000;

// The served feeds and the folders both sides write into; set up once for every benchmark.
struct TSetup {
    NginxFixture Nginx;
    TempDir Program;
    TempDir CurlOut;
    std::string CurlConfig;
    // The same, with one connection per address as the refresh makes them.
    std::string CurlConfigClosing;
    std::unique_ptr<TFeedList> Feeds;
    std::string Body;
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
        if (!Nginx.Start()) {
            std::fprintf(stderr, "nginx is not available: %s\n", Nginx.Error().c_str());
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
        std::ofstream config(CurlOut.File("curl.config"));
        for (int i = 0; i < kFeedCount; ++i) {
            const std::string name = "feed" + std::to_string(i) + ".xml";
            Nginx.WriteFile(name, body);
            Feeds->Add("root", "Feed " + std::to_string(i), Nginx.Url("/" + name))->RefreshMark = true;
            config << "url = \"" << Nginx.Url("/" + name) << "\"\noutput = \"" << CurlOut.File(name)
                   << "\"\n";
        }
        config.close();
        CurlConfig = CurlOut.File("curl.config");
        CurlConfigClosing = CurlOut.File("curl-closing.config");
        std::ofstream closing(CurlConfigClosing);
        closing << "header = \"Connection: close\"\n" << std::ifstream(CurlConfig).rdbuf();
        Ready = true;
    }
};

TSetup& Setup() {
    static TSetup setup;
    return setup;
}

// Index 0: the documents stay the same between rounds; 1: every document changes each round.
double RefreshSeconds[2] = {0, 0};
int RefreshRuns[2] = {0, 0};
// [documents changing][one connection per address], as for the refresh.
double CurlSeconds[2][2] = {{0, 0}, {0, 0}};
int CurlRuns[2][2] = {{0, 0}, {0, 0}};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RefreshExecute(benchmark::State& state) {
    TSetup& setup = Setup();
    if (!setup.Ready) {
        state.SkipWithError("nginx is not available");
        return;
    }
    TSyncPump pump;
    ForceRefresh = true;
    const bool changing = state.range(0) != 0;
    // As the window runs it: the outcomes land in the entries and the documents are renamed
    // into place on this (the user-interface) thread.
    TRefreshController controller(*setup.Feeds);
    controller.OnStatus = [](const std::string& text) { benchmark::DoNotOptimize(text.size()); };
    bool ended = false;
    controller.OnFinished = [&ended] { ended = true; };
    const auto markAll = [](TFeedList& feeds) {
        for (auto& item : feeds.Items)
            item->RefreshMark = true;
    };
    for (auto _ : state) {
        setup.NextRound(state, changing);
        const auto start = std::chrono::steady_clock::now();
        ended = false;
        controller.Start(markAll);
        pump.PumpUntil([&ended] { return ended; }, 600000);
        RefreshSeconds[changing] += SecondsSince(start);
        ++RefreshRuns[changing];
    }
    ForceRefresh = false;
    for (int i = 0; i < kFeedCount; ++i)
        if (!setup.Feeds->Item(i)->ErrorText.empty())
            state.SkipWithError(setup.Feeds->Item(i)->ErrorText.c_str());
}

// One curl process for all 200 addresses, each saved to its own file; with closing, one
// connection per address as the refresh makes them, else curl keeps its connection. The served
// documents stay the same, or change before every round as for the refresh.
void BM_CurlToFiles(benchmark::State& state) {
    TSetup& setup = Setup();
    if (!setup.Ready) {
        state.SkipWithError("nginx is not available");
        return;
    }
    const bool changing = state.range(0) != 0;
    const bool closing = state.range(1) != 0;
    const std::string command =
        "curl --silent --fail --config '" + (closing ? setup.CurlConfigClosing : setup.CurlConfig) + "'";
    for (auto _ : state) {
        setup.NextRound(state, changing);
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        CurlSeconds[changing][closing] += SecondsSince(start);
        ++CurlRuns[changing][closing];
    }
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
BENCHMARK(BM_RefreshExecute)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_CurlToFiles)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

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
        const double kept = CurlSeconds[changing][0] / CurlRuns[changing][0] * 1000;
        const double closing = CurlSeconds[changing][1] / CurlRuns[changing][1] * 1000;
        std::printf("%d feeds, %s: refresh %.1f ms; curl %.1f ms keeping its connection (ratio %.2f), "
                    "%.1f ms with a connection per feed (ratio %.2f)\n",
                    kFeedCount, kinds[changing], refresh, kept, refresh / kept, closing, refresh / closing);
    }
    return 0;
}
