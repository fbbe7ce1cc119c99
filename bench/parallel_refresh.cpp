// A forced refresh of 200 feeds (about 20 KB each) on 50 hosts, every answer 200 ms late, plain
// http: the program's refresh as "tovel-inspect refresh --force" in a child process, feeds several
// at once (the command's default) and one after another ("--parallel 1"), next to curl's own
// parallel mode over the same 200 addresses with as many transfers at once. The hosts are the
// loopback addresses 127.0.0.2 ... 127.0.0.51 of a delaying relay in front of a private nginx; feed
// i lives on host i % 50, so the catalogue order spreads the hosts. For each child process: wall
// time, user + system CPU time and peak resident memory, from wait4().
//
// BM_RefreshSequential alone takes some 40 s; leave it out with --benchmark_filter=-Sequential.
// The summary at the end prints its line only when it ran.
//
// BM_RefreshWithStore is the refresh as the window makes it, the item store written: 200 other
// documents of 40 distinct items each (about 20 KB), all of their items new at every run, refreshed
// by "tovel-inspect refresh --force" and by the same with "--no-store", one after the other in
// turn, each after the documents have changed. The summary gives the ratio of the two.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The test helpers: a private nginx, the delaying relay, temporary folders.
#include "DelayingProxy.h"
#include "NginxFixture.h"
#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "platform/DataFolder.h"

extern char** environ;

namespace {

constexpr int kFeedCount = 200;
constexpr int kHostCount = 50;
constexpr int kLatencyMs = 200;
constexpr size_t kFeedSize = 20000;
// curl gets as many transfers at once as the refresh's default.
constexpr int kCurlParallel = 16;

std::string FeedName(int i) {
    return "feed" + std::to_string(i) + ".xml";
}

// The served feeds, the relay and the folders both sides write into; set up once.
struct TSetup {
    NginxFixture Nginx;
    std::unique_ptr<DelayingProxy> Proxy;
    TempDir Data;
    TempDir CurlOut;
    TempDir Logs;
    std::string CurlConfig;
    std::string Error;
    bool Ready = false;

    TSetup() {
        if (!Nginx.Start()) {
            Error = "nginx is not available: " + Nginx.Error();
            return;
        }
        const std::vector<std::string> hosts = LoopbackHosts(kHostCount);
        Proxy = std::make_unique<DelayingProxy>(hosts, "127.0.0.1", Nginx.Port(), kLatencyMs);
        if (!Proxy->Ok()) {
            Error = Proxy->Error();
            return;
        }
        SetDataFolderForTesting(Data.Path());
        TFeedList feeds(Data.File("feeds.data"));
        CurlConfig = Logs.File("curl.config");
        std::ofstream config(CurlConfig);
        for (int i = 0; i < kFeedCount; ++i) {
            // Distinct documents: each its own title.
            std::string body =
                "<?xml version=\"1.0\"?><rss><channel><title>Feed " + std::to_string(i) + "</title>";
            while (body.size() < kFeedSize)
                body += "<item><title>News</title><description>" + std::string(200, 'n') +
                        "</description></item>";
            body += "</channel></rss>";
            Nginx.WriteFile(FeedName(i), body);
            const std::string url = Proxy->Url(hosts[i % kHostCount], "/" + FeedName(i));
            feeds.Add("root", "Feed " + std::to_string(i), url);
            config << "url = \"" << url << "\"\noutput = \"" << CurlOut.File(FeedName(i)) << "\"\n";
        }
        feeds.Save();
        config.close();
        Ready = config.good();
        if (!Ready)
            Error = "cannot write " + CurlConfig;
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

// What one child process cost.
struct TChildRun {
    std::string Error;
    double WallSeconds = 0;
    double CpuSeconds = 0;
    double PeakRssMB = 0;
};

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs argv (looked up in PATH) with stdout into outFile and stderr into errFile, and waits.
TChildRun RunChild(const std::vector<std::string>& arguments, const std::string& outFile,
                   const std::string& errFile) {
    TChildRun run;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.Error = "cannot start " + arguments[0];
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.PeakRssMB = static_cast<double>(usage.ru_maxrss) / 1024; // kilobytes on Linux
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::ifstream errors(errFile);
        std::string first;
        std::getline(errors, first);
        run.Error = arguments[0] + " failed (status " + std::to_string(status) + "): " + first;
    }
    return run;
}

// Totals over the rounds of one benchmark, for the summary.
struct TFigures {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    double PeakRssMB = 0;
    int Runs = 0;

    void Add(const TChildRun& run) {
        WallSeconds += run.WallSeconds;
        CpuSeconds += run.CpuSeconds;
        PeakRssMB = std::max(PeakRssMB, run.PeakRssMB);
        ++Runs;
    }
    double Wall() const { return WallSeconds / Runs; }
    double Cpu() const { return CpuSeconds / Runs; }
};

TFigures RefreshParallel;
TFigures RefreshSequential;
TFigures CurlParallel;
TFigures RefreshStore;
TFigures RefreshNoStore;

// The first problem in the command's lines: one per feed, each downloaded with a null "error", then
// the total.
std::string CheckRefreshOutput(const std::string& outFile) {
    std::ifstream output(outFile);
    std::string line;
    int feeds = 0;
    while (std::getline(output, line) && feeds < kFeedCount) {
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        if (!parsed.is_object() || !parsed.contains("error"))
            return "not a feed's line: " + line;
        if (!parsed["error"].is_null())
            return FeedName(feeds) + ": " + parsed["error"].dump();
        if (parsed["downloaded"] != true)
            return FeedName(feeds) + " was not downloaded";
        ++feeds;
    }
    return feeds == kFeedCount ? "" : "only " + std::to_string(feeds) + " feeds reported";
}

// Every document curl saved has arrived whole.
std::string CheckCurlOutput() {
    for (int i = 0; i < kFeedCount; ++i) {
        struct stat info {};
        if (stat(Setup().CurlOut.File(FeedName(i)).c_str(), &info) != 0 ||
            static_cast<size_t>(info.st_size) < kFeedSize)
            return "curl did not save " + FeedName(i);
    }
    return "";
}

void ReportRun(benchmark::State& state, const TFigures& figures) {
    state.counters["wall_s"] = figures.Wall();
    state.counters["cpu_s"] = figures.Cpu();
    state.counters["cpu_per_wall"] = figures.Cpu() / figures.Wall();
    state.counters["peak_rss_MB"] = figures.PeakRssMB;
    // The most connections the relay saw open at once, over all hosts and on one host.
    int perHost = 0;
    for (const std::string& host : LoopbackHosts(kHostCount))
        perHost = std::max(perHost, Setup().Proxy->PeakConnections(host));
    state.counters["peak_open"] = Setup().Proxy->PeakConnections();
    state.counters["peak_per_host"] = perHost;
}

// Rounds of "tovel-inspect refresh --force" with extra arguments; each checked for a document per feed.
void RunRefresh(benchmark::State& state, const std::vector<std::string>& extra, TFigures& figures) {
    if (!Usable(state))
        return;
    std::vector<std::string> arguments = {TOVEL_INSPECT_PATH, "refresh", "--data", Setup().Data.Path(),
                                          "--force"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const std::string outFile = Setup().Logs.File("refresh.out");
    Setup().Proxy->ResetCounts();
    for (auto _ : state) {
        const TChildRun run = RunChild(arguments, outFile, Setup().Logs.File("refresh.err"));
        std::string problem = run.Error.empty() ? CheckRefreshOutput(outFile) : run.Error;
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            return;
        }
        state.SetIterationTime(run.WallSeconds);
        figures.Add(run);
    }
    ReportRun(state, figures);
}

void BM_RefreshParallel(benchmark::State& state) {
    RunRefresh(state, {}, RefreshParallel);
}

void BM_RefreshSequential(benchmark::State& state) {
    RunRefresh(state, {"--parallel", "1"}, RefreshSequential);
}

void BM_CurlParallel(benchmark::State& state) {
    if (!Usable(state))
        return;
    const std::vector<std::string> arguments = {"curl",
                                                "--silent",
                                                "--fail",
                                                "--parallel",
                                                "--parallel-max",
                                                std::to_string(kCurlParallel),
                                                "-H",
                                                "Connection: close",
                                                "--config",
                                                Setup().CurlConfig};
    Setup().Proxy->ResetCounts();
    for (auto _ : state) {
        for (int i = 0; i < kFeedCount; ++i)
            std::remove(Setup().CurlOut.File(FeedName(i)).c_str());
        const TChildRun run =
            RunChild(arguments, Setup().Logs.File("curl.out"), Setup().Logs.File("curl.err"));
        std::string problem = run.Error.empty() ? CheckCurlOutput() : run.Error;
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            return;
        }
        state.SetIterationTime(run.WallSeconds);
        CurlParallel.Add(run);
    }
    ReportRun(state, CurlParallel);
}

// The changing documents' own catalogue, on the same hosts as the others.
struct TChangingSetup {
    TempDir Data;
    std::vector<std::string> Files;
    int Round = 0;

    TChangingSetup() {
        const std::vector<std::string> hosts = LoopbackHosts(kHostCount);
        SetDataFolderForTesting(Data.Path());
        TFeedList feeds(Data.File("feeds.data"));
        for (int i = 0; i < kFeedCount; ++i) {
            Files.push_back("changing" + std::to_string(i) + ".xml");
            feeds.Add("root", "Changing " + std::to_string(i),
                      Setup().Proxy->Url(hosts[i % kHostCount], "/" + Files[i]));
        }
        feeds.Save();
        SetDataFolderForTesting(Setup().Data.Path());
    }

    // Every document gets 40 items that no earlier round had.
    void Change() {
        ++Round;
        for (int i = 0; i < kFeedCount; ++i) {
            std::string body =
                "<?xml version=\"1.0\"?><rss><channel><title>Changing " + std::to_string(i) + "</title>";
            for (int k = 0; k < 40; ++k) {
                const std::string id =
                    std::to_string(i) + "-" + std::to_string(Round) + "-" + std::to_string(k);
                body += "<item><title>News " + id + "</title><guid>urn:news:" + id +
                        "</guid><link>http://example.org/" + id + "</link><description>" +
                        std::string(400, 'n') + "</description></item>";
            }
            body += "</channel></rss>";
            Setup().Nginx.WriteFile(Files[i], body);
        }
    }
};

TChangingSetup& Changing() {
    static TChangingSetup setup;
    return setup;
}

// One forced refresh of the changing documents after they changed, with or without the store.
std::string RunChanging(bool store, TFigures& figures) {
    std::vector<std::string> arguments = {TOVEL_INSPECT_PATH, "refresh", "--data", Changing().Data.Path(),
                                          "--force"};
    if (!store)
        arguments.push_back("--no-store");
    Changing().Change();
    const std::string outFile = Setup().Logs.File("changing.out");
    const TChildRun run = RunChild(arguments, outFile, Setup().Logs.File("changing.err"));
    const std::string problem = run.Error.empty() ? CheckRefreshOutput(outFile) : run.Error;
    if (problem.empty())
        figures.Add(run);
    return problem;
}

void BM_RefreshWithStore(benchmark::State& state) {
    if (!Usable(state))
        return;
    // Untimed: the store is made, so that no run below seeds it from the cache.
    TFigures warmUp;
    std::string problem = RunChanging(true, warmUp);
    for (auto _ : state) {
        // In turn, each first every other time, so that a slower spell of the machine falls on both.
        const bool storeFirst = RefreshStore.Runs % 2 == 0;
        for (const bool store : {storeFirst, !storeFirst})
            if (problem.empty())
                problem = RunChanging(store, store ? RefreshStore : RefreshNoStore);
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            return;
        }
        state.SetIterationTime(RefreshStore.WallSeconds / RefreshStore.Runs);
    }
    state.counters["store_wall_s"] = RefreshStore.Wall();
    state.counters["no_store_wall_s"] = RefreshNoStore.Wall();
    state.counters["store_cpu_s"] = RefreshStore.Cpu();
    state.counters["no_store_cpu_s"] = RefreshNoStore.Cpu();
    state.counters["ratio"] = RefreshStore.Wall() / RefreshNoStore.Wall();
}

BENCHMARK(BM_RefreshParallel)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_CurlParallel)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_RefreshSequential)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_RefreshWithStore)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("%d feeds on %d hosts, %d ms per answer, plain http, forced:\n", kFeedCount, kHostCount,
                kLatencyMs);
    if (RefreshParallel.Runs > 0 && CurlParallel.Runs > 0)
        std::printf(
            "  refresh (default parallel) %.2f s vs curl --parallel-max %d %.2f s: ratio %.2fx (goal <= "
            "1.2x)\n",
            RefreshParallel.Wall(), kCurlParallel, CurlParallel.Wall(),
            RefreshParallel.Wall() / CurlParallel.Wall());
    if (RefreshParallel.Runs > 0)
        std::printf("  refresh: CPU %.2f s for %.2f s wall (%.0f%%), peak RSS %.1f MB\n",
                    RefreshParallel.Cpu(), RefreshParallel.Wall(),
                    100 * RefreshParallel.Cpu() / RefreshParallel.Wall(), RefreshParallel.PeakRssMB);
    if (CurlParallel.Runs > 0)
        std::printf("  curl: CPU %.2f s for %.2f s wall (%.0f%%), peak RSS %.1f MB\n", CurlParallel.Cpu(),
                    CurlParallel.Wall(), 100 * CurlParallel.Cpu() / CurlParallel.Wall(),
                    CurlParallel.PeakRssMB);
    if (RefreshSequential.Runs > 0)
        std::printf("  refresh --parallel 1: %.1f s (expected >= %.0f s), CPU %.2f s, peak RSS %.1f MB\n",
                    RefreshSequential.Wall(), kFeedCount * kLatencyMs / 1000.0, RefreshSequential.Cpu(),
                    RefreshSequential.PeakRssMB);
    if (RefreshStore.Runs > 0 && RefreshNoStore.Runs > 0)
        std::printf(
            "  changing documents (40 new items each), store written %.2f s (CPU %.2f s) vs without the "
            "store %.2f s (CPU %.2f s): ratio %.2fx (goal <= 1.1x)\n",
            RefreshStore.Wall(), RefreshStore.Cpu(), RefreshNoStore.Wall(), RefreshNoStore.Cpu(),
            RefreshStore.Wall() / RefreshNoStore.Wall());
    return 0;
}
