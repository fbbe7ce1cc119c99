// Saving and loading the whole catalogue file, which happens once per run each way; both must grow
// linearly with the number of entries.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <string>

#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "platform/Files.h"

namespace {

// Entries shaped like a real catalogue: one folder per 20 feeds, every tenth feed with an address
// long enough to be cut into continuation lines, dates set.
void Fill(TFeedList& list, int count) {
    std::string parent = "root";
    for (int i = 0; i < count; ++i) {
        if (i % 20 == 0) {
            parent = list.Add("root", "Folder " + std::to_string(i / 20), "")->FeedID;
            continue;
        }
        const std::string n = std::to_string(i);
        const std::string url = i % 10 == 1 ? "http://feeds.example.org/users/someone/a/long/path/" + n +
                                                  "/rss.xml?format=full&lang=en"
                                            : "http://www.example.com/feeds/" + n + "/rss.xml";
        TFeedListItem* feed = list.Add(parent, "Bob's feed " + n, url);
        feed->AggInclude = true;
        feed->RefreshDate = 46000.123456789 + i / 1000.0;
        feed->LastModifiedDate = 45999.5 + i / 3000.0;
    }
}

void BM_Save(benchmark::State& state) {
    TempDir folder;
    TFeedList list(folder.File("feeds.data"));
    Fill(list, static_cast<int>(state.range(0)));
    for (auto _ : state)
        list.Save();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Load(benchmark::State& state) {
    TempDir folder;
    {
        TFeedList list(folder.File("feeds.data"));
        Fill(list, static_cast<int>(state.range(0)));
    }
    TFeedList list(folder.File("feeds.data"));
    for (auto _ : state) {
        // Loading happens at start-up into an empty catalogue; releasing the last round's entries
        // is not part of it.
        state.PauseTiming();
        list.Items.clear();
        state.ResumeTiming();
        list.Load();
        benchmark::DoNotOptimize(list.Items.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_Save)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Both sizes run on a warm heap: without this glibc hands the 100,000-entry heap back to the
    // system after each round and the larger run mostly measures fresh page faults, which the
    // program pays once at start-up for either size.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
