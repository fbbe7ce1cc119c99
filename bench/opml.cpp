// Importing a subscription list of 500 feeds in 25 folders, as a user moving from another reader
// does once: reading the file, and reading plus adding the entries to a catalogue that already
// holds 200 feeds (each new address is checked against them). Exporting the result back.
#include <benchmark/benchmark.h>

#include <string>

#include "TempDir.h"
#include "catalogue/Opml.h"

namespace {

constexpr int kFolders = 25;
constexpr int kFeedsPerFolder = 20;
constexpr int kExisting = 200;

// A reader's export: category outlines holding feeds with type, text, title, xmlUrl and htmlUrl,
// names with entities and non-ASCII letters.
std::string ListText() {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n<head>"
                       "<title>Subscriptions</title><dateCreated>Mon, 07 Dec 2026 10:00:00 GMT</dateCreated>"
                       "</head>\n<body>\n";
    for (int f = 0; f < kFolders; ++f) {
        text += "<outline text=\"Folder " + std::to_string(f) + "\" title=\"Folder " + std::to_string(f) +
                "\">\n";
        for (int i = 0; i < kFeedsPerFolder; ++i) {
            const std::string n = std::to_string(f * kFeedsPerFolder + i);
            text += "  <outline type=\"rss\" text=\"Bob&apos;s caf\xC3\xA9 " + n +
                    "\" title=\"Bob&apos;s caf\xC3\xA9 " + n +
                    " &amp; friends\" xmlUrl=\"http://www.example.com/feeds/" + n +
                    "/rss.xml?lang=en&amp;full=1\" htmlUrl=\"http://www.example.com/" + n + "/\"/>\n";
        }
        text += "</outline>\n";
    }
    return text + "</body>\n</opml>\n";
}

void FillExisting(TFeedList& list) {
    for (int i = 0; i < kExisting; ++i)
        list.Add("root", "Existing " + std::to_string(i),
                 "http://old.example.com/" + std::to_string(i) + "/rss");
}

void BM_ParseOpml(benchmark::State& state) {
    const std::string text = ListText();
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseOpml(text));
    state.SetItemsProcessed(state.iterations() * kFolders * kFeedsPerFolder);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ImportOpml(benchmark::State& state) {
    TempDir folder;
    const std::string path = folder.Write("list.opml", ListText());
    TFeedList list(folder.File("feeds.data"));
    for (auto _ : state) {
        state.PauseTiming();
        list.Items.clear();
        FillExisting(list);
        state.ResumeTiming();
        const TOpmlImport import = ImportOpml(list, "root", LoadOpmlFile(path));
        if (import.Feeds != kFolders * kFeedsPerFolder)
            state.SkipWithError("not every feed was imported");
    }
    state.SetItemsProcessed(state.iterations() * kFolders * kFeedsPerFolder);
}

void BM_ExportOpml(benchmark::State& state) {
    TempDir folder;
    TFeedList list(folder.File("feeds.data"));
    ImportOpml(list, "root", ParseOpml(ListText()));
    for (auto _ : state)
        ExportOpml(list, "root", "Subscriptions", folder.File("out.opml"));
    state.SetItemsProcessed(state.iterations() * kFolders * kFeedsPerFolder);
}

} // namespace

BENCHMARK(BM_ParseOpml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportOpml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportOpml)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
