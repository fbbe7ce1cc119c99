// The news view of a large folder: 100 cached feeds of 200 items each are loaded, dated, sorted
// and rendered (filter "All", pictures off), next to the bare parse of the same 100 documents.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SyntheticFeeds.h"
#include "TempDir.h"
#include "catalogue/FeedListCls.h"
#include "dates/NewsDates.h"
#include "news/NewsTypeCls.h"
#include "platform/DataFolder.h"
#include "platform/Files.h"
#include "cache/CacheFiles.h"
#include "xml/XMLNode.h"

#ifdef TOVEL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

using bench::FeedDocument;

constexpr int kFeedCount = 100;
constexpr int kItemsPerFeed = 200;

// The program folder with its templates, catalogue and 100 cache files, removed at exit.
struct TBenchFolder {
    TBenchFolder() : Path(Dir.Path()) {
        SetDataFolderForTesting(Path);
        std::filesystem::copy(TOVEL_TEMPLATE_DIR, Path + "template",
                              std::filesystem::copy_options::recursive);
        Feeds = std::make_unique<TFeedList>(Path + "feeds.data");
        TFeedListItem* folder = Feeds->Add("root", "Folder", "");
        folder->RefreshMark = true;
        for (int i = 0; i < kFeedCount; ++i) {
            TFeedListItem* feed = Feeds->Add(folder->FeedID, "Feed " + std::to_string(i),
                                             "http://127.0.0.1/" + std::to_string(i));
            feed->RefreshMark = true;
            feed->ShowAuthor = i % 2 == 0;
            const std::string path = CacheFileName(feed->FeedID);
            SaveStringToFile(FeedDocument(i, kItemsPerFeed), path);
            Files.push_back(path);
        }
    }
    ~TBenchFolder() {
        Feeds.reset();
        SetDataFolderForTesting("");
    }
    TempDir Dir;
    std::string Path;
    std::unique_ptr<TFeedList> Feeds;
    std::vector<std::string> Files;
};

TBenchFolder& Folder() {
    static TBenchFolder folder;
    return folder;
}

void BM_ParseOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TXMLNode document;
    for (auto _ : state) {
        for (const std::string& file : folder.Files)
            document.LoadFromFile(file);
        benchmark::DoNotOptimize(document.ChildCount());
    }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);

void BM_ViewLoadAndRender(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    for (auto _ : state) {
        news.LoadMarkedFeeds();
        news.RenderPage(kFilterCount - 1, FilterName(kFilterCount - 1), false);
    }
    if (news.ItemCount() != kFeedCount * kItemsPerFeed)
        state.SkipWithError("items missing");
    state.counters["items"] = news.ItemCount();
}
BENCHMARK(BM_ViewLoadAndRender)->Unit(benchmark::kMillisecond);

void BM_LoadOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    for (auto _ : state)
        news.LoadMarkedFeeds();
}
BENCHMARK(BM_LoadOnly)->Unit(benchmark::kMillisecond);

void BM_RenderOnly(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    TNewsType news(*folder.Feeds);
    news.LoadMarkedFeeds();
    for (auto _ : state)
        news.RenderPage(kFilterCount - 1, FilterName(kFilterCount - 1), false);
}
BENCHMARK(BM_RenderOnly)->Unit(benchmark::kMillisecond);

#ifdef TOVEL_HAVE_PUGIXML
// The same files through pugixml, for scale.
void BM_ParseOnlyPugixml(benchmark::State& state) {
    TBenchFolder& folder = Folder();
    for (auto _ : state) {
        for (const std::string& file : folder.Files) {
            pugi::xml_document document;
            benchmark::DoNotOptimize(document.load_file(file.c_str()));
        }
    }
}
BENCHMARK(BM_ParseOnlyPugixml)->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
