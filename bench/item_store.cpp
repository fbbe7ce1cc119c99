// The item store at the size of a large reader: 1,000 feeds of 100 items. What the user feels is
// the start-up (opening the store and reading every feed's counts), marking a page read, and
// the store's share of each refreshed feed; the file's size is reported with the start-up. The
// window writes through a thread of its own: its longest store call while a refresh's documents
// are written is reported too.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

#include "TempDir.h"
#include "news/ItemStoreWriter.h"
#include "store/ItemStore.h"

namespace {

const int kFeeds = 1000;
const int kItemsPerFeed = 100;
const TDateTime kNow = 46000;

std::string FeedId(int feed) {
    // As long as the catalogue's GUIDs.
    std::string id = "{00000000-0000-0000-0000-" + std::to_string(100000000000 + feed) + "}";
    return id;
}

// Identities shaped like the links most feeds fall back to, or their guids.
std::vector<TStoreItem> Document(int feed, int count, int first = 0) {
    std::vector<TStoreItem> items;
    for (int i = first; i < first + count; ++i)
        items.push_back({"https://blog" + std::to_string(feed) + ".example.org/2024/06/a-post-with-a-title-" +
                             std::to_string(i) + "/",
                         kNow - i / 24.0});
    return items;
}

long long FileSize(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

// One store of kFeeds x kItemsPerFeed items for all the benchmarks, a third of them read.
class TLargeStore {
public:
    TLargeStore() {
        Store.Open(Path());
        for (int feed = 0; feed < kFeeds; ++feed) {
            Store.RecordDocument(FeedId(feed), Document(feed, kItemsPerFeed), kNow);
            if (feed % 3 == 0)
                Store.MarkFeedRead({FeedId(feed)});
        }
        Store.ExecForTesting("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    std::string Path() const { return Dir.File("items.db"); }

    TempDir Dir;
    TItemStore Store;
};

TLargeStore& Large() {
    static TLargeStore store;
    return store;
}

// Start-up: the store opened (its pages checked) and every feed's counts read.
void BM_OpenAndCount(benchmark::State& state) {
    const std::string path = Large().Path();
    for (auto _ : state) {
        TItemStore store;
        store.Open(path);
        auto counts = store.UnreadCounts();
        benchmark::DoNotOptimize(counts);
        if (counts.size() != kFeeds)
            state.SkipWithError("counts missing");
    }
    state.counters["feeds"] = kFeeds;
    state.counters["items"] = kFeeds * kItemsPerFeed;
    state.counters["MB"] = static_cast<double>(FileSize(path)) / 1e6;
}

// The counts alone, as the tree redraws them.
void BM_UnreadCounts(benchmark::State& state) {
    TItemStore& store = Large().Store;
    for (auto _ : state) {
        auto counts = store.UnreadCounts();
        benchmark::DoNotOptimize(counts);
    }
}

// Marking a page of 5,000 items read in one call; marking them unread again is not timed.
void BM_MarkRead5000(benchmark::State& state) {
    TempDir dir;
    TItemStore store;
    store.Open(dir.File("items.db"));
    const std::vector<TStoreItem> items = Document(1, 5000);
    store.RecordDocument("feed", items, kNow);
    std::vector<std::string> ids;
    for (const TStoreItem& item : items)
        ids.push_back(item.Id);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        store.MarkRead("feed", ids);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        store.MarkFeedUnread("feed");
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}

// One refreshed feed of the large store: 100 items, 10 of them new, 10 gone.
void BM_RecordDocument(benchmark::State& state) {
    TItemStore& store = Large().Store;
    int round = 0;
    for (auto _ : state) {
        const int feed = round % kFeeds;
        ++round;
        store.RecordDocument(FeedId(feed), Document(feed, kItemsPerFeed, 10 * round), kNow + round / 1000.0);
    }
    state.SetItemsProcessed(state.iterations() * kItemsPerFeed);
}

// One store call of the user-interface thread, timed, with how the thread left the processor
// meanwhile: a call that slept waited for something (a lock, the disk); a call that was preempted
// lost the processor to another thread, which on a loaded machine says nothing about the store.
struct TUiCalls {
    double Longest = 0;
    double LongestUnpreempted = 0;
    int Calls = 0;
    int Slept = 0;

    void Time(const std::function<void()>& call) {
        rusage before{};
        rusage after{};
        ::getrusage(RUSAGE_THREAD, &before);
        const auto start = std::chrono::steady_clock::now();
        call();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        ::getrusage(RUSAGE_THREAD, &after);
        ++Calls;
        Longest = std::max(Longest, ms);
        if (after.ru_nivcsw == before.ru_nivcsw)
            LongestUnpreempted = std::max(LongestUnpreempted, ms);
        if (after.ru_nvcsw != before.ru_nvcsw)
            ++Slept;
    }
};

// A refresh of 200 feeds of 40 items, each document new, written by the writer's thread while the
// user-interface thread does what the window does meanwhile: it queues each document, and until
// the writer has recorded them all it reads one page's unread items after another (UnreadIds, as
// before a render; the counts come in the writer's reports, read on its thread). "longest_ui_ms"
// is the longest store call made on the user-interface thread, queueing included;
// "longest_unpreempted_ms" the longest of those during which no other thread took the processor
// from it, and "slept_calls" how many of "ui_calls" waited for something.
void BM_UiThreadDuringRefresh(benchmark::State& state) {
    TItemStore& store = Large().Store;
    TUiCalls ui;
    int round = 0;
    for (auto _ : state) {
        ++round;
        TItemStoreWriter writer(store);
        std::atomic<uint64_t> done{0};
        writer.OnWritten = [&done](TStoreWriteReport& report) { done = report.Done; };
        for (int feed = 0; feed < 200; ++feed)
            ui.Time([&] {
                writer.RecordDocument(FeedId(feed), Document(feed, 40, 1000 * round + 40),
                                      kNow + round / 1000.0);
            });
        const uint64_t queued = writer.Queued();
        for (int page = 0; done < queued; ++page)
            ui.Time([&] { benchmark::DoNotOptimize(store.UnreadIds(FeedId(page % 200))); });
        writer.WaitIdle();
    }
    state.counters["longest_ui_ms"] = ui.Longest;
    state.counters["longest_unpreempted_ms"] = ui.LongestUnpreempted;
    state.counters["ui_calls"] = ui.Calls;
    state.counters["slept_calls"] = ui.Slept;
}

} // namespace

BENCHMARK(BM_OpenAndCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnreadCounts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarkRead5000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UiThreadDuringRefresh)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
