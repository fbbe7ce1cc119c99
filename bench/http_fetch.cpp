// 200 sequential GETs of a 30 KB feed from a local nginx with THTTPClient, next to one curl
// process fetching the same 200 addresses (each on a new connection, bodies to /dev/null).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

// The test helpers: a private nginx, temporary folders.
#include "NginxFixture.h"
#include "TempDir.h"
#include "net/HTTPClient.h"

namespace {

constexpr int kFetchCount = 200;
constexpr size_t kFeedSize = 30 * 1024;

struct TSetup {
    NginxFixture Nginx;
    TempDir Work;
    std::string CurlConfig;
    std::string Feed;
    bool Ready = false;

    TSetup() {
        if (!Nginx.Start()) {
            std::fprintf(stderr, "nginx is not available: %s\n", Nginx.Error().c_str());
            return;
        }
        Feed = "<?xml version=\"1.0\"?><rss><channel><title>Feed</title>";
        while (Feed.size() < kFeedSize)
            Feed +=
                "<item><title>News</title><description>" + std::string(200, 'n') + "</description></item>";
        Feed += "</channel></rss>";
        std::ofstream config(Work.File("curl.config"));
        config << "header = \"Connection: close\"\n";
        for (int i = 0; i < kFetchCount; ++i) {
            const std::string name = "feed" + std::to_string(i) + ".xml";
            Nginx.WriteFile(name, Feed);
            config << "url = \"" << Nginx.Url("/" + name) << "\"\noutput = \"/dev/null\"\n";
        }
        CurlConfig = Work.File("curl.config");
        Ready = true;
    }
};

TSetup& Setup() {
    static TSetup setup;
    return setup;
}

double ClientSeconds = 0;
int ClientRuns = 0;
double CurlSeconds = 0;
int CurlRuns = 0;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_HTTPClientGets(benchmark::State& state) {
    TSetup& setup = Setup();
    if (!setup.Ready) {
        state.SkipWithError("nginx is not available");
        return;
    }
    THTTPClient client;
    client.Host = "127.0.0.1";
    client.Port = setup.Nginx.Port();
    client.Timeout = 5000;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFetchCount; ++i) {
            client.Path = "/feed" + std::to_string(i) + ".xml";
            client.Execute();
            if (client.Content.size() != setup.Feed.size()) {
                state.SkipWithError("short body");
                return;
            }
        }
        ClientSeconds += SecondsSince(start);
        ++ClientRuns;
    }
}

void BM_CurlGets(benchmark::State& state) {
    TSetup& setup = Setup();
    if (!setup.Ready) {
        state.SkipWithError("nginx is not available");
        return;
    }
    const std::string command = "curl --silent --fail --config '" + setup.CurlConfig + "'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        CurlSeconds += SecondsSince(start);
        ++CurlRuns;
    }
}

BENCHMARK(BM_HTTPClientGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_CurlGets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (ClientRuns > 0 && CurlRuns > 0) {
        const double client = ClientSeconds / ClientRuns * 1000;
        const double curl = CurlSeconds / CurlRuns * 1000;
        std::printf("%d GETs: THTTPClient %.1f ms, curl %.1f ms, ratio %.2f\n", kFetchCount, client, curl,
                    client / curl);
    }
    return 0;
}
